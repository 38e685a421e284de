#pragma once
// JPEG 2000: JP2 files and bare code streams, decoded and encoded by OpenJPEG.
struct TKVFormatDriver;
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// The 12-byte JP2 signature box; the position is restored.
bool IsJP2Stream(TStream& stream);
// A code stream starting with the markers FF4F FF51; the position is restored.
bool IsJ2KStream(TStream& stream);
// Either kind. Grey, RGB and YCbCr pictures; deeper samples are cut to their top 8 bits, shallower
// ones scaled up to 8. Anything else sets the abort flag.
void ReadJP2Stream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress);
// A JP2 file, or a bare code stream when codeStream is set. J2KColorSpace 0 writes one grey
// component, 1 and 2 RGB; BitsPerSample is the precision (1 to 16); J2KRate below 1 and above 0
// is the fraction of the raw size to keep, any other rate lossless; J2KProgressionOrder 0 LRCP,
// 1 RLCP.
void WriteJP2Stream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool codeStream, TKVProgressRec& progress);

// The registry's records of the two kinds.
extern const TKVFormatDriver KVJp2Driver;
extern const TKVFormatDriver KVJ2kDriver;
