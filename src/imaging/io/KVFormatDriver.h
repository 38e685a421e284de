#pragma once
// What a picture driver offers the component: its content test, a reader of the header alone, a
// reader of the whole picture, a writer and a page counter, each absent when the driver has none.
// Each driver defines its record in its own file; the registry lists the records and calls the
// drivers only through them.
#include <cstdint>
#include <vector>

#include "imaging/core/KVBitmap.h"

class TStream;
class TIOParamsVals;
struct TKVProgressRec;

struct TKVFormatDriver {
    // Keeps the stream position.
    using TTest = bool (*)(TStream& stream);
    using THeader = void (*)(TStream& stream, TIOParamsVals& params, TKVProgressRec& progress);
    using TRead = void (*)(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
    using TWrite = void (*)(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
    // Counted from the stream position, which is kept.
    using TPageCount = int (*)(TStream& stream);
    int FileType = 0;
    TTest IsFormat = nullptr;
    THeader ReadHeader = nullptr;
    TRead Read = nullptr;
    TWrite Write = nullptr;
    TPageCount PageCount = nullptr;
};

// Most drivers read the header alone or the whole picture by one function with a flag.
using TKVFlaggedRead = void (*)(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                                TKVProgressRec& progress);
template <TKVFlaggedRead Read> void KVReadHeaderBy(TStream& stream, TIOParamsVals& params, TKVProgressRec& progress) {
    TKVBitmap unused;
    Read(stream, unused, params, true, progress);
}
template <TKVFlaggedRead Read>
void KVReadPictureBy(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    Read(stream, bitmap, params, false, progress);
}
