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
// An Olympus camera of the model, its tiles' size and its data (from 256).
TBytes WriteOlympusTiff(const std::string& model, int height, int width, const TBytes& data);
// TIFF-based Canon with a lossless JPEG (SOF3) of two interleaved components per row.
TBytes WriteCanonLosslessJpeg(const TRaster& raster);
// The lossless JPEG stream alone.
TBytes EncodeLosslessJpeg(const TRaster& raster);
// A lossless JPEG stream of height rows of width samples holding the given differences (of up to
// 16 bits), whatever they add up to.
TBytes LosslessJpeg(int height, int width, const std::vector<int>& differences);
// One record of a CIFF heap, and a heap of records after `body` (offsets from the heap's start).
struct TCiffRecord {
    uint16_t type;
    TBytes data;
};
TBytes CiffHeap(const TBytes& body, const std::vector<TCiffRecord>& records, bool little);
// CIFF heap of a Canon camera: model name and, when coded, the raster's size, table 0 and the
// Huffman-coded data at 540, followed by `padding` zero bytes; then the `extra` records.
TBytes WriteCanonCiffCompressed(const std::string& model, const TRaster& raster, bool bigEndian = false,
                                size_t padding = 0, const std::vector<TCiffRecord>& extra = {});
// CIFF heap naming a Canon model, `body` from the heap's start (the data position).
TBytes WriteCanonCiff(const std::string& model, const TBytes& body);
// CIFF heap of a "PowerShot A5": 10-bit samples packed in groups of ten bytes.
TBytes WriteCanonA5(const TRaster& raster);
// One row of it (count a multiple of 8).
TBytes PackA5Row(const int* samples, int count);
// Headerless 8-bit data of the exact size of a "PC-CAM 600" (768 x 1024 after 1024 bytes).
TBytes WritePcCam600(const TRaster& raster);
// Headerless 12-bit bit stream of the exact size of an "Optio S" (rows of 3136 bytes).
TBytes WriteOptioS(const TRaster& raster);
// Three-layer file: three planes of samples (0..511 each step) Huffman-coded per row.
TBytes WriteFoveon(const std::string& model, int height, int width, const std::vector<std::array<int, 3>>& pixels);
// The same naming a raster's size, without data.
TBytes WriteFoveonHeader(const std::string& model, int height, int width);
// Rollei text header only.
TBytes WriteRolleiHeader(int width, int height);

// TIFF-based Kodak camera: the model, and a sub-directory with the raster's size, compression,
// photometric interpretation and the data, which are placed at `dataOffset` (after the
// directories when 0).
struct TKodakFile {
    std::string model;
    int height = 0, width = 0, compression = 0, photometric = 0;
    uint32_t dataOffset = 0;
    TBytes data;
};
TBytes WriteKodakTiff(const TKodakFile& file);
// The same for another maker (make names at most 39 characters, models too).
TBytes WriteSubIfdTiff(const std::string& make, const TKodakFile& file, bool little = true);
// Compression 65000 of a filter-array raster (12-bit samples). With `storeOnEvenRows`, a block of
// an even row whose stored form marks itself as stored (a length nibble above 12 among its
// first bytes) is written stored; `storedBlocks` counts them.
TBytes EncodeKodak65000Cfa(const TRaster& raster, bool storeOnEvenRows, int* storedBlocks = nullptr);
// Compression 65000 of a full-colour picture given as luma and the two colour differences per
// pixel (width and height even): 2 x 2 cells of four lumas and one pair of differences.
struct TKodakColour {
    int height = 0, width = 0;
    std::vector<int> luma;        // per pixel
    std::vector<int> cb, cr;      // per 2 x 2 cell, row by row
};
TBytes EncodeKodak65000Colour(const TKodakColour& picture);
// The DC40/DC50 predictive coder, written from a picture of samples (0..4095; the cameras' size is
// 512 x 768, the height a multiple of 4) on the pattern 0x61616161 by closed-loop coding: each
// choice of the coder is the one whose decoded result lies closest to the picture. `coarse`
// selects the DC40's absolute values.
TBytes EncodeKodakDc40(const std::vector<int>& samples, int height, int width, bool coarse);

// "FUJIFILM" head, a TIFF directory naming the model, and the data from `dataOffset`.
TBytes WriteFujiFile(const std::string& model, uint32_t dataOffset, const TBytes& data);
// A TIFF naming the "DSC-F828" with its scrambled data: the raster (rows of 3360 samples) at
// its fixed positions, scrambled by the key stream from `key`, whose successor `nextKey` lies in
// the scrambled key block.
TBytes WriteSonyF828(const TRaster& raster, uint32_t key, uint32_t nextKey);
// The F828's key stream applied to big-endian 32-bit words (scrambling and unscrambling are one).
class TF828Stream {
public:
    explicit TF828Stream(uint32_t key);
    void Apply(uint8_t* data, size_t words);

private:
    uint32_t pad_[128] = {};
    size_t index_ = 127;
};

// The compressed Nikon data as its loader reads them from the curve position: four vertical
// predictors, the curve, then the differences (of up to 12 bits, or of 16).
TBytes WriteNikonCompressed(const std::array<int, 4>& vpred, const std::vector<uint16_t>& curve,
                            const std::vector<int>& differences);
// A JPEG of a smooth picture, and the same with the bytes of each pair exchanged as the DC120
// has it.
TBytes WriteJpeg(int width, int height);
TBytes WriteDc120Jpeg(int width, int height);

// The raster of a loader case (RawLoaderCases.h), and its samples coded as that case's loader
// reads them, from the start of its input.
struct TLoaderCase;
TRaster LoaderRaster(const TLoaderCase& c);
TBytes WriteLoaderInput(const TLoaderCase& c);
// A Minolta file: the blocks of the picture's size, the TIFF structure naming the model and the
// white balance, then the data (big-endian).
TBytes WriteMinoltaFile(const std::string& model, int height, int width, const TBytes& data);
// The head of a Phase One file naming its raster's size, without data.
TBytes WritePhaseOneHeader(int rawHeight, int rawWidth);
// Whole camera files whose containers lead identification to a loader, in the loader case's
// geometry where the camera's size is not fixed, their data cut short where it is.
struct TKVRawContext;
struct TCameraFile {
    std::string name;
    void (*loader)(TKVRawContext&);
    TBytes bytes;
};
std::vector<TCameraFile> CameraFiles();

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

// Pieces the writers share: values at a position (the bytes grow to hold them), a NUL-terminated
// text, a TIFF head and directory, the bit length of a difference and a JPEG-style difference
// (the code of its length, then its bits, negative ones less one).
void Put16(TBytes& b, size_t at, uint16_t v, bool little);
void Put32(TBytes& b, size_t at, uint32_t v, bool little);
void PutText(TBytes& b, size_t at, const std::string& text);
struct TTiffEntry {
    uint16_t tag, type;
    uint32_t count, value;
};
// One directory at `at`; returns the position after it.
size_t PutIfd(TBytes& b, size_t at, const std::vector<TTiffEntry>& entries, bool little, uint32_t next = 0);
TBytes TiffHead(bool little);
int BitLength(int v);
void PutDifference(TBitWriter& bits, const std::array<TCode, 256>& codes, int diff);
// The CIFF coding of a raster's rows in bands of eight, with the maker's tables 0.
TBytes EncodeCanonBlocks(const TRaster& raster);
