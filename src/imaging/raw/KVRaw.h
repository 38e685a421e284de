#pragma once
// The camera raw decoder: a raw file of a digital camera becomes a 24-bit or 48-bit picture.
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;
struct TKVFormatDriver;

// Reads the raw file from position 0 into the bitmap (kv24RGB, or kvRGB48 when the record's
// native-pixel-format flag is set), or with paramsOnly only the record's size, camera name and
// resolution. Failure sets the progress record's abort flag; nothing is raised.
void KVReadRawStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                     TKVProgressRec& progress);

// True when the stream is a raw file the decoder reads; the position is kept.
bool KVIsRawStream(TStream& stream);

// The component's records: the first is tested before the other drivers and takes raw files whose
// head names the camera (no TIFF header); the second is tested after all of them and takes the
// rest, those known by the file size alone among them, since any file of that size would match.
extern const TKVFormatDriver KVRawDriver;
extern const TKVFormatDriver KVRawAnyDriver;
