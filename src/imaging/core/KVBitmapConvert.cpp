// Pixel-by-pixel conversion between the nine pixel formats.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVDitherMatrix.h"
#include "imaging/core/KVPixelCodec.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/core/KVRowPixels.h"
#include "imaging/core/KVColorReduction.h"

namespace {

bool IsGrayFormat(TKVPixelFormat format) {
    return format == kv1Bit || format == kv8Gray || format == kv16Gray || format == kv32f;
}

// One source row, read in the forms the conversion rules start from.
struct TSourceRow {
    TKVPixelFormat format;
    const uint8_t* row;
    const TKVRGB* palette;
    const TKVRGB* rgb;  // the row as blue, green, red

    bool Bit(int x) const { return KVGetBit(row, x) != 0; }
    uint16_t Word(int x) const { return KVLoad<uint16_t>(row + 2 * int64_t(x)); }
    float Float(int x) const { return KVClampUnit(KVLoad<float>(row + 4 * int64_t(x))); }
    TKVRGB48 RGB48(int x) const { return KVLoad<TKVRGB48>(row + 6 * int64_t(x)); }

    // 0..255: the level of a gray format, else the weighted gray of the colour.
    int Gray8(int x) const {
        switch (format) {
            case kv1Bit: return Bit(x) ? 255 : 0;
            case kv8Gray: return row[x];
            case kv16Gray: return Word(x) >> 8;
            case kv32f: return int(Float(x) * 255);
            default: return KVWeightedGray(rgb[x]);
        }
    }

    // 0..64, where 64 is white under every cell of the dither matrix.
    int DitherLevel(int x) const {
        switch (format) {
            case kv8Gray: return row[x] == 255 ? 64 : row[x] / 4;
            case kv16Gray: return Word(x) == 65535 ? 64 : Word(x) / 1024;
            case kv32f: return Float(x) >= 1 ? 64 : int(Float(x) * 255) / 4;
            default: {
                const int gray = KVWeightedGray(rgb[x]);
                return gray >= 255 ? 64 : gray / 4;
            }
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
                const TKVRGB& p = rgb[x];
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
                const TKVRGB& p = rgb[x];
                return float((p.r * 0.2126 + p.g * 0.7152 + p.b * 0.0722) / 255);
            }
        }
    }

    TKVRGB48 Color48(int x) const {
        switch (format) {
            case kv1Bit: return Bit(x) ? TKVRGB48{65535, 65535, 65535} : TKVRGB48{};
            case kvRGB48: return RGB48(x);
            case kv16Gray: return TKVRGB48{Word(x), Word(x), Word(x)};
            case kv32f: {
                const auto v = uint16_t(Float(x) * 65535);
                return TKVRGB48{v, v, v};
            }
            default: {
                const TKVRGB& p = rgb[x];
                return TKVRGB48{uint16_t(p.r * 257), uint16_t(p.g * 257), uint16_t(p.b * 257)};
            }
        }
    }
};

void ConvertRow(const TSourceRow& source, TKVPixelFormat to, int width, uint8_t* out) {
    if (source.format == to) {
        std::memcpy(out, source.row, size_t(KVBitmapRowLen(width, KVPixelFormatBitCount(to), 8)));
        return;
    }
    switch (to) {
        case kv8Gray:
            for (int x = 0; x < width; ++x) out[x] = uint8_t(source.Gray8(x));
            break;
        case kv16Gray:
            for (int x = 0; x < width; ++x) KVStore(out + 2 * int64_t(x), source.Gray16(x));
            break;
        case kv24RGB: std::memcpy(out, source.rgb, size_t(width) * 3); break;
        case kv32f:
            for (int x = 0; x < width; ++x) KVStore(out + 4 * int64_t(x), source.GrayFloat(x));
            break;
        case kvCMYK:
            for (int x = 0; x < width; ++x) KVStore(out + 4 * int64_t(x), KVRGBToCMYK(source.rgb[x]));
            break;
        case kvRGB48:
            for (int x = 0; x < width; ++x) KVStore(out + 6 * int64_t(x), source.Color48(x));
            break;
        default: break;
    }
}

}  // namespace

