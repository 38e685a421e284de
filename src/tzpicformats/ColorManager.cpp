#include "ColorManager.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

const char* const kDepthInvalid = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
const char* const kSampleCountInvalid = "Sample count per pixel does not correspond to the given color scheme.";
const char* const kSubsamplingInvalid = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
const char* const kSubsamplingOrder = "Vertical subsampling value must be <= horizontal subsampling value.";
const char* const kNoMethod = "Color conversion failed. Could not find a proper method.";
const char* const kMixedFamilies = "Conversion between indexed and non-indexed pixel formats is not supported.";
const char* const kCoefficientsInvalid = "YCbCr coefficients are invalid. Each must lie between 0 and 1, green at least 0.1.";

[[noreturn]] void RaiseConversionError(const char* message) { throw EColorConversionError(message); }

uint8_t ClipToByte(int64_t value) { return uint8_t(std::clamp<int64_t>(value, 0, 255)); }
uint16_t Swap16(uint16_t v) { return uint16_t((v >> 8) | (v << 8)); }
uint16_t Scale8To16(uint32_t v) { return WordMulDiv(v, 65535, 255); }
uint8_t Scale16To8(uint32_t v) { return uint8_t(WordMulDiv(v, 255, 65535)); }

uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

int SchemeSamples(TColorManagerScheme scheme) {
    switch (scheme) {
    case smIndexed: case smGray: return 1;
    case smGrayAlpha: return 2;
    case smRGBA: case smBGRA: case smCMYK: return 4;
    case smNone: return 0;
    default: return 3;
    }
}
bool HasAlpha(TColorManagerScheme scheme) { return scheme == smGrayAlpha || scheme == smRGBA || scheme == smBGRA; }

// Walks the pixels of a row: the target index advances for every pixel, the source only for those
// the mask selects.
template <class Convert>
void ForEachMasked(int64_t count, uint8_t mask, Convert convert) {
    int64_t source = 0;
    for (int64_t i = 0; i < count; ++i) {
        if (mask & 0x80) convert(source++, i);
        mask = std::rotr(mask, 1);
    }
}

// Sample k of source pixel p, from interleaved or planar data.
struct TSampleReader {
    TColorManager::TSources sources;
    int step;          // samples per pixel in interleaved data
    int bytes;         // 1 or 2
    bool swap;
    uint16_t operator()(int64_t pixel, int k) const {
        const bool planar = sources.size() > 1;
        const uint8_t* p = planar ? sources[size_t(k)] + pixel * bytes : sources[0] + (pixel * step + k) * bytes;
        if (bytes == 1) return *p;
        const uint16_t v = Load16(p);
        return swap ? Swap16(v) : v;
    }
};

// Reads and writes samples of 1..8 bits packed from the most significant bit, 8 div depth per byte.
struct TPackedPosition {
    int64_t byte;
    int shift;
};
TPackedPosition PackedAt(int64_t index, int depth) {
    const int perByte = 8 / depth;
    return {index / perByte, 8 - depth * int(index % perByte + 1)};
}
unsigned ReadPacked(const uint8_t* row, int64_t index, int depth) {
    const TPackedPosition at = PackedAt(index, depth);
    return (row[at.byte] >> at.shift) & ((1u << depth) - 1);
}
void WritePacked(uint8_t* row, int64_t index, int depth, unsigned value) {
    const TPackedPosition at = PackedAt(index, depth);
    const unsigned bits = ((1u << depth) - 1) << at.shift;
    row[at.byte] = uint8_t((row[at.byte] & ~bits) | ((value << at.shift) & bits));
}

bool IsPackedDepth(int depth) { return depth >= 1 && depth <= 8; }
bool IsColorDepth(int depth) { return depth == 8 || depth == 16; }

}  // namespace

TColorManager::TColorManager() { BuildGammaTable(1.0f, 2.2f); }

