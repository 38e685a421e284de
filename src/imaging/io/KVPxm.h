#pragma once
// The portable bitmap family (PBM, PGM, PPM; magic numbers P1 to P6, plain text and raw).
// The extended library's TPPMGraphic reads these files too; this driver stays apart because it fills the
// image library's bitmap and parameter record and stops by the abort flag instead of raising.
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// True when the first token is "P1" to "P6" followed by a positive width and height; comments
// are skipped; the position is restored.
bool IsPXMStream(TStream& stream);
// Bad or short data set the abort flag. Comments of the header go to PxmComments.
void ReadPXMStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress);
// By BitsPerSample and SamplesPerPixel: P4, P5 or P6 (16-bit samples for 48-bit pictures or
// BitsPerSample 16), each line of PxmComments as a comment.
void WritePXMStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
