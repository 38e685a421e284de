#include "imaging/core/KVColorReduction.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVDitherMatrix.h"
#include "imaging/core/KVPixelCodec.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/core/KVRowPixels.h"
#include "imaging/core/KVProgress.h"

namespace {

void Report(const TKVProgressRec* progress, int row) {
    if (progress) progress->Report(row);
}

// A kv1Bit bitmap of the source's size in the source's storage choice.
std::unique_ptr<TKVBitmap> OneBitLike(TKVBitmap& source) {
    auto result = std::make_unique<TKVBitmap>();
    result->SetMemoryThreshold(source.MemoryThreshold());
    result->Allocate(source.GetWidth(), source.GetHeight(), kv1Bit);
    return result;
}

// Entropy-based threshold; 0 when no candidate scores above 0 (pictures of one or two levels).
int MaxEntropyLevel(TKVBitmap& bitmap) {
    int64_t counts[256];
    KVGrayHistogram(bitmap, counts);
    const int64_t pixels = int64_t(bitmap.GetWidth()) * bitmap.GetHeight();
    double p[256], total = 0;
    for (int i = 0; i < 256; ++i) {
        p[i] = double(counts[i]) / double(pixels);
        if (p[i] > 0) total -= p[i] * std::log(p[i]);
    }
    double best = 0, entropyBelow = 0;
    int64_t countBelow = 0;
    int level = 0;
    for (int t = 1; t < 256; ++t) {
        countBelow += counts[t - 1];
        if (p[t - 1] > 0) entropyBelow -= p[t - 1] * std::log(p[t - 1]);
        // Decided on the counts, so that rounding never lets a full side through.
        if (countBelow == 0 || countBelow == pixels) continue;
        const double below = double(countBelow) / double(pixels);
        const double score =
            std::log(below - below * below) + entropyBelow / below + (total - entropyBelow) / (1 - below);
        if (score > best) {
            best = score;
            level = t;
        }
    }
    return level;
}

}  // namespace

void KVReduceColors(TKVBitmap& bitmap, int numColors, TKVRGB* palette, TObject* sender,
                    const TKVProgressEvent& progress) {
    if (bitmap.GetPixelFormat() != kv24RGB || bitmap.IsEmpty() || numColors < 1) return;
    std::vector<TKVRGB> own;
    if (!palette) {
        own.resize(size_t(numColors));
        palette = own.data();
    }
    const TKVQuantizer quantizer(bitmap, palette, numColors);
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    TKVAccessScope updating(bitmap, kvaReadWrite);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y));
        for (int x = 0; x < width; ++x) row[x] = palette[quantizer.RGBToIndex(row[x])];
        if (progress) progress(sender, int(100 / (height + 0.5) * (y + 1)));
    }
}

void KVOrderedDitherTo1Bit(TKVBitmap& bitmap, const TKVProgressRec* progress) {
    if (bitmap.GetPixelFormat() != kv24RGB || bitmap.IsEmpty()) return;
    auto result = OneBitLike(bitmap);
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    std::vector<uint8_t> bits(size_t(result->GetRowLen()));
    TKVAccessScope reading(bitmap, kvaRead);
    TKVAccessScope writing(*result, kvaWrite);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const TKVRGB*>(bitmap.GetScanline(y));
        std::fill(bits.begin(), bits.end(), 0);
        for (int x = 0; x < width; ++x) {
            const TKVRGB& p = row[x];
            // Near-white is white everywhere, so white paper keeps no dots.
            const int level = std::min({p.r, p.g, p.b}) >= 251 ? 64 : KVWeightedGray(p) >> 2;
            if (KVDitherWhite(x, y, level)) KVSetBit(bits.data(), x, true);
        }
        std::memcpy(result->GetScanline(y), bits.data(), bits.size());
        Report(progress, y + 1);
    }
    bitmap.AssignImage(*result);
}

void KVThresholdToBW(TKVBitmap& bitmap, int threshold, const TKVProgressRec* progress) {
    if (bitmap.GetPixelFormat() != kv24RGB || bitmap.IsEmpty()) return;
    auto result = OneBitLike(bitmap);
    KVThresholdTo1BitWorker(bitmap, *result, threshold, progress);
    bitmap.AssignImage(*result);
}

int KVThresholdLevel(TKVBitmap& bitmap, int threshold) {
    if (threshold == KVThresholdMaxEntropy) {
        const int level = MaxEntropyLevel(bitmap);
        // A picture without a positive score (one colour, a dark page) falls back to its mean.
        if (level > 0) return level;
        threshold = KVThresholdMean;
    }
    if (threshold == KVThresholdMean) {
        int r, g, b;
        KVMeanColor(bitmap, r, g, b);
        return KVWeightedGray(KVCreateRGB(uint8_t(r), uint8_t(g), uint8_t(b)));
    }
    return threshold;
}

void KVThresholdTo1BitWorker(TKVBitmap& source, TKVBitmap& dest, int threshold, const TKVProgressRec* progress) {
    const int width = source.GetWidth(), height = source.GetHeight();
    if (source.IsEmpty() || dest.GetPixelFormat() != kv1Bit || dest.GetWidth() != width || dest.GetHeight() != height)
        return;
    const TKVPixelFormat format = source.GetPixelFormat();
    const int level = format == kv1Bit ? 0 : KVThresholdLevel(source, threshold);
    std::vector<TKVRGB> pixels(static_cast<size_t>(width));
    std::vector<uint8_t> bits(size_t(dest.GetRowLen()));
    TKVAccessScope reading(source, kvaRead);
    TKVAccessScope writing(dest, kvaWrite);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = source.GetScanline(y);
        if (format == kv1Bit) {
            std::memcpy(bits.data(), row, bits.size());
        } else {
            KVRowToRGB(format, row, source.Palette(), width, pixels.data());
            std::fill(bits.begin(), bits.end(), 0);
            for (int x = 0; x < width; ++x)
                if (KVWeightedGray(pixels[size_t(x)]) >= level) KVSetBit(bits.data(), x, true);
        }
        std::memcpy(dest.GetScanline(y), bits.data(), bits.size());
        Report(progress, y + 1);
    }
}

