#pragma once
// Hue, saturation and lightness, as the blend operations and the processing routines use them.
#include <cstdint>

#include "imaging/core/KVPixelTypes.h"

// color packed 0x00RRGGBB; h, s, l in 0..1.
void KVRGBToHSL(uint32_t color, double& h, double& s, double& l);
TKVRGB KVHSLToRGB(double h, double s, double l);
