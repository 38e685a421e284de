#include "imaging/core/KVRowPixels.h"

#include <algorithm>
#include <cstring>

#include "imaging/core/KVBits.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVPixelCodec.h"

int KVWeightedGray(const TKVRGB& p) {
    return (p.r * KVGrayWeights.Red + p.g * KVGrayWeights.Green + p.b * KVGrayWeights.Blue) / 100;
}

void KVRowToRGB(TKVPixelFormat format, const uint8_t* row, const TKVRGB* palette, int width, TKVRGB* out) {
    auto gray = [](int v) { return TKVRGB{uint8_t(v), uint8_t(v), uint8_t(v)}; };
    switch (format) {
        case kv1Bit:
            for (int x = 0; x < width; ++x) out[x] = gray(KVGetBit(row, x) ? 255 : 0);
            break;
        case kv8Paletted:
            for (int x = 0; x < width; ++x) out[x] = palette ? palette[row[x]] : gray(row[x]);
            break;
        case kv8Gray:
            for (int x = 0; x < width; ++x) out[x] = gray(row[x]);
            break;
        case kv16Gray:
            for (int x = 0; x < width; ++x) out[x] = gray(KVLoad<uint16_t>(row + 2 * int64_t(x)) >> 8);
            break;
        case kv24RGB: std::memcpy(out, row, size_t(width) * 3); break;
        case kv32f:
            for (int x = 0; x < width; ++x) out[x] = gray(int(KVClampUnit(KVLoad<float>(row + 4 * int64_t(x))) * 255));
            break;
        case kvCMYK:
            for (int x = 0; x < width; ++x) out[x] = KVCMYKToRGB(KVLoad<uint32_t>(row + 4 * int64_t(x)));
            break;
        case kvRGB48:
            for (int x = 0; x < width; ++x) {
                const auto p = KVLoad<TKVRGB48>(row + 6 * int64_t(x));
                out[x] = TKVRGB{uint8_t(p.b >> 8), uint8_t(p.g >> 8), uint8_t(p.r >> 8)};
            }
            break;
        default: std::fill(out, out + width, TKVRGB{}); break;
    }
}
