#pragma once
// Packed DIBs (header, colours, rows bottom-up) as the clipboard, scanners and TIFF annotations
// exchange them.
#include <cstdint>
#include <vector>

class TKVBitmap;
class TKVDibbitmap;

// A packed DIB (40-byte header, colours, rows bottom-up) of columns x0..x1-1 and rows y0..y1-1;
// x1 = 0 means the width and y1 = 0 the height. Empty when the area holds no pixel or when a
// picture of another format cannot be copied to 24 bits.
std::vector<uint8_t> KVBitmapToDIBHandle(TKVBitmap& bitmap, int x0, int y0, int y1, int x1);
// Draws a packed DIB into dest, 1-bit for 1-bit DIBs and 24-bit otherwise; bits, when given,
// holds the rows in place of those after the colour table. Returns the DIB's bit count, 0 when
// the data is not a valid DIB or claims a picture larger than the picture limits allow.
int KVDIBToDibBitmap(const uint8_t* dib, int64_t size, TKVDibbitmap& dest, const uint8_t* bits = nullptr,
                     int64_t bitsSize = 0);
