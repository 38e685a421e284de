#pragma once
// TIFF's 8-bit CIELab samples to and from blue-green-red pixels: L* from 0 to 100 stored as 0 to
// 255, a* and b* as signed bytes. Written relative to the D65 white of sRGB, read relative to the
// white the file names.
#include <cstdint>
#include <memory>

// The white point the samples are relative to, as chromaticities x and y (the WhitePoint tag).
constexpr double TiffLabWhiteX = 0.3127, TiffLabWhiteY = 0.3290;
// Readers take samples without a WhitePoint tag as relative to D50.
constexpr double TiffLabDefaultWhiteX = 0.3457, TiffLabDefaultWhiteY = 0.3585;

struct TKVLabTransform;

class TKVTiffLabEncoder {
public:
    TKVTiffLabEncoder();
    ~TKVTiffLabEncoder();
    TKVTiffLabEncoder(const TKVTiffLabEncoder&) = delete;
    TKVTiffLabEncoder& operator=(const TKVTiffLabEncoder&) = delete;

    // count pixels of 3 bytes each into count L*, a*, b* triples.
    void Encode(const uint8_t* bgr, uint8_t* lab, int64_t count);

private:
    std::unique_ptr<TKVLabTransform> transform_;
};

class TKVTiffLabDecoder {
public:
    TKVTiffLabDecoder(double whiteX, double whiteY);
    ~TKVTiffLabDecoder();
    TKVTiffLabDecoder(const TKVTiffLabDecoder&) = delete;
    TKVTiffLabDecoder& operator=(const TKVTiffLabDecoder&) = delete;

    // count L*, a*, b* triples into count pixels of 3 bytes each.
    void Decode(const uint8_t* lab, uint8_t* bgr, int64_t count);

private:
    std::unique_ptr<TKVLabTransform> transform_;
    double whiteX_, whiteY_;
};
