#pragma once
// Colour models and pixel helpers shared by the processing routines, the bitmap model and the
// format writers: HSL, gray rectangles, bits of 1-bit rows, the two-colour test, packed DIBs and
// class-library bitmap copies.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/core/KVPixelTypes.h"
#include "imaging/core/KVProgress.h"

class TBitmap;
class TKVBitmap;
class TKVDibbitmap;

// color packed 0x00RRGGBB; h, s, l in 0..1.
void KVRGBToHSL(uint32_t color, double& h, double& s, double& l);
TKVRGB KVHSLToRGB(double h, double s, double l);

// kv24RGB only: the rectangle (x2, y2 exclusive) becomes weighted gray.
void KVConvertToGrayRect(TKVBitmap& bitmap, int x1, int y1, int x2, int y2, TObject* sender,
                         const TKVProgressEvent& progress);

// Bit n of a row is bit n mod 8 of byte n div 8, counted from the most significant bit.
inline int KVGetBit(const uint8_t* row, int64_t bit) { return row[bit >> 3] & (0x80 >> (bit & 7)); }
inline void KVSetBit(uint8_t* row, int64_t bit, bool value) {
    if (value) row[bit >> 3] |= uint8_t(0x80 >> (bit & 7));
    else row[bit >> 3] &= uint8_t(~(0x80 >> (bit & 7)));
}
// Copies count bits from bit sourceBit of source to bit destBit of dest, keeping the other bits
// of dest. Bits beyond sourceRowLen bytes of the source read as 0.
void KVCopyBits(uint8_t* dest, const uint8_t* source, int64_t destBit, int64_t sourceRowLen, int64_t count,
                int64_t sourceBit);

// Complements every byte of every row; a 1-bit picture swaps black and white.
void KVInvertBitmap(TKVBitmap& bitmap);

// A 1-bit copy of a picture of exactly two colours, bit 0 the darker (color1) and bit 1 the
// lighter (color2), colours packed 0x00RRGGBB; nullptr for one colour or more than two.
std::unique_ptr<TKVBitmap> KVConvertTo1BitIfTwoColors(TKVBitmap& bitmap, uint32_t& color1, uint32_t& color2);

// A packed DIB (40-byte header, colours, rows bottom-up) of columns x0..x1-1 and rows y0..y1-1;
// x1 = 0 means the width and y1 = 0 the height. Empty when the area holds no pixel.
std::vector<uint8_t> KVBitmapToDIBHandle(TKVBitmap& bitmap, int x0, int y0, int y1, int x1);
// Draws a packed DIB into dest, 1-bit for 1-bit DIBs and 24-bit otherwise; bits, when given,
// holds the rows in place of those after the colour table. Returns the DIB's bit count, 0 when
// the data is not a valid DIB.
int KVDIBToDibBitmap(const uint8_t* dib, int64_t size, TKVDibbitmap& dest, const uint8_t* bits = nullptr,
                     int64_t bitsSize = 0);

// A 1-bit bitmap expanded to 24 bits: set bits white, clear bits black.
void KVExpand1BitTBitmap(const TBitmap& source, TBitmap& dest, TObject* sender, const TKVProgressEvent& progress);
std::unique_ptr<TBitmap> KVCloneTBitmap(const TBitmap& source);
void KVCopyTBitmap(const TBitmap& source, TBitmap& dest);