void TColorManager::SetSourceScheme(TColorManagerScheme scheme) {
    changed_ |= scheme != sourceScheme_;
    sourceScheme_ = scheme;
}
void TColorManager::SetTargetScheme(TColorManagerScheme scheme) {
    changed_ |= scheme != targetScheme_;
    targetScheme_ = scheme;
}
void TColorManager::SetSourceDepth(uint8_t bitsPerSample) {
    if (bitsPerSample == 0 || bitsPerSample > 16) RaiseConversionError(kDepthInvalid);
    changed_ |= bitsPerSample != sourceDepth_;
    sourceDepth_ = bitsPerSample;
}
void TColorManager::SetTargetDepth(uint8_t bitsPerSample) {
    if (bitsPerSample == 0 || bitsPerSample > 16) RaiseConversionError(kDepthInvalid);
    changed_ |= bitsPerSample != targetDepth_;
    targetDepth_ = bitsPerSample;
}
void TColorManager::SetSourceSampleCount(uint8_t samples) {
    if (samples == 0 || samples > 4) RaiseConversionError(kSampleCountInvalid);
    changed_ |= samples != sourceSamples_;
    sourceSamples_ = samples;
}
void TColorManager::SetTargetSampleCount(uint8_t samples) {
    if (samples == 0 || samples > 4) RaiseConversionError(kSampleCountInvalid);
    changed_ |= samples != targetSamples_;
    targetSamples_ = samples;
}

void TColorManager::BuildGammaTable(float mainGamma, float displayGamma) {
    if (mainGamma <= 0 || displayGamma <= 0) {
        mainGamma = 1.0f;
        displayGamma = 2.2f;
    }
    mainGamma_ = mainGamma;
    displayGamma_ = displayGamma;
    const int targetMax = targetDepth_ < 8 ? (1 << targetDepth_) - 1 : 255;
    const int n = sourceDepth_ < 8 ? targetMax : 255;
    const int m = targetMax;
    const double exponent = 1.0 / (double(mainGamma) * double(displayGamma));
    for (int i = 0; i <= n; ++i)
        gamma_[i] = uint8_t(std::nearbyint(std::pow(double(i) / n, exponent) * m));
}

void TColorManager::SetYCbCrLayout(std::span<const float> coefficients, uint8_t horizontal, uint8_t vertical) {
    // Luma weights lie between 0 and 1, and the chroma tables divide by green's: weights no
    // picture uses are refused before they could make those tables overflow.
    float weights[] = {lumaRed_, lumaGreen_, lumaBlue_};
    for (size_t i = 0; i < std::min<size_t>(3, coefficients.size()); ++i) weights[i] = coefficients[i];
    const bool fractions = std::all_of(std::begin(weights), std::end(weights), [](float w) { return w >= 0 && w <= 1; });
    if (!fractions || weights[1] < 0.1f) RaiseConversionError(kCoefficientsInvalid);
    lumaRed_ = weights[0], lumaGreen_ = weights[1], lumaBlue_ = weights[2];
    const auto allowed = [](uint8_t v) { return v == 1 || v == 2 || v == 4; };
    if (!allowed(horizontal) || !allowed(vertical)) RaiseConversionError(kSubsamplingInvalid);
    if (vertical > horizontal) RaiseConversionError(kSubsamplingOrder);
    horizontalSubsampling_ = horizontal;
    verticalSubsampling_ = vertical;
}

TPixelFormat TColorManager::PixelFormatOf(int side) const {
    const int samples = side == 0 ? sourceSamples_ : targetSamples_;
    const int bits = side == 0 ? sourceDepth_ : targetDepth_;
    if (samples == 1) {
        if (bits == 1) return TPixelFormat::pf1bit;
        if (bits >= 2 && bits <= 4) return TPixelFormat::pf4bit;
        if (bits >= 8) return TPixelFormat::pf8bit;
    }
    if (samples == 3) return bits <= 5 ? TPixelFormat::pf15bit : TPixelFormat::pf24bit;
    if (samples == 4 && bits >= 8) return TPixelFormat::pf32bit;
    return TPixelFormat::pfCustom;
}

void TColorManager::TransformRow(TSources sources, uint8_t* target, int64_t count, uint8_t mask) {
    if (changed_) ChooseConverter();
    if (!converter_) RaiseConversionError(kNoMethod);
    if (sources.empty() || count <= 0) return;
    converter_(sources, target, count, mask);
}

