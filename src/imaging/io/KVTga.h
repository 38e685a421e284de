#pragma once
// Targa pictures: colour-mapped, true-colour and grey, plain or run-length coded, with the
// version 2 extension area and footer. Alpha travels as the bitmap's alpha channel.
// The extended library's TTargaGraphic reads these files too; this driver stays apart because it fills the
// image library's bitmap and parameter record and stops by the abort flag instead of raising.
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// Reads 18 bytes and restores the position.
bool IsTGAStream(TStream& stream);
// With noMask no alpha channel is made; alpha that is opaque everywhere leaves none. Bad or short
// data set the abort flag.
void ReadTGAStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool noMask, bool paramsOnly,
                   TKVProgressRec& progress);
// 1 bit, an 8-bit colour map (16 entries for BitsPerSample 4), 8-bit grey (TgaGrayLevel), 24 bits,
// or 32 bits when the bitmap has an alpha channel that is not opaque everywhere.
void WriteTGAStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
