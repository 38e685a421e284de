#pragma once
// Gaussian blur in 16.16 fixed point, a soft drop shadow from the blurred alpha channel, and
// rounded corners cut into the alpha channel.
#include <cstdint>

#include "imaging/core/KVProgress.h"

class TKVBitmap;

struct TKVGaussianKernel {
    static constexpr int MaxRadius = 100;
    int Radius = 1;                         // effective radius, 1..100
    double Raw[2 * MaxRadius + 1] = {};     // g[-100..100] at index i + 100
    int32_t Weights[2 * MaxRadius + 1] = {};  // 16.16, summing to about 65536

    int32_t Weight(int i) const { return Weights[i + MaxRadius]; }
};

// radius is the standard deviation in pixels.
void KVGaussianKernel(TKVGaussianKernel& kernel, double radius);
// One line of count pixels; the ends are repeated beyond the line.
void KVBlurRow24(const TKVGaussianKernel& kernel, const uint8_t* source, uint8_t* dest, int count);
void KVBlurRow8(const TKVGaussianKernel& kernel, const uint8_t* source, uint8_t* dest, int count);
// kv8Gray and kv24RGB in place; other formats and a radius <= 0 are left alone.
void KVGaussianBlur(TKVBitmap& bitmap, double radius, TObject* sender, const TKVProgressEvent& progress);
// shadowColor is packed 0x00RRGGBB. With enlarge the canvas grows so that the shadow fits.
void KVSoftShadow(TKVBitmap& bitmap, int offsetX, int offsetY, TObject* sender, const TKVProgressEvent& progress,
                  uint32_t shadowColor, bool enlarge, double radius);
// The pixels outside rounded corners of radii rx, ry become fully transparent.
void KVRoundCorners(TKVBitmap& bitmap, int rx, int ry);
