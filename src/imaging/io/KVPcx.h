#pragma once
// PCX pictures and DCX files (a table of page offsets followed by PCX pictures).
// The extended library's TPCXGraphic reads these files too; this driver stays apart because it fills the
// image library's bitmap and parameter record and stops by the abort flag instead of raising.
#include <cstdint>

class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// The picture occupies dataLength bytes from the stream's position. Bad or short data set the
// abort flag; a row whose run-length data end early keeps what was decoded.
void ReadPCXStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress,
                   int64_t dataLength);
// By BitsPerSample x SamplesPerPixel: 1, 4, 8 or 24 bits; any other depth sets the abort flag.
void WritePCXStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);

// The magic 0x3ADE68B1 and every page offset below the stream size; the position is restored.
bool IsDCXStream(TStream& stream);
// Offsets before the zero entry, at most 1024; the position is restored.
int GetDCXStreamPageCount(TStream& stream);
// Reads page DcxImageIndex, clamped to the pages present and stored back.
void ReadDCXStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress);
// Inserts the picture as page DcxImageIndex (after the last page when the index is past it) into
// the DCX the stream holds (an empty stream is a DCX without pages) and rewrites the stream.
void WriteDCXStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
