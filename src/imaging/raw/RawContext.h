#pragma once
// The decoder context: everything one decode or one detection works on, living in the caller's
// frame. The file's bytes are read only through TRawInput, whose reads fail with EShortData
// instead of running past the end.
#include <algorithm>
#include <array>
#include <set>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ByteReader.h"

class TStream;
struct TKVProgressRec;

constexpr uint16_t rawLittleEndian = 0x4949;  // "II"
constexpr uint16_t rawBigEndian = 0x4D4D;     // "MM"

// A cursor over the file with the byte order of the value readers. It holds the whole file, or
// for detection a window of it that follows the reads, so that recognising a file reads only the
// parts its containers point at.
class TRawInput {
public:
    explicit TRawInput(std::span<const uint8_t> bytes) : window_(bytes), size_(int64_t(bytes.size())) {}
    // The stream is read from its start; its position is the caller's to restore.
    explicit TRawInput(TStream& stream);

    int64_t Size() const { return size_; }
    int64_t Tell() const { return position_; }
    void Seek(int64_t position) {
        if (position < 0 || position > size_) Short(position, 0);
        position_ = position;
    }
    void Skip(int64_t count) {
        if (count > size_) Short(position_, count);
        Seek(position_ + count);
    }
    bool Contains(int64_t position) const { return position >= 0 && position < size_; }
    int64_t Remaining() const { return size_ - position_; }

    uint8_t Byte() { return *Take(1); }
    uint16_t Get16() { return order == rawLittleEndian ? Get16LE() : Get16BE(); }
    uint32_t Get32() {
        const uint8_t* b = Take(4);
        return order == rawLittleEndian ? uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24)
                                        : uint32_t(uint32_t(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3]);
    }
    uint16_t Get16BE() {
        const uint8_t* b = Take(2);
        return uint16_t(b[0] << 8 | b[1]);
    }
    uint16_t Get16LE() {
        const uint8_t* b = Take(2);
        return uint16_t(b[0] | b[1] << 8);
    }
    // Values at a position of the file, the input left behind them.
    uint16_t Get16At(int64_t position) {
        Seek(position);
        return Get16();
    }
    uint32_t Get32At(int64_t position) {
        Seek(position);
        return Get32();
    }
    // The bytes stay valid until the next read.
    std::span<const uint8_t> Bytes(int64_t count) { return {Take(count), size_t(count)}; }
    std::span<const uint8_t> BytesAt(int64_t offset, int64_t count) { return {At(offset, count), size_t(count)}; }
    // Up to count bytes as a string ending at the first NUL; a string cut by the end of the file
    // keeps what is there.
    std::string Text(int64_t count);

    uint16_t order = rawLittleEndian;

private:
    const uint8_t* At(int64_t offset, int64_t count) {
        if (offset >= windowStart_ && count >= 0 && offset - windowStart_ <= int64_t(window_.size()) - count)
            return window_.data() + (offset - windowStart_);
        return Load(offset, count);
    }
    const uint8_t* Take(int64_t count) {
        const uint8_t* at = At(position_, count);
        position_ += count;
        return at;
    }
    // Moves the window of a streamed file over [offset, offset + count), or fails.
    const uint8_t* Load(int64_t offset, int64_t count);
    [[noreturn]] void Short(int64_t offset, int64_t count) const;

    std::span<const uint8_t> window_;
    int64_t windowStart_ = 0, size_ = 0, position_ = 0;
    TStream* stream_ = nullptr;
    std::vector<uint8_t> page_;
};

// A raster size as a file gives it, kept small enough that identification's arithmetic on it
// cannot overflow; the picture limits refuse the large ones afterwards.
inline int RawSize(int64_t value) { return int(std::clamp<int64_t>(value, 0, int64_t(1) << 24)); }

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
    explicit TKVRawContext(TStream& stream) : in(stream), head{} {}

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
