#pragma once
// The component's dispatch table: the reader and writer of each built-in format by type number.
// A built-in type without a reader or writer here cannot be loaded or saved in this build.
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

struct TKVFormatDriver {
    using TRead = void (*)(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                           TKVProgressRec& progress);
    using TWrite = void (*)(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
    int FileType = 0;
    TRead Read = nullptr;
    TWrite Write = nullptr;
};

// nullptr for a type without a driver.
const TKVFormatDriver* FindFormatDriver(int fileType);
// True when pictures of the type can be loaded: by a driver, or by the read hook of a format
// added to the registry.
bool CanLoadFormat(int fileType);