void TColorManager::ChooseConverter() {
    converter_ = nullptr;
    const bool sourceIndexedFamily = sourceScheme_ == smIndexed || sourceScheme_ == smGray || sourceScheme_ == smGrayAlpha;
    const bool targetIndexedFamily = targetScheme_ == smIndexed || targetScheme_ == smGray;
    if (sourceIndexedFamily != targetIndexedFamily) RaiseConversionError(kMixedFamilies);
    SourceOptions = HasAlpha(sourceScheme_) ? (SourceOptions | cvoAlpha) : (SourceOptions & ~cvoAlpha);
    TargetOptions = HasAlpha(targetScheme_) ? (TargetOptions | cvoAlpha) : (TargetOptions & ~cvoAlpha);

    const int s = sourceDepth_, t = targetDepth_;
    const bool rgbTarget = targetScheme_ == smRGB || targetScheme_ == smRGBA;
    const bool bgrTarget = targetScheme_ == smBGR || targetScheme_ == smBGRA;
    // Only depths a converter really handles get one, so a refused pair raises on the first row
    // instead of leaving the row unwritten.
    const bool packedOrWord = (IsPackedDepth(s) || s == 16) && (IsPackedDepth(t) || t == 16);
    const bool colorDepths = IsColorDepth(s) && IsColorDepth(t) && (rgbTarget || bgrTarget);
    switch (sourceScheme_) {
    case smIndexed:
        if (!packedOrWord) break;
        converter_ = (s == 16 && t == 16) ? Indexed16() : PackedIndexed();
        break;
    case smGray:
        if (s != 16 && t != 16 && IsPackedDepth(s) && IsPackedDepth(t)) converter_ = PackedIndexed();
        else if (s >= 8 && t >= 8 && IsColorDepth(s) && IsColorDepth(t)) converter_ = Gray();
        break;
    case smGrayAlpha:
        if (IsColorDepth(s) && IsColorDepth(t)) converter_ = Gray();
        break;
    case smRGB: case smRGBA: case smBGR: case smBGRA:
        if (colorDepths)
            converter_ = RGBFamily(sourceScheme_ == smBGR || sourceScheme_ == smBGRA, bgrTarget);
        break;
    case smCMYK:
        if (colorDepths) converter_ = CMYK(bgrTarget);
        break;
    case smLab:
        if (colorDepths) converter_ = Lab(bgrTarget);
        break;
    case smYCbCr: case smPhotoYCC:
        BuildYCbCrTables(sourceScheme_ == smPhotoYCC);
        if (colorDepths) converter_ = YCbCr(bgrTarget, sourceScheme_ == smPhotoYCC);
        break;
    default:
        break;
    }
    changed_ = false;
}

void TColorManager::BuildYCbCrTables(bool photoYcc) {
    const double kr = 2 - 2 * double(lumaRed_), kb = 2 - 2 * double(lumaBlue_);
    const double gr = double(lumaRed_) * kr / double(lumaGreen_), gb = double(lumaBlue_) * kb / double(lumaGreen_);
    const int crCentre = photoYcc ? 137 : 128, cbCentre = photoYcc ? 156 : 128;
    for (int i = 0; i < 256; ++i) {
        const double cr = i - crCentre, cb = i - cbCentre;
        crToRed_[i] = int32_t(std::nearbyint(kr * cr));
        cbToBlue_[i] = int32_t(std::nearbyint(kb * cb));
        crToGreen_[i] = -int32_t(std::nearbyint(gr * cr));
        cbToGreen_[i] = -int32_t(std::nearbyint(gb * cb));
    }
}

