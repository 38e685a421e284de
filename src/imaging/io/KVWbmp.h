#pragma once
// The wireless bitmap (WBMP type 0): 1 bit per pixel, a set bit white, sizes as multi-byte
// integers.
struct TKVFormatDriver;
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// Bad or short data set the abort flag.
void ReadWBMPStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress);
// Pictures that are not 1-bit are written from a black-and-white copy.
void WriteWBMPStream(TStream& stream, TKVBitmap& bitmap, TKVProgressRec& progress);

// The registry's record of the format, which has no content test.
extern const TKVFormatDriver KVWbmpDriver;
