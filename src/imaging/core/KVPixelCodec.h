#pragma once
// Reading and writing single pixel values in rows, and the CMYK rule of the bitmap formats.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/core/KVPixelTypes.h"

// Rows carry no alignment promise for multi-byte pixels: values are copied bytewise.
template <typename T>
T KVLoad(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
void KVStore(uint8_t* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

// Float gray levels outside 0..1 and NaN are taken as the nearest valid level.
inline float KVClampUnit(float value) { return value > 0 ? std::min(value, 1.0f) : 0.0f; }

// kvCMYK bytes C, M, Y, K (each inverted) as a little-endian value; K is the largest channel.
inline uint32_t KVRGBToCMYK(const TKVRGB& rgb) {
    int k = std::max({rgb.r, rgb.g, rgb.b});
    if (k == 0) k = 1;
    const uint32_t c = rgb.r * 255 / k, m = rgb.g * 255 / k, y = rgb.b * 255 / k;
    return c | (m << 8) | (y << 16) | (uint32_t(k) << 24);
}

inline TKVRGB KVCMYKToRGB(uint32_t cmyk) {
    const int c = cmyk & 0xFF, m = (cmyk >> 8) & 0xFF, y = (cmyk >> 16) & 0xFF, k = int(cmyk >> 24);
    return TKVRGB{uint8_t(y * k / 255), uint8_t(m * k / 255), uint8_t(c * k / 255)};
}
