#pragma once
// Test-only writers of small synthetic camera raw files: each container and coding the decoder
// reads, written from a known picture sampled through the file's filter pattern.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

// The known picture: smooth colour ramps, one value per colour in 0..1.
std::array<double, 3> KnownColour(int row, int col, int height, int width);

// Filter colour of a photosite as the decoder computes it.
int FilterColour(uint32_t pattern, int row, int col);

// A mosaic of height x width samples: sample(row, col) = round(scale x colour FC(row, col) of the
// known picture) + black.
std::vector<int> KnownMosaic(uint32_t pattern, int height, int width, int scale, int black = 0);

// Raw samples in raster order.
struct TRaster {
    int height = 0, width = 0;
    std::vector<int> samples;
    int At(int row, int col) const { return samples[size_t(row) * size_t(width) + size_t(col)]; }
};

// TIFF-based: a Leaf back (tag 324, 16-bit big-endian samples).
TBytes WriteLeafTiff(const TRaster& raster);
// TIFF-based: an Olympus "E-1" (16-bit little-endian samples, stored shifted left by 2).
TBytes WriteOlympusTiff(const TRaster& raster);
// TIFF-based Canon with a lossless JPEG (SOF3) of two interleaved components per row.
TBytes WriteCanonLosslessJpeg(const TRaster& raster);
// The lossless JPEG stream alone.
TBytes EncodeLosslessJpeg(const TRaster& raster);
// CIFF heap of a Canon camera: model name and, when coded, the raster's size, table 0 and the
// Huffman-coded data at 540.
TBytes WriteCanonCiffCompressed(const std::string& model, const TRaster& raster);
// CIFF heap of a "PowerShot A5": 10-bit samples packed in groups of ten bytes.
TBytes WriteCanonA5(const TRaster& raster);
// Headerless 8-bit data of the exact size of a "PC-CAM 600" (768 x 1024 after 1024 bytes).
TBytes WritePcCam600(const TRaster& raster);
// Headerless 12-bit bit stream of the exact size of an "Optio S" (rows of 3136 bytes).
TBytes WriteOptioS(const TRaster& raster);
// Three-layer file: three planes of samples (0..511 each step) Huffman-coded per row.
TBytes WriteFoveon(const std::string& model, int height, int width, const std::vector<std::array<int, 3>>& pixels);
// Rollei text header only.
TBytes WriteRolleiHeader(int width, int height);

// MSB-first bit writer with optional 0xFF stuffing.
class TBitWriter {
public:
    explicit TBitWriter(bool stuffing) : stuffing_(stuffing) {}
    void Put(uint32_t bits, int count);
    // Pads the last byte with zero bits.
    TBytes Finish();

private:
    TBytes bytes_;
    uint64_t held_ = 0;
    int count_ = 0;
    bool stuffing_;
};

// Canonical Huffman codes of a table of 16 counts and its symbols: code and length per symbol.
struct TCode {
    uint32_t code = 0;
    int length = 0;
};
std::array<TCode, 256> CanonicalCodes(const uint8_t* table);
