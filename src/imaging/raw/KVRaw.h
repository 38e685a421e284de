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

// The component's record, tested after every other driver: files known by the size alone would
// otherwise shadow any picture of that size.
extern const TKVFormatDriver KVRawDriver;
