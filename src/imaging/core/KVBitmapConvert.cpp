// Pixel-by-pixel conversion between the nine pixel formats.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVPixelCodec.h"
#include "imaging/core/KVBits.h"

namespace {

// Bayer matrix indexed [x mod 8][y mod 8]; a pixel is white when its entry is below the level.
constexpr uint8_t KVDitherMatrix[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

int WeightedGray(const TKVRGB& p) {
    return (p.r * KVGrayWeights.Red + p.g * KVGrayWeights.Green + p.b * KVGrayWeights.Blue) / 100;
}

bool IsGrayFormat(TKVPixelFormat format) {
    return format == kv1Bit || format == kv8Gray || format == kv16Gray || format == kv32f;
}

// One pixel of the source, read in the forms the conversion rules start from.
struct SourcePixel {
    TKVPixelFormat format;
    const uint8_t* row;
    const std::vector<TKVRGB>& palette;

    bool Bit(int x) const { return KVGetBit(row, x) != 0; }
    uint16_t Word(int x) const { return KVLoad<uint16_t>(row + 2 * int64_t(x)); }
    float Float(int x) const { return KVClampUnit(KVLoad<float>(row + 4 * int64_t(x))); }
    TKVRGB48 RGB48(int x) const { return KVLoad<TKVRGB48>(row + 6 * int64_t(x)); }

    TKVRGB RGB(int x) const {
        switch (format) {
            case kv1Bit: return Bit(x) ? TKVRGB{255, 255, 255} : TKVRGB{};
            case kv8Paletted: return row[x] < palette.size() ? palette[row[x]] : TKVRGB{};
            case kv8Gray: return TKVRGB{row[x], row[x], row[x]};
            case kv16Gray: {
                const auto v = uint8_t(Word(x) >> 8);
                return TKVRGB{v, v, v};
            }
            case kv24RGB: return KVLoad<TKVRGB>(row + 3 * int64_t(x));
            case kv32f: {
                const auto v = uint8_t(Float(x) * 255);
                return TKVRGB{v, v, v};
            }
            case kvCMYK: return KVCMYKToRGB(KVLoad<uint32_t>(row + 4 * int64_t(x)));
            case kvRGB48: {
                const TKVRGB48 p = RGB48(x);
                return KVCreateRGB(uint8_t(p.r >> 8), uint8_t(p.g >> 8), uint8_t(p.b >> 8));
            }
            default: return TKVRGB{};
        }
    }

    // 0..255: the level of a gray format, else the weighted gray of the colour.
    int Gray8(int x) const {
        switch (format) {
            case kv1Bit: return Bit(x) ? 255 : 0;
            case kv8Gray: return row[x];
            case kv16Gray: return Word(x) >> 8;
            case kv32f: return int(Float(x) * 255);
            default: return WeightedGray(RGB(x));
        }
    }

    uint16_t Gray16(int x) const {
        switch (format) {
            case kv1Bit: return Bit(x) ? 65535 : 0;
            case kv8Gray: return uint16_t(row[x] * 257);
            case kv16Gray: return Word(x);
            case kv32f: return uint16_t(Float(x) * 65535);
            case kvRGB48: {
                const TKVRGB48 p = RGB48(x);
                return uint16_t((p.r * 212 + p.g * 713 + p.b * 75) / 1000);
            }
            default: {
                const TKVRGB p = RGB(x);
                return uint16_t((p.r * 257 * 212 + p.g * 257 * 713 + p.b * 257 * 75) / 1000);
            }
        }
    }

    float GrayFloat(int x) const {
        switch (format) {
            case kv1Bit: return Bit(x) ? 1.0f : 0.0f;
            case kv8Gray: return float(row[x] / 255.0);
            case kv16Gray: return float(Word(x) / 65535.0);
            case kv32f: return Float(x);
            case kvRGB48: {
                const TKVRGB48 p = RGB48(x);
                return float((p.r * 0.2126 / 256 + p.g * 0.7152 / 256 + p.b * 0.0722 / 256) / 255);
            }
            default: {
                const TKVRGB p = RGB(x);
                return float((p.r * 0.2126 + p.g * 0.7152 + p.b * 0.0722) / 255);
            }
        }
    }

    TKVRGB48 Color48(int x) const {
        switch (format) {
            case kvRGB48: return RGB48(x);
            case kv16Gray: return TKVRGB48{Word(x), Word(x), Word(x)};
            case kv32f: {
                const auto v = uint16_t(Float(x) * 65535);
                return TKVRGB48{v, v, v};
            }
            default: {
                const TKVRGB p = RGB(x);
                return TKVRGB48{uint16_t(p.r * 257), uint16_t(p.g * 257), uint16_t(p.b * 257)};
            }
        }
    }
};

// Colour pictures become paletted on a fixed palette of 8 reds, 8 greens and 4 blues until
// the colour quantizer takes this over.
uint8_t Index332(const TKVRGB& p) { return uint8_t((p.r & 0xE0) | ((p.g >> 3) & 0x1C) | (p.b >> 6)); }

void Fill332Palette(std::vector<TKVRGB>& palette) {
    for (int i = 0; i < 256; ++i)
        palette[size_t(i)] = KVCreateRGB(uint8_t((i >> 5) * 255 / 7), uint8_t(((i >> 2) & 7) * 255 / 7),
                                         uint8_t((i & 3) * 255 / 3));
}

}  // namespace

void TKVBitmap::ConvertFrom(TKVBitmap& source) {
    if (&source == this || location_ == kvTBitmap || GetWidth() != source.GetWidth() ||
        GetHeight() != source.GetHeight())
        return;
    const TKVPixelFormat from = source.GetPixelFormat(), to = pixelFormat_;
    if (!IsEmpty() && !source.IsEmpty() && from != kvNoFormat) {
        if (to == kv8Paletted) {
            if (from == kv1Bit) {
                palette_[0] = TKVRGB{};
                palette_[1] = TKVRGB{255, 255, 255};
            } else if (from == kv8Paletted) {
                palette_ = source.palette_;
            } else if (IsGrayFormat(from)) {
                for (int i = 0; i < 256; ++i) palette_[size_t(i)] = TKVRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
            } else {
                Fill332Palette(palette_);
            }
        }
        TKVAccessScope reading(source, kvaRead);
        TKVAccessScope writing(*this, kvaWrite);
        std::vector<uint8_t> target(static_cast<size_t>(rowLen_));
        for (int y = 0; y < height_; ++y) {
            const SourcePixel pixel{from, source.GetScanline(y), source.palette_};
            uint8_t* out = target.data();
            std::fill(target.begin(), target.end(), 0);
            for (int x = 0; x < width_; ++x) {
                switch (to) {
                    case kv1Bit: {
                        bool white;
                        if (ditherMode_ == 0) white = KVDitherMatrix[x % 8][y % 8] < pixel.Gray8(x) / 4;
                        else if (ditherMode_ == 1) white = pixel.Gray8(x) >= 128;
                        else break;
                        KVSetBit(out, x, white);
                        break;
                    }
                    case kv8Paletted:
                        if (from == kv1Bit) out[x] = pixel.Bit(x) ? 1 : 0;
                        else if (from == kv8Paletted) out[x] = pixel.row[x];
                        else if (IsGrayFormat(from)) out[x] = uint8_t(pixel.Gray8(x));
                        else out[x] = Index332(pixel.RGB(x));
                        break;
                    case kv8Gray: out[x] = uint8_t(pixel.Gray8(x)); break;
                    case kv16Gray: KVStore(out + 2 * int64_t(x), pixel.Gray16(x)); break;
                    case kv24RGB: KVStore(out + 3 * int64_t(x), pixel.RGB(x)); break;
                    case kv32f: KVStore(out + 4 * int64_t(x), pixel.GrayFloat(x)); break;
                    case kvCMYK: KVStore(out + 4 * int64_t(x), KVRGBToCMYK(pixel.RGB(x))); break;
                    case kvRGB48: KVStore(out + 6 * int64_t(x), pixel.Color48(x)); break;
                    default: break;
                }
            }
            std::memcpy(GetScanline(y), target.data(), target.size());
        }
    }
    if (!isAlpha_) alphaChannel_ = std::move(source.alphaChannel_);
    SyncTBitmapPalette();
}
