#pragma once
// The TIFF driver's reader: one page (IFD) of a TIFF structure, its parameters and the number of
// pages. Compressions: none, CCITT modified Huffman, Group 3, Group 4, LZW, Deflate, PackBits and
// JPEG; strips or tiles, either planar configuration.
// The extended library's TTIFFGraphic reads these files too; this driver stays apart because it fills the
// image library's bitmap and parameter record and stops by the abort flag instead of raising.
#include <atomic>
#include <cstdint>
#include <string>

class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// Reads page params.TiffImageIndex into the bitmap. pageCount receives the number of pages
// whenever the header is valid. A thumbnail read decodes only pages of at most 400 x 400.
// With offsetsRelative every offset counts from the stream position, else from its start.
// An alpha sample goes to the bitmap's alpha channel unless alphaNotWanted. A page that cannot
// be decoded sets the abort flag; nothing is thrown.
void ReadTIFFStream(TKVBitmap* bitmap, TStream& stream, int& pageCount, bool thumbnail, bool alphaNotWanted,
                    bool offsetsRelative, bool paramsOnly, TKVProgressRec& progress, TIOParamsVals* params);
// The registry's reader: page params.TiffImageIndex, offsets from the stream position.
void ReadTIFF(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress);

// Number of IFDs from the stream position; 0 when it is no TIFF structure.
int GetTIFFStreamPageCount(TStream& stream);
// The first IFD (offsets from the stream's start) holds DNGVersion; the position is restored.
bool TIFFIsDNGStream(TStream& stream);

// Writes the bitmap (without one: only the document and EXIF tags) as one page of a
// little-endian TIFF structure that starts at the stream position: a new structure, or with
// insert the page goes into the structure there, before page params.TiffImageIndex (at the end
// when there is no such page). Offsets count from the structure's start. Returns the page count
// after the write. Pictures it cannot store set the abort flag.
int WriteTIFFStream(TStream& stream, bool insert, TKVBitmap* bitmap, TKVProgressRec& progress, TIOParamsVals& params);
// The registry's writer: a new structure.
void WriteTIFF(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
// One row as PackBits: runs of 4 or more bytes repeated, the rest as literals.
void KVPackBitsEncode(const uint8_t* buffer, int64_t length, TStream& stream, std::atomic<bool>& abort);
// Inserts the bitmap as page params.TiffImageIndex of a TIFF file, or makes a new file. The
// result is written to a temporary file that replaces the original only once complete, so a
// failure leaves the file as it was. Returns the page count, 0 after a failure.
int InsertTIFFFilePage(const std::string& fileName, TKVBitmap& bitmap, TKVProgressRec& progress, TIOParamsVals& params);