void KVGrayHistogram(TKVBitmap& bitmap, int64_t counts[256]) {
    std::fill(counts, counts + 256, 0);
    if (bitmap.IsEmpty()) return;
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    const int width = bitmap.GetWidth();
    std::vector<TKVRGB> pixels(static_cast<size_t>(width));
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        if (format == kv1Bit) {
            for (int x = 0; x < width; ++x) ++counts[KVGetBit(row, x) ? 1 : 0];
            continue;
        }
        KVRowToRGB(format, row, bitmap.Palette(), width, pixels.data());
        // Gray formats count their own level, colours their weighted gray.
        const bool gray = format == kv8Gray || format == kv16Gray || format == kv32f;
        for (const TKVRGB& p : pixels) ++counts[gray ? p.r : std::clamp(KVWeightedGray(p), 0, 255)];
    }
}

void KVMeanColor(TKVBitmap& bitmap, int& red, int& green, int& blue) {
    red = green = blue = 0;
    if (bitmap.IsEmpty()) return;
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    std::vector<TKVRGB> pixels(static_cast<size_t>(width));
    int64_t sums[3] = {0, 0, 0};
    auto toByte = [](int64_t value16) { return value16 * 255 / 65535; };
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        int64_t r = 0, g = 0, b = 0;
        for (int x = 0; x < width; ++x) {
            if (format == kv16Gray) {
                const int64_t v = toByte(KVLoad<uint16_t>(row + 2 * int64_t(x)));
                r += v, g += v, b += v;
            } else if (format == kvRGB48) {
                const auto p = KVLoad<TKVRGB48>(row + 6 * int64_t(x));
                r += toByte(p.r), g += toByte(p.g), b += toByte(p.b);
            }
        }
        if (format != kv16Gray && format != kvRGB48) {
            KVRowToRGB(format, row, bitmap.Palette(), width, pixels.data());
            for (const TKVRGB& p : pixels) r += p.r, g += p.g, b += p.b;
        }
        sums[0] += r / width;
        sums[1] += g / width;
        sums[2] += b / width;
    }
    red = int(sums[0] / height);
    green = int(sums[1] / height);
    blue = int(sums[2] / height);
}

int KVNearestPaletteIndex(const TKVRGB* palette, int count, const TKVRGB& color) {
    int best = 1000, index = 0;
    for (int i = 0; i < count; ++i) {
        const int distance = KVColorDistance(palette[i], color);
        if (distance < best) {
            best = distance;
            index = i;
        }
    }
    return index;
}

int KVQuantizeRow(const uint8_t* source, uint8_t* dest, int sourceBits, const TKVQuantizer* quantizer,
                  const TKVRGB* palette, int width, int destBits) {
    auto* destRGB = reinterpret_cast<TKVRGB*>(dest);
    auto nibble = [&](int x) { return (source[x / 2] >> (x % 2 ? 0 : 4)) & 15; };
    auto putNibble = [&](int x, int value) { dest[x / 2] |= uint8_t((value & 15) << (x % 2 ? 0 : 4)); };
    auto index = [&](int x) { return quantizer ? quantizer->RGBToIndex(KVLoad<TKVRGB>(source + 3 * int64_t(x))) : 0; };
    const int pair = sourceBits * 100 + destBits;
    switch (pair) {
        case 101: std::memcpy(dest, source, size_t(width + 7) / 8); break;
        case 104:
            for (int x = 0; x < width; ++x) putNibble(x, KVGetBit(source, x) ? 1 : 0);
            break;
        case 108:
            for (int x = 0; x < width; ++x) dest[x] = KVGetBit(source, x) ? 1 : 0;
            break;
        case 124:
            for (int x = 0; x < width; ++x) destRGB[x] = palette[KVGetBit(source, x) ? 1 : 0];
            break;
        case 404: std::memcpy(dest, source, size_t(width + 1) / 2); break;
        case 408:
            for (int x = 0; x < width; ++x) dest[x] = uint8_t(nibble(x));
            break;
        case 424:
            for (int x = 0; x < width; ++x) destRGB[x] = palette[nibble(x)];
            break;
        case 801:
            std::memset(dest, 0, size_t(width + 7) / 8);
            for (int x = 0; x < width; ++x) KVSetBit(dest, x, source[x] != 0);
            break;
        case 808: std::memcpy(dest, source, size_t(width)); break;
        case 824:
            for (int x = 0; x < width; ++x) destRGB[x] = palette[source[x]];
            break;
        case 2404:
            for (int x = 0; x < width; ++x) putNibble(x, index(x));
            break;
        case 2408:
            for (int x = 0; x < width; ++x) dest[x] = uint8_t(index(x));
            break;
        case 2424: std::memcpy(dest, source, size_t(width) * 3); break;
        case 3224:
            for (int x = 0; x < width; ++x) std::memcpy(dest + 3 * int64_t(x), source + 4 * int64_t(x), 3);
            break;
        default: return 0;
    }
    switch (destBits) {
        case 1: return (width + 7) / 8;
        case 4: return (width + 1) / 2;
        case 8: return width;
        case 24: return width * 3;
        default: return 0;
    }
}
