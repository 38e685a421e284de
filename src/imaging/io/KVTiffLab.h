#pragma once
// TIFF's 8-bit CIELab samples from blue-green-red pixels: L* from 0 to 100 stored as 0 to 255,
// a* and b* as signed bytes, relative to the D65 white of sRGB.
#include <cstdint>
#include <memory>

// The white point the samples are relative to, as chromaticities x and y (the WhitePoint tag).
constexpr double TiffLabWhiteX = 0.3127, TiffLabWhiteY = 0.3290;

class TKVTiffLabEncoder {
public:
    TKVTiffLabEncoder();
    ~TKVTiffLabEncoder();
    TKVTiffLabEncoder(const TKVTiffLabEncoder&) = delete;
    TKVTiffLabEncoder& operator=(const TKVTiffLabEncoder&) = delete;

    // count pixels of 3 bytes each into count L*, a*, b* triples.
    void Encode(const uint8_t* bgr, uint8_t* lab, int64_t count);

private:
    struct TTransform;
    std::unique_ptr<TTransform> transform_;
};
