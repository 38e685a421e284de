#include "imaging/core/KVBlend.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVCoreUtils.h"
#include "imaging/core/KVHSL.h"

namespace {

int Clamp255(int value) { return KVClampByte(value); }

double SoftLight(int s, int d) {
    const double c = s / 255.0, e = d / 255.0;
    return c >= 0.5 ? std::sqrt(e) * (2 * c - 1) + 2 * e * (1 - c) : e * e * (1 - 2 * c) + 2 * c * e;
}

uint32_t Packed(const TKVRGB& p) { return uint32_t(p.r) << 16 | uint32_t(p.g) << 8 | p.b; }

// The HSL mixtures: which of hue, saturation and lightness come from the source.
void BlendHSL(bool hue, bool saturation, bool lightness, const TKVRGB& source, TKVRGB& dest) {
    double sh, ss, sl, dh, ds, dl;
    KVRGBToHSL(Packed(source), sh, ss, sl);
    KVRGBToHSL(Packed(dest), dh, ds, dl);
    dest = KVHSLToRGB(hue ? sh : dh, saturation ? ss : ds, lightness ? sl : dl);
}

}  // namespace

uint8_t KVBlendChannel(TKVBlendOperation operation, int s, int d) {
    switch (operation) {
    case kvbCopy: return uint8_t(s);
    case kvbAdd: return Clamp255(d + s);
    case kvbDifference: return uint8_t(std::abs(d - s));
    case kvbDivide: return Clamp255(d / std::clamp(s, 1, 255));
    case kvbMultiply: return uint8_t((s * d) >> 8);
    case kvbOr: return uint8_t(d | s);
    case kvbAnd: return uint8_t(d & s);
    case kvbXor: return uint8_t(d ^ s);
    case kvbMax: return uint8_t(std::max(d, s));
    case kvbMin: return uint8_t(std::min(d, s));
    case kvbAverage: return uint8_t((d + s) >> 1);
    case kvbScreen: return uint8_t(255 - (((255 - d) * (255 - s)) >> 8));
    case kvbNegation: return uint8_t(255 - std::abs(255 - s - d));
    case kvbExclusion: return uint8_t(d + s - (s * d) / 128);
    case kvbOverlay: return uint8_t(d >= 128 ? 255 - (((255 - s) * (255 - d)) >> 7) : (s * d) >> 7);
    case kvbHardLight: return uint8_t(s >= 128 ? 255 - (((255 - d) * (255 - s)) >> 7) : (s * d) >> 7);
    case kvbSoftLight: return uint8_t(std::trunc(255 * SoftLight(s, d)));
    case kvbSoftLightScreen: {
        const int m = (s * d) >> 8;
        const int k = 255 - (((255 - d) * (255 - s)) >> 8) - m;
        return uint8_t(m + ((d * k) >> 8));
    }
    case kvbColorDodge: return s == 255 ? 255 : uint8_t(std::min((d * 256) / (255 - s), 255));
    case kvbColorBurn: return s == 0 ? 0 : uint8_t(std::max(255 - ((255 - d) * 256) / s, 0));
    case kvbInverseDodge: return d == 255 ? 255 : uint8_t(std::min((s * 256) / (255 - d), 255));
    case kvbInverseBurn: return d == 0 ? 0 : uint8_t(std::max(255 - ((255 - s) * 256) / d, 0));
    case kvbSoftDodge:
        if (s + d < 256) return s == 255 ? 255 : uint8_t(std::min((d * 128) / (255 - s), 255));
        return uint8_t(std::max(255 - ((255 - s) * 128) / d, 0));
    case kvbSoftBurn:
        if (s + d < 256) return d == 255 ? 255 : uint8_t(std::min((s * 128) / (255 - d), 255));
        return uint8_t(std::max(255 - ((255 - d) * 128) / s, 0));
    case kvbReflect: return s == 255 ? 255 : uint8_t(std::min(d * d / (255 - s), 255));
    case kvbGlow: return d == 255 ? 255 : uint8_t(std::min(s * s / (255 - d), 255));
    case kvbFreeze: return s == 0 ? 0 : uint8_t(std::max(255 - (255 - d) * (255 - d) / s, 0));
    case kvbHeat: return d == 0 ? 0 : uint8_t(std::max(255 - (255 - s) * (255 - s) / d, 0));
    case kvbSubtractive: return Clamp255(d + s - 256);
    case kvbInterpolation: return uint8_t(std::min(KVInterpolationTable[s] + KVInterpolationTable[d], 255));
    case kvbStamp: return Clamp255(d + 2 * s - 256);
    default: return uint8_t(d);
    }
}

void KVBlendPixel(TKVBlendOperation operation, const TKVRGB& source, TKVRGB& dest) {
    switch (operation) {
    case kvbRed: dest.r = source.r; return;
    case kvbGreen: dest.g = source.g; return;
    case kvbBlue: dest.b = source.b; return;
    case kvbHue: BlendHSL(true, false, false, source, dest); return;
    case kvbSaturation: BlendHSL(false, true, false, source, dest); return;
    case kvbColor: BlendHSL(true, true, false, source, dest); return;
    case kvbHueLightness: BlendHSL(true, false, true, source, dest); return;
    default:
        if (operation > kvbHueLightness) return;
        dest.b = KVBlendChannel(operation, source.b, dest.b);
        dest.g = KVBlendChannel(operation, source.g, dest.g);
        dest.r = KVBlendChannel(operation, source.r, dest.r);
    }
}

void KVBlendRow(TKVBlendOperation operation, const TKVRGB* source, TKVRGB* dest, int count) {
    for (int i = 0; i < count; ++i) KVBlendPixel(operation, source[i], dest[i]);
}