void TKVBitmap::ConvertFrom(TKVBitmap& source) {
    if (&source == this || location_ == kvTBitmap || GetWidth() != source.GetWidth() ||
        GetHeight() != source.GetHeight())
        return;
    // Set aside so that the 24-bit work copies below do not take it over.
    std::unique_ptr<TKVBitmap> alpha = std::move(source.alphaChannel_);
    try {
        ConvertPixelsFrom(source);
    } catch (...) {
        source.alphaChannel_ = std::move(alpha);
        throw;
    }
    if (!isAlpha_) alphaChannel_ = std::move(alpha);
    SyncTBitmapPalette();
}

void TKVBitmap::ConvertPixelsFrom(TKVBitmap& source) {
    const TKVPixelFormat from = source.GetPixelFormat(), to = pixelFormat_;
    if (IsEmpty() || source.IsEmpty() || from == kvNoFormat) return;
    const bool colorSource = from == kv24RGB || from == kvCMYK || from == kvRGB48;
    if (to == kv8Paletted && colorSource && from != kv24RGB) {
        // The quantizer works on 24-bit pictures; the caller's source stays as it is.
        TKVBitmap work(memoryThreshold_);
        work.Allocate(width_, height_, kv24RGB);
        work.ConvertPixelsFrom(source);
        ConvertPixelsFrom(work);
    } else if (to == kv1Bit && ditherMode_ == 1 && from == kvRGB48) {
        TKVBitmap work(memoryThreshold_);
        work.Allocate(width_, height_, kv24RGB);
        work.ConvertPixelsFrom(source);
        KVThresholdTo1BitWorker(work, *this, KVThresholdMean);
    } else if (to == kv1Bit && ditherMode_ == 1) {
        KVThresholdTo1BitWorker(source, *this, KVThresholdMean);
    } else if (to == kv1Bit && ditherMode_ != 0) {
        // Other dither modes leave the pixels as allocated.
    } else {
        std::unique_ptr<TKVQuantizer> quantizer;
        if (to == kv8Paletted) {
            if (from == kv1Bit) {
                palette_[0] = TKVRGB{};
                palette_[1] = TKVRGB{255, 255, 255};
            } else if (IsGrayFormat(from)) {
                for (int i = 0; i < 256; ++i) palette_[size_t(i)] = TKVRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
            } else if (from == kv8Paletted) {
                palette_ = source.palette_;
            } else {
                quantizer = std::make_unique<TKVQuantizer>(source, palette_.data(), paletteColors_);
            }
        }
        TKVAccessScope reading(source, kvaRead);
        TKVAccessScope writing(*this, kvaWrite);
        std::vector<uint8_t> target(static_cast<size_t>(rowLen_));
        std::vector<TKVRGB> rgb(static_cast<size_t>(width_));
        for (int y = 0; y < height_; ++y) {
            const TSourceRow row{from, source.GetScanline(y), source.Palette(), rgb.data()};
            KVRowToRGB(from, row.row, row.palette, width_, rgb.data());
            uint8_t* out = target.data();
            std::fill(target.begin(), target.end(), 0);
            if (to == kv1Bit) {
                for (int x = 0; x < width_; ++x)
                    if (KVDitherWhite(x, y, row.DitherLevel(x))) KVSetBit(out, x, true);
            } else if (to == kv8Paletted) {
                for (int x = 0; x < width_; ++x)
                    out[x] = quantizer             ? uint8_t(quantizer->RGBToIndex(rgb[size_t(x)]))
                             : from == kv1Bit      ? uint8_t(row.Bit(x) ? 1 : 0)
                             : from == kv8Paletted ? row.row[x]
                                                   : uint8_t(row.Gray8(x));
            } else {
                ConvertRow(row, to, width_, out);
            }
            std::memcpy(GetScanline(y), target.data(), target.size());
        }
    }
}