TColorManager::TConverter TColorManager::RGBFamily(bool sourceBgr, bool targetBgr) const {
    return [this, sourceBgr, targetBgr](TSources sources, uint8_t* target, int64_t count, uint8_t mask) {
        const int s = sourceDepth_, t = targetDepth_;
        const bool swap = SourceOptions & cvoSwapBytes, gamma = TargetOptions & cvoApplyGamma;
        const bool sourceAlpha = SourceOptions & cvoAlpha, targetAlpha = TargetOptions & cvoAlpha;
        const TSampleReader read{sources, SchemeSamples(sourceScheme_), s / 8, swap};
        const int targetStep = targetAlpha ? 4 : 3, targetBytes = t / 8;
        const int order[3] = {sourceBgr == targetBgr ? 0 : 2, 1, sourceBgr == targetBgr ? 2 : 0};
        auto colour = [&](uint16_t v) -> uint16_t {
            if (s == 8 && t == 8) return gamma ? gamma_[v] : v;
            if (s == 8) {
                const uint16_t wide = Scale8To16(gamma ? gamma_[v] : v);
                return swap ? Swap16(wide) : wide;
            }
            if (t == 8) return gamma ? gamma_[Scale16To8(v)] : Scale16To8(v);
            return v;
        };
        auto alpha = [&](uint16_t v) -> uint16_t {
            if (s == t) return v;
            return s == 8 ? Scale8To16(v) : Scale16To8(v);
        };
        ForEachMasked(count, mask, [&](int64_t p, int64_t i) {
            uint8_t* out = target + i * targetStep * targetBytes;
            for (int k = 0; k < 3; ++k) {
                const uint16_t v = colour(read(p, order[k]));
                if (targetBytes == 1) out[k] = uint8_t(v); else Store16(out + 2 * k, v);
            }
            if (targetAlpha && sourceAlpha) {
                const uint16_t v = alpha(read(p, 3));
                if (targetBytes == 1) out[3] = uint8_t(v); else Store16(out + 6, v);
            }
        });
    };
}

TColorManager::TConverter TColorManager::Gray() const {
    return [this](TSources sources, uint8_t* target, int64_t count, uint8_t mask) {
        const int s = sourceDepth_, t = targetDepth_;
        const TSampleReader read{sources.first(1), SchemeSamples(sourceScheme_), s / 8, bool(SourceOptions & cvoSwapBytes)};
        ForEachMasked(count, mask, [&](int64_t p, int64_t i) {
            const uint16_t v = read(p, 0);
            if (t == 8) target[i] = uint8_t(s == 8 ? v : Scale16To8(v));
            else Store16(target + 2 * i, s == 8 ? Scale8To16(v) : v);
        });
    };
}

TColorManager::TConverter TColorManager::PackedIndexed() const {
    return [this](TSources sources, uint8_t* target, int64_t count, uint8_t mask) {
        const int s = sourceDepth_, t = targetDepth_;
        const bool swap = SourceOptions & cvoSwapBytes;
        if (s == t && mask == 0xFF && 8 % s == 0) {
            std::memcpy(target, sources[0], size_t((count * s + 7) / 8));
            return;
        }
        const uint32_t sourceMax = s == 16 ? 65535 : (1u << s) - 1;
        const uint32_t targetMax = t == 16 ? 65535 : (1u << t) - 1;
        ForEachMasked(count, mask, [&](int64_t p, int64_t i) {
            uint32_t v;
            if (s == 16) {
                v = Load16(sources[0] + 2 * p);
                if (swap) v = Swap16(uint16_t(v));
            } else {
                v = ReadPacked(sources[0], p, s);
            }
            const uint16_t scaled = WordMulDiv(v, targetMax, sourceMax);
            if (t == 16) Store16(target + 2 * i, swap ? Swap16(scaled) : scaled);
            else WritePacked(target, i, t, scaled);
        });
    };
}

TColorManager::TConverter TColorManager::Indexed16() const {
    return [this](TSources sources, uint8_t* target, int64_t count, uint8_t mask) {
        const bool swap = SourceOptions & cvoSwapBytes;
        if (mask == 0xFF && !swap) {
            std::memcpy(target, sources[0], size_t(count * 2));
            return;
        }
        ForEachMasked(count, mask, [&](int64_t p, int64_t i) {
            const uint16_t v = Load16(sources[0] + 2 * p);
            Store16(target + 2 * i, swap ? Swap16(v) : v);
        });
    };
}

