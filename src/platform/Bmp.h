#pragma once
// The class library's BMP file reading and writing.
#include "Graphics.h"

// Reads a BMP file from the stream's position: Windows (40 to 124 byte) and OS/2 (12 and 64
// byte) headers, 1/4/8/16/24/32 bits, RLE4/RLE8 and bit fields, bottom-up and top-down rows.
// Bad or truncated data raise EInvalidGraphic and leave the bitmap unchanged.
void ReadBmp(TStream& stream, TBitmap& bitmap);
// Writes a bottom-up BMP file with a 40-byte header (bit fields for pf16bit).
void WriteBmp(TStream& stream, const TBitmap& bitmap);
