#pragma once
// Turns a picture upright by its EXIF orientation value.

class TKVBitmap;

// Orientations 2..8 as EXIF defines them (5 is the transpose, 7 the transverse); any other
// value leaves the bitmap as it is. Pixels keep their format.
void KVApplyOrientation(TKVBitmap& bitmap, int orientation);
