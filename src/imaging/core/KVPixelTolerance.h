#pragma once
// The colour test of region growing.
#include <cstdlib>

#include "imaging/core/KVBitmap.h"

// (x, y) lies inside the bitmap and each of its red, green and blue values differs from the
// reference by at most tolerance.
inline bool KVPixelInTolerance(TKVBitmap& bitmap, int x, int y, const TKVRGB& reference, int tolerance) {
    if (x < 0 || y < 0 || x >= bitmap.GetWidth() || y >= bitmap.GetHeight()) return false;
    const TKVRGB p = bitmap.GetPixelRGB(x, y);
    return std::abs(p.r - reference.r) <= tolerance && std::abs(p.g - reference.g) <= tolerance &&
           std::abs(p.b - reference.b) <= tolerance;
}
