#pragma once
// The decoder context: everything one decode or one detection works on, living in the caller's
// frame. The file's bytes are held in memory and read only through TRawInput, whose reads fail
// with EShortData instead of running past the end.
#include <array>
#include <set>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ByteReader.h"

struct TKVProgressRec;

constexpr uint16_t rawLittleEndian = 0x4949;  // "II"
constexpr uint16_t rawBigEndian = 0x4D4D;     // "MM"

// A cursor over the file with the byte order of the value readers.
class TRawInput {
public:
    explicit TRawInput(std::span<const uint8_t> bytes) : reader_(bytes) {}

    int64_t Size() const { return reader_.Size(); }
    int64_t Tell() const { return reader_.Position(); }
    void Seek(int64_t position) { reader_.Seek(position); }
    void Skip(int64_t count) { reader_.Skip(count); }
    bool Contains(int64_t position) const { return position >= 0 && position < reader_.Size(); }
    int64_t Remaining() const { return reader_.Remaining(); }

    uint8_t Byte() { return reader_.U8(); }
    uint16_t Get16() { return order == rawLittleEndian ? reader_.U16LE() : reader_.U16BE(); }
    uint32_t Get32() { return order == rawLittleEndian ? reader_.U32LE() : reader_.U32BE(); }
    uint16_t Get16BE() { return reader_.U16BE(); }
    uint16_t Get16LE() { return reader_.U16LE(); }
    std::span<const uint8_t> Bytes(int64_t count) { return reader_.Bytes(count); }
    std::span<const uint8_t> BytesAt(int64_t offset, int64_t count) const { return reader_.BytesAt(offset, count); }
    // Up to count bytes as a string ending at the first NUL; a string cut by the end of the file
    // keeps what is there.
    std::string Text(int64_t count);

    uint16_t order = rawLittleEndian;

private:
    TByteReader reader_;
};

struct TKVRawContext;
using TRawLoader = void (*)(TKVRawContext&);

struct THuffNode {
    int16_t branch[2] = {-1, -1};  // node indexes, -1 for none
    int32_t leaf = 0;
    bool IsLeaf() const { return branch[0] < 0; }
};

constexpr int rawNodeCount = 2048;
using TRawPixel = std::array<uint16_t, 4>;

struct TKVRawContext {
    explicit TKVRawContext(std::span<const uint8_t> bytes) : in(bytes), head{} {}

    TRawInput in;
    std::array<uint8_t, 32> head;  // the first bytes of the file, zero beyond its end
    std::vector<TRawPixel> image;

    std::string make, model, modelExtra;
    int64_t dataOffset = 0, curveOffset = 0;
    int curveLength = 0;
    int compression = 0, photometric = 0;
    int rawHeight = 0, rawWidth = 0, topMargin = 0, leftMargin = 0, height = 0, width = 0;
    int colors = 3, blackLevel = 0, whiteLevel = 0x4000;
    int imageHeight = 0, imageWidth = 0, halfSize = 0;
    bool isCanon = false, cmySensor = false, isFoveon = false, useMatrix = false;
    int border = 0, yRepeat = 1;
    bool ffStuffing = false;
    bool rotated45 = false;
    uint32_t filterPattern = 0;
    std::array<std::array<int16_t, 8>, 8> grayPatch{};
    TRawLoader loader = nullptr;

    float gamma = 0.6f, brightness = 1.0f, redScale = 1.0f, blueScale = 1.0f;
    bool fourColorRgb = false, documentMode = false, autoWhiteBalance = false, cameraWhiteBalance = false,
         useSecondFrame = false;
    float cameraRed = 0, cameraBlue = 0;
    std::array<float, 4> multipliers{1, 1, 1, 1};
    std::array<std::array<float, 4>, 3> colorMatrix{};
    std::vector<int> histogram = std::vector<int>(8192);

    // Bit reader and Huffman trees.
    uint32_t bitBuffer = 0;
    int bitCount = 0;
    int paddedBytes = 0;
    int leafIndex = 0;
    std::array<THuffNode, rawNodeCount> nodes;
    int freeNode = 0, secondTree = 0;

    // Container walks: directories and heaps already walked, and what the walks may still read.
    std::set<int64_t> walked;
    int walkBudget = 1 << 16;

    const TKVProgressRec* progress = nullptr;

    int FC(int row, int col) const {
        return int(filterPattern >> ((((row << 1) & 14) + (col & 1)) << 1) & 3);
    }
    // The image entry of a photosite, in full-raster coordinates of the visible area.
    TRawPixel& At(int row, int col) {
        return image[size_t(row >> halfSize) * size_t(imageWidth) + size_t(col >> halfSize)];
    }
    void Store(int row, int col, int value) { At(row, col)[size_t(FC(row, col))] = uint16_t(value); }
    bool Inside(int row, int col) const { return row >= 0 && row < height && col >= 0 && col < width; }
    // Reports row progress of a loader: 0 to 50.
    void LoaderProgress(int row, int rows) const;
};