TColorManager::TConverter TColorManager::CMYK(bool targetBgr) const {
    return [this, targetBgr](TSources sources, uint8_t* target, int64_t count, uint8_t mask) {
        const int s = sourceDepth_, t = targetDepth_;
        const TSampleReader read{sources.size() == 4 ? sources : sources.first(1), 4, s / 8,
                                 bool(SourceOptions & cvoSwapBytes)};
        const int targetStep = (TargetOptions & cvoAlpha) ? 4 : 3, targetBytes = t / 8;
        ForEachMasked(count, mask, [&](int64_t p, int64_t i) {
            const uint32_t k = read(p, 3);
            uint8_t* out = target + i * targetStep * targetBytes;
            for (int c = 0; c < 3; ++c) {
                const uint32_t x = read(p, c);
                const int slot = targetBgr ? 2 - c : c;
                if (s == 8) {
                    const uint8_t v = ClipToByte(int64_t(WordMulDiv(x, k, 255)) - x - k + 255);
                    if (t == 8) out[slot] = v; else Store16(out + 2 * slot, Scale8To16(v));
                } else if (t == 8) {
                    out[slot] = ClipToByte(255 - WordMulDiv(x + k - WordMulDiv(x, k, 65535), 255, 65535));
                } else {
                    Store16(out + 2 * slot, uint16_t(65535 - x - k + WordMulDiv(x, k, 65535)));
                }
            }
        });
    };
}

TColorManager::TConverter TColorManager::Lab(bool targetBgr) const {
    return [this, targetBgr](TSources sources, uint8_t* target, int64_t count, uint8_t mask) {
        const int s = sourceDepth_, t = targetDepth_;
        const bool byteRange = SourceOptions & cvoLabByteRange, chromaOffset = SourceOptions & cvoLabChromaOffset;
        const TSampleReader read{sources, 3, s / 8, bool(SourceOptions & cvoSwapBytes)};
        const int targetStep = (TargetOptions & cvoAlpha) ? 4 : 3, targetBytes = t / 8;
        auto chroma = [&](uint16_t v) { return chromaOffset ? double(v) - 128 : double(int8_t(uint8_t(v))); };
        ForEachMasked(count, mask, [&](int64_t p, int64_t i) {
            double l = read(p, 0);
            if (byteRange) l /= 2.55;
            const double a = chroma(read(p, 1)), b = chroma(read(p, 2));
            double x, y, z;
            if (l < 7.9996) {
                y = l / 903.3;
                x = y + a / 3893.5;
                z = y - b / 1557.4;
            } else {
                const double fy = (l + 16) / 116;
                x = std::pow(fy + a / 500, 3);
                y = fy * fy * fy;
                z = std::pow(fy - b / 200, 3);
            }
            const double rgb[3] = {2.998 * x - 1.458 * y - 0.541 * z, -0.952 * x + 1.893 * y + 0.059 * z,
                                   0.099 * x - 0.198 * y + 1.099 * z};
            uint8_t* out = target + i * targetStep * targetBytes;
            for (int c = 0; c < 3; ++c) {
                const uint8_t v = ClipToByte(int64_t(std::nearbyint(std::clamp(rgb[c] * 255, -1.0, 256.0))));
                const int slot = targetBgr ? 2 - c : c;
                if (t == 8) out[slot] = v; else Store16(out + 2 * slot, Scale8To16(v));
            }
        });
    };
}

TColorManager::TConverter TColorManager::YCbCr(bool targetBgr, bool photoYcc) const {
    return [this, targetBgr, photoYcc](TSources sources, uint8_t* target, int64_t count, uint8_t mask) {
        const int s = sourceDepth_, t = targetDepth_;
        const TSampleReader read{sources, 3, s / 8, bool(SourceOptions & cvoSwapBytes)};
        const int targetStep = (TargetOptions & cvoAlpha) ? 4 : 3, targetBytes = t / 8;
        ForEachMasked(count, mask, [&](int64_t p, int64_t i) {
            uint8_t* out = target + i * targetStep * targetBytes;
            const uint16_t y16 = read(p, 0), c1 = read(p, 1), c2 = read(p, 2);
            int64_t rgb[3];
            if (photoYcc && s == 16 && t == 16) {
                // Results beyond the 16-bit range are clipped rather than wrapped.
                const double y = 1.3584 * y16, cb = double(c1) - 40092, cr = double(c2) - 35209;
                rgb[0] = int64_t(std::nearbyint(y + 1.8215 * cr));
                rgb[1] = int64_t(std::nearbyint(y - 0.9271435 * cr - 0.4302726 * cb));
                rgb[2] = int64_t(std::nearbyint(y + 2.2179 * cb));
                for (int c = 0; c < 3; ++c)
                    Store16(out + 2 * (targetBgr ? 2 - c : c), uint16_t(std::clamp<int64_t>(rgb[c], 0, 65535)));
                return;
            }
            const int y = s == 8 ? y16 : Scale16To8(y16);
            const int cb = s == 8 ? c1 : Scale16To8(c1), cr = s == 8 ? c2 : Scale16To8(c2);
            rgb[0] = ClipToByte(y + crToRed_[cr]);
            rgb[1] = ClipToByte(y + cbToGreen_[cb] + crToGreen_[cr]);
            rgb[2] = ClipToByte(y + cbToBlue_[cb]);
            for (int c = 0; c < 3; ++c) {
                const int slot = targetBgr ? 2 - c : c;
                if (t == 8) out[slot] = uint8_t(rgb[c]); else Store16(out + 2 * slot, Scale8To16(uint32_t(rgb[c])));
            }
        });
    };
}

