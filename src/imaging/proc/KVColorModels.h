#pragma once
// Colour models and pixel helpers shared by the processing routines and the format writers: gray
// rectangles, inversion, the two-colour test and class-library bitmap copies. The HSL, bit and
// packed-DIB helpers live in the core, which needs them itself.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/core/KVBits.h"
#include "imaging/core/KVHSL.h"
#include "imaging/core/KVPackedDib.h"
#include "imaging/core/KVPixelTypes.h"
#include "imaging/core/KVProgress.h"

class TBitmap;
class TKVBitmap;
class TKVDibbitmap;

// kv24RGB only: the rectangle (x2, y2 exclusive) becomes weighted gray.
void KVConvertToGrayRect(TKVBitmap& bitmap, int x1, int y1, int x2, int y2, TObject* sender,
                         const TKVProgressEvent& progress);

// Complements every byte of every row; a 1-bit picture swaps black and white.
void KVInvertBitmap(TKVBitmap& bitmap);

// A 1-bit copy of a picture of exactly two colours, bit 0 the darker (color1) and bit 1 the
// lighter (color2), colours packed 0x00RRGGBB; nullptr for one colour or more than two.
std::unique_ptr<TKVBitmap> KVConvertTo1BitIfTwoColors(TKVBitmap& bitmap, uint32_t& color1, uint32_t& color2);

// A 1-bit bitmap expanded to 24 bits: set bits white, clear bits black.
void KVExpand1BitTBitmap(const TBitmap& source, TBitmap& dest, TObject* sender, const TKVProgressEvent& progress);
std::unique_ptr<TBitmap> KVCloneTBitmap(const TBitmap& source);
void KVCopyTBitmap(const TBitmap& source, TBitmap& dest);
