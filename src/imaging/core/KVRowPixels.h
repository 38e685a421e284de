#pragma once
// One row of any pixel format read as blue, green, red pixels.
#include <cstdint>

#include "imaging/core/KVPixelTypes.h"

// palette is used for kv8Paletted (256 entries). kv16Gray and kvRGB48 give their high bytes,
// kv32f Trunc(value x 255), kvCMYK its RGB conversion.
void KVRowToRGB(TKVPixelFormat format, const uint8_t* row, const TKVRGB* palette, int width, TKVRGB* out);

// Weighted gray with the library's gray weights.
int KVWeightedGray(const TKVRGB& pixel);