std::vector<TPaletteEntry> TColorManager::BuildGrayPalette(bool inverted) const {
    const int k = std::min(targetDepth_ * targetSamples_, 8);
    const int entries = 1 << k;
    const int step = 255 / (entries - 1);
    std::vector<TPaletteEntry> palette(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i) {
        int value = i * step;
        if (TargetOptions & cvoApplyGamma) value = gamma_[value];
        const uint8_t v = uint8_t(value);
        palette[size_t(inverted ? entries - 1 - i : i)] = {v, v, v, 0};
    }
    return palette;
}

std::vector<TPaletteEntry> TColorManager::BuildFilePalette(std::span<const std::span<const uint8_t>> data,
                                                           bool bgrOrder, int count, int layout) const {
    count = std::clamp(count, 0, 256);
    std::vector<TPaletteEntry> palette(static_cast<size_t>(count));
    const bool wide = layout >= 4 && layout <= 7;
    const bool planar = layout == 2 || layout == 3 || layout == 6 || layout == 7;
    const int bytes = wide ? 2 : 1;
    const int perEntry = (layout == 1 || layout == 5) ? 4 : 3;
    const bool swap = SourceOptions & cvoSwapBytes, gamma = TargetOptions & cvoApplyGamma;
    // In 8-bit blocks the flag names B, G, R order; in 16-bit blocks it names R, G, B order.
    const bool reversed = planar ? false : (wide ? !bgrOrder : bgrOrder);
    const auto sample = [&](std::span<const uint8_t> span, int64_t offset, uint8_t& out) {
        if (offset + bytes > int64_t(span.size())) return false;
        if (!wide) {
            out = gamma ? gamma_[span[size_t(offset)]] : span[size_t(offset)];
        } else {
            uint16_t v = Load16(span.data() + offset);
            if (swap) v = Swap16(v);
            out = gamma ? gamma_[Scale16To8(v)] : Scale16To8(v);
        }
        return true;
    };
    if (layout < 0 || layout > 7 || data.size() < (planar ? 3u : 1u)) return palette;
    for (int i = 0; i < count; ++i) {
        uint8_t rgb[3];
        bool complete = true;
        for (int c = 0; c < 3 && complete; ++c) {
            const int stored = reversed ? 2 - c : c;
            complete = planar ? sample(data[size_t(c)], int64_t(i) * bytes, rgb[c])
                              : sample(data[0], (int64_t(i) * perEntry + stored) * bytes, rgb[c]);
        }
        if (!complete) break;
        palette[size_t(i)] = {rgb[0], rgb[1], rgb[2], 0};
    }
    if (targetDepth_ <= 8 && sourceDepth_ <= 16) {
        const uint32_t sourceMax = sourceDepth_ == 16 ? 65535 : (1u << sourceDepth_) - 1;
        const uint32_t targetMax = (1u << targetDepth_) - 1;
        if (sourceMax != targetMax) {
            std::vector<TPaletteEntry> resampled(targetMax + 1);
            for (uint32_t i = 0; i <= targetMax; ++i) {
                const uint32_t from = WordMulDiv(i, sourceMax, targetMax);
                if (from < palette.size()) resampled[i] = palette[from];
            }
            return resampled;
        }
    }
    return palette;
}
