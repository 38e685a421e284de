#pragma once
// Windows and OS/2 bitmaps and headerless device-independent bitmaps (BMP, DIB, RLE): 1, 4, 8,
// 16, 24 and 32 bits, run-length coded 4- and 8-bit data and bit fields.
#include <cstdint>
#include <vector>

struct TKVFormatDriver;
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// Reads from the stream's position (the file header, or the information header when noFileHeader
// is set). dataLength bounds the data when above 0. The fourth byte of 32-bit pixels becomes the
// bitmap's alpha channel unless suppressAlpha. Bad or short data set the abort flag.
void ReadBMPStream(TStream& stream, TKVBitmap& bitmap, int64_t dataLength, bool suppressAlpha, bool noFileHeader,
                   bool paramsOnly, TKVProgressRec& progress, TIOParamsVals& params);

// Writes with BitsPerSample, SamplesPerPixel, BmpVersion, BmpCompression and the resolution;
// ColorMap receives the palette written.
void WriteBMPStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);

// One row of indexes (one per byte) run-length coded, ending with the end-of-line pair.
std::vector<uint8_t> EncodeRLE8Row(const uint8_t* indexes, int width);
std::vector<uint8_t> EncodeRLE4Row(const uint8_t* indexes, int width);

// The registry's record of the format.
extern const TKVFormatDriver KVBmpDriver;
