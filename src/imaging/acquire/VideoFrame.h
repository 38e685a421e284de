#pragma once
// Captured and transferred frames described by a bitmap information header: uncompressed
// device-independent bitmaps and the common YUV video layouts, turned into a bitmap.
#include <cstdint>
#include <span>

class TKVBitmap;

// frame holds the 40-byte little-endian information header, its colour table or masks and,
// unless bits is given, the pixel data. The bitmap becomes kv1Bit for uncompressed 1-bit frames
// and kv24RGB for every other; layouts it does not know leave it allocated but unfilled. Answers the bit count.
// Throws EShortData for a header cut short and EInvalidGraphic for a size beyond the limits;
// pixel data shorter than the frame fills only the rows it holds.
int KVDecodeVideoFrame(std::span<const uint8_t> frame, TKVBitmap& bitmap, std::span<const uint8_t> bits = {});

// One pixel of limited-range BT.601 YUV as blue, green and red.
void KVYUVToBGR(int y, int u, int v, uint8_t* bgr);
