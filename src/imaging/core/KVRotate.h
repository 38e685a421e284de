#pragma once
// Rotation by any angle (counter-clockwise for positive degrees, row 0 at the top) and mirrors.
// Quarter turns, half turns and mirrors move whole pixels of every format; the alpha channel
// turns with the picture.
#include <cstdint>

#include "imaging/core/KVProgress.h"

class TKVBitmap;
struct TKVProgressRec;

// background: packed 0x00RRGGBB for the uncovered corners. kv24RGB pictures are sheared,
// kv1Bit pictures rotated by their own method; other formats turn by quarter turns as they
// are and become kv24RGB for any other angle.
void KVRotateBitmap(TKVBitmap& bitmap, bool antiAlias, uint32_t background, double angle, TObject* sender = nullptr,
                    const TKVProgressEvent& progress = {});
// Quarter turns into dest, allocated here at the swapped size in the source's format.
void KVRotate90CW(TKVBitmap& source, TKVBitmap& dest);
void KVRotate90CCW(TKVBitmap& source, TKVBitmap& dest);
// The bitmap becomes kv1Bit, rotated; uncovered pixels white or black.
void KVRotate1Bit(TKVBitmap& bitmap, bool whiteBackground, double angle, const TKVProgressRec* progress = nullptr);
// direction 0 mirrors left to right, 1 top to bottom.
void KVFlipBitmap(TKVBitmap& bitmap, int direction);
