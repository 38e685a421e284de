#pragma once
// How a rendered source pixel is combined with the destination pixel.
#include <cstdint>

#include "imaging/core/KVPixelTypes.h"

enum TKVBlendOperation : uint8_t {
    kvbCopy, kvbAdd, kvbDifference, kvbDivide, kvbMultiply, kvbOr, kvbAnd, kvbXor, kvbMax, kvbMin,
    kvbAverage, kvbScreen, kvbNegation, kvbExclusion, kvbOverlay, kvbHardLight, kvbSoftLight,
    kvbSoftLightScreen, kvbColorDodge, kvbColorBurn, kvbInverseDodge, kvbInverseBurn, kvbSoftDodge,
    kvbSoftBurn, kvbReflect, kvbGlow, kvbFreeze, kvbHeat, kvbSubtractive, kvbInterpolation, kvbStamp,
    kvbRed, kvbGreen, kvbBlue, kvbHue, kvbSaturation, kvbColor, kvbHueLightness,
};

// One channel by operations kvbCopy .. kvbStamp; other values return d.
uint8_t KVBlendChannel(TKVBlendOperation operation, int s, int d);
// The source pixel combined into the destination pixel; values above kvbHueLightness leave it.
void KVBlendPixel(TKVBlendOperation operation, const TKVRGB& source, TKVRGB& dest);
void KVBlendRow(TKVBlendOperation operation, const TKVRGB* source, TKVRGB* dest, int count);

// d moved towards s by opacity a (0..255), rounded: 0 keeps d and 255 gives s exactly, so that
// white over black at full opacity stays white.
constexpr uint8_t KVBlendOpacity(int s, int d, int a) { return uint8_t((s * a + d * (255 - a) + 127) / 255); }
