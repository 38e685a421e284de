#pragma once
// Windows icons and cursors: one image of the directory read, chosen by IcoImageIndex or
// CurImageIndex, with its AND mask or fourth byte as the alpha channel; icons written with
// several images of chosen sizes and bit counts. Images stored as PNG are not recognised.
#include <vector>

#include "imaging/io/IOParamsVals.h"

struct TKVFormatDriver;
class TStream;
class TKVBitmap;
struct TKVProgressRec;

// Position restored.
bool IsICOStream(TStream& stream);
bool IsCURStream(TStream& stream);
// Images in an icon directory (1 for a bitmap file, 0 for anything else); position restored.
int GetICOImageCount(TStream& stream);

// Bad or short data, and an index outside the directory, set the abort flag.
void ReadICOStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool suppressAlpha, bool paramsOnly,
                   TKVProgressRec& progress);
void ReadCURStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool suppressAlpha, bool paramsOnly,
                   TKVProgressRec& progress);

// One image per size, each with the bit count at the same index (0: from the parameters).
void WriteICOStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, const std::vector<int>& bitCounts,
                    const std::vector<TKVIcoSize>& sizes, TKVProgressRec& progress);

// The registry's records of the two formats; cursors are read only.
extern const TKVFormatDriver KVIcoDriver;
extern const TKVFormatDriver KVCurDriver;
