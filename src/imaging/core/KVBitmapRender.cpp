#include "imaging/core/KVBitmapRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVPixelCodec.h"
#include "imaging/core/KVResample.h"
#include "platform/Graphics.h"

namespace {

constexpr int OneStep = 0x4000;  // 1:1 in the 14-bit fixed point of the scale steps

// The part of the picture a render touches, after clipping to the destination.
struct TArea {
    int destX, destY, destWidth, destHeight, sourceX, sourceY, sourceWidth, sourceHeight;
    double xRatio, yRatio;
};

// Cuts the rectangles at the destination's edges, moving the source rectangle alike.
TArea Clipped(const TKVRenderParams& p, int destW, int destH, int sourceW, int sourceH) {
    TArea a{p.destX, p.destY, p.destWidth, p.destHeight, p.sourceX, p.sourceY, p.sourceWidth, p.sourceHeight,
            double(p.sourceWidth) / p.destWidth, double(p.sourceHeight) / p.destHeight};
    if (a.destY < 0) {
        const int skipped = int(-a.destY * a.yRatio);
        a.destHeight += a.destY;
        a.sourceHeight -= skipped;
        a.sourceY += skipped;
        a.destY = 0;
    }
    if (a.destX < 0) {
        const int skipped = int(-a.destX * a.xRatio);
        a.destWidth += a.destX;
        a.sourceWidth -= skipped;
        a.sourceX += skipped;
        a.destX = 0;
    }
    if (const int over = a.destY + a.destHeight - destH; over > 0) {
        a.destHeight -= over;
        a.sourceHeight -= int(over * a.yRatio);
    }
    if (const int over = a.destX + a.destWidth - destW; over > 0) {
        a.destWidth -= over;
        a.sourceWidth -= int(over * a.xRatio);
    }
    a.destX = std::clamp(a.destX, 0, destW - 1);
    a.destY = std::clamp(a.destY, 0, destH - 1);
    a.destWidth = std::clamp(a.destWidth, 0, destW);
    a.destHeight = std::clamp(a.destHeight, 0, destH);
    a.sourceX = std::clamp(a.sourceX, 0, sourceW - 1);
    a.sourceY = std::clamp(a.sourceY, 0, sourceH - 1);
    a.sourceWidth = std::clamp(a.sourceWidth, 0, sourceW);
    a.sourceHeight = std::clamp(a.sourceHeight, 0, sourceH);
    return a;
}

// How source pixels of one format become blue, green, red before blending.
struct TPixelReader {
    TKVBitmap& source;
    TKVPixelFormat format;
    bool adjust;  // offsets and contrast of the colour formats
    int contrastFactor;
    double contrastFloat;
    int offset[3];  // red, green, blue
    double rangeMin, rangeMax;

    explicit TPixelReader(TKVBitmap& bitmap, TKVBlendOperation blend)
        : source(bitmap), format(bitmap.GetPixelFormat()),
          adjust(bitmap.AdjustEnabled() != 0 || bitmap.Contrast() != 0 || blend != kvbCopy),
          offset{bitmap.ChannelOffset(0), bitmap.ChannelOffset(1), bitmap.ChannelOffset(2)},
          rangeMin(bitmap.RangeMin()), rangeMax(bitmap.RangeMax()) {
        const int contrast = bitmap.Contrast();
        contrastFloat = contrast < 0 ? 1 - std::sqrt(double(-contrast)) / 10 : contrast / 10.0 + 1;
        contrastFactor = int(contrastFloat * 65536);
    }

    uint8_t Adjust8(int v, int channelOffset) const {
        return uint8_t(std::clamp(int(int64_t(contrastFactor) * (v + channelOffset - 128) / 65536 + 128), 0, 255));
    }
    uint8_t Adjust16(int v, int channelOffset) const {
        return uint8_t(std::clamp(int(std::trunc((v + channelOffset - 32768) * contrastFloat + 32768)) >> 8, 0, 255));
    }
    // Gray levels stretched from the range to 0..255 when a range is set.
    uint8_t Stretch(double v, double low, double high) const {
        return uint8_t(std::trunc((std::clamp(v, low, high) - low) / (high - low) * 255));
    }

    TKVRGB Read(const uint8_t* row, int x) const {
        auto gray = [](int v) { return TKVRGB{uint8_t(v), uint8_t(v), uint8_t(v)}; };
        const bool ranged = rangeMax != rangeMin;
        switch (format) {
            case kv1Bit: return gray(KVGetBit(row, x) ? 255 : 0);
            case kv8Paletted: return source.Palette()[row[x]];
            case kv8Gray:
                return ranged ? gray(Stretch(row[x], std::trunc(rangeMin), std::trunc(rangeMax))) : gray(row[x]);
            case kv16Gray: {
                const uint16_t v = KVLoad<uint16_t>(row + 2 * int64_t(x));
                return ranged ? gray(Stretch(v, std::trunc(rangeMin), std::trunc(rangeMax))) : gray(v >> 8);
            }
            case kv24RGB: {
                const TKVRGB p = KVLoad<TKVRGB>(row + 3 * int64_t(x));
                if (!adjust) return p;
                return TKVRGB{Adjust8(p.b, offset[2]), Adjust8(p.g, offset[1]), Adjust8(p.r, offset[0])};
            }
            case kv32f: {
                const float v = KVLoad<float>(row + 4 * int64_t(x));
                return ranged ? gray(Stretch(std::isnan(v) ? 0 : v, rangeMin, rangeMax)) : gray(int(KVClampUnit(v) * 255));
            }
            case kvCMYK: return KVCMYKToRGB(KVLoad<uint32_t>(row + 4 * int64_t(x)));
            case kvRGB48: {
                const TKVRGB48 p = KVLoad<TKVRGB48>(row + 6 * int64_t(x));
                if (!adjust) return TKVRGB{uint8_t(p.b >> 8), uint8_t(p.g >> 8), uint8_t(p.r >> 8)};
                return TKVRGB{Adjust16(p.b, offset[2]), Adjust16(p.g, offset[1]), Adjust16(p.r, offset[0])};
            }
            default: return TKVRGB{};
        }
    }
};

void RenderDirect(TKVBitmap& source, TKVBitmap& dest, const TKVRenderParams& params, const TArea& a) {
    const int destW = dest.GetWidth(), destH = dest.GetHeight();
    const int sourceW = source.GetWidth(), sourceH = source.GetHeight();
    TKVRenderCache own;
    TKVRenderCache& cache = params.cache ? *params.cache : own;
    // A row table of another destination (or of moved pixels) is never written through.
    if (cache.rows.size() != size_t(destH) || cache.rows.front() != dest.GetScanline(0) ||
        cache.rows.back() != dest.GetScanline(destH - 1)) {
        cache.rows.resize(size_t(destH));
        for (int y = 0; y < destH; ++y) cache.rows[size_t(y)] = dest.GetScanline(y);
    }
    int firstRow = a.destY, lastRow = std::min(a.destY + a.destHeight - 1, destH - 1);
    int firstColumn = a.destX, lastColumn = std::min(a.destX + a.destWidth - 1, destW - 1);
    if (params.clip) {
        firstRow = std::max(firstRow, params.clip->y1);
        lastRow = std::min(lastRow, params.clip->y2);
        firstColumn = std::max(firstColumn, params.clip->x1);
        lastColumn = std::min(lastColumn, params.clip->x2);
    }
    if (cache.columns.size() != size_t(destW) || cache.sourceRows.size() != size_t(destH)) {
        cache.columns.assign(size_t(destW), 0);
        cache.sourceRows.assign(size_t(destH), 0);
        for (int c = 0; c < destW; ++c) cache.columns[size_t(c)] = int((c - a.destX) * a.xRatio + a.sourceX);
        for (int r = 0; r < destH; ++r) cache.sourceRows[size_t(r)] = int((r - a.destY) * a.yRatio + a.sourceY);
    }
    // Nothing is read from outside the source: the last row and column are pulled back.
    while (lastRow >= firstRow && cache.sourceRows[size_t(lastRow)] >= sourceH) --lastRow;
    while (lastColumn >= firstColumn && cache.columns[size_t(lastColumn)] >= sourceW) --lastColumn;
    if (firstRow > lastRow || firstColumn > lastColumn) return;
    if (cache.sourceRows[size_t(firstRow)] < 0 || cache.columns[size_t(firstColumn)] < 0) return;

    TKVBitmap* alpha = params.useAlpha && source.GetHasAlphaChannel() && !source.GetAlphaChannel()->Full()
                           ? source.GetAlphaChannel()
                           : nullptr;
    const int transparency = std::clamp(params.transparency, 0, 255);
    const bool blended = alpha || transparency < 255;
    const TKVPixelFormat format = source.GetPixelFormat();
    const bool blends = format == kv24RGB || format == kvRGB48;
    const bool reuse = params.reuseRows && format != kvRGB48;
    const TPixelReader reader(source, params.blend);
    std::unique_ptr<TKVAccessScope> alphaReading = alpha ? std::make_unique<TKVAccessScope>(*alpha, kvaRead) : nullptr;
    const int count = lastColumn - firstColumn + 1;
    int previousRow = -1;
    for (int r = firstRow; r <= lastRow; ++r) {
        auto* out = reinterpret_cast<TKVRGB*>(cache.rows[size_t(r)]) + firstColumn;
        const int sy = cache.sourceRows[size_t(r)];
        if (reuse && previousRow >= 0 && cache.sourceRows[size_t(previousRow)] == sy) {
            std::memcpy(out, reinterpret_cast<TKVRGB*>(cache.rows[size_t(previousRow)]) + firstColumn, size_t(count) * 3);
            previousRow = r;
            continue;
        }
        const uint8_t* row = source.GetScanline(sy);
        const uint8_t* opacity = alpha ? alpha->GetScanline(sy) : nullptr;
        for (int i = 0; i < count; ++i) {
            const int sx = cache.columns[size_t(firstColumn + i)];
            TKVRGB s = reader.Read(row, sx);
            if (!blended) {
                if (blends && params.blend != kvbCopy) KVBlendPixel(params.blend, s, out[i]);
                else out[i] = s;
                continue;
            }
            if (blends) {
                TKVRGB mixed = out[i];
                KVBlendPixel(params.blend, s, mixed);
                s = mixed;
            }
            const int a = opacity ? std::min<int>(transparency, opacity[sx]) : transparency;
            out[i] = TKVRGB{KVBlendOpacity(s.b, out[i].b, a), KVBlendOpacity(s.g, out[i].g, a),
                            KVBlendOpacity(s.r, out[i].r, a)};
        }
        previousRow = r;
    }
}

bool Filtered(TKVBitmap& source, const TKVRenderParams& p, const TArea& a) {
    const TKVPixelFormat format = source.GetPixelFormat();
    return p.filter != rfNone && (a.sourceWidth != a.destWidth || a.sourceHeight != a.destHeight) &&
           (format == kv1Bit || format == kv24RGB);
}

// The source rectangle resampled to the destination size, with its alpha channel.
std::unique_ptr<TKVBitmap> Resampled(TKVBitmap& source, const TKVRenderParams& p, const TArea& a) {
    auto result = std::make_unique<TKVBitmap>();
    result->SetMemoryThreshold(source.MemoryThreshold());
    const bool oneBit = source.GetPixelFormat() == kv1Bit;
    const bool projection = p.filter == rfProjectBW || p.filter == rfProjectWB;
    const bool withAlpha = p.useAlpha && source.GetHasAlphaChannel();
    if (oneBit && a.destWidth <= a.sourceWidth && !withAlpha && !projection) {
        result->Allocate(a.destWidth, a.destHeight, kv24RGB);
        KVResample1BitToGray(source, a.sourceX, a.sourceY, *result, a.sourceY + a.sourceHeight - 1,
                             a.sourceX + a.sourceWidth - 1);
    } else {
        TKVBitmap part;
        part.SetMemoryThreshold(source.MemoryThreshold());
        part.Allocate(a.sourceWidth, a.sourceHeight, source.GetPixelFormat());
        source.CopyRectTo(part, a.sourceX, a.sourceY, a.sourceWidth, a.sourceHeight, 0, 0);
        if (withAlpha) {
            source.GetAlphaChannel()->CopyRectTo(*part.GetAlphaChannel(), a.sourceX, a.sourceY, a.sourceWidth,
                                                 a.sourceHeight, 0, 0);
            part.GetAlphaChannel()->SetFull(source.GetAlphaChannel()->Full());
        }
        result->Allocate(a.destWidth, a.destHeight, oneBit && projection ? kv1Bit : kv24RGB);
        if (oneBit) KVResample1Bit(part, *result, p.filter);
        else KVResample24Bit(part, *result, p.filter);
        if (withAlpha) {
            KVResampleChannel8(*part.GetAlphaChannel(), *result->GetAlphaChannel(), p.filter);
            result->GetAlphaChannel()->SetFull(part.GetAlphaChannel()->Full());
        }
    }
    for (int c = 0; c < 3; ++c) result->SetChannelOffset(c, source.ChannelOffset(c));
    result->SetAdjustEnabled(source.AdjustEnabled());
    result->SetContrast(source.Contrast());
    return result;
}

}  // namespace

void TKVBitmap::RenderToTKVBitmap(TKVBitmap& dest, const TKVRenderParams& params) {
    if (&dest == this) throw Exception("A bitmap cannot be rendered into itself");
    if (dest.GetPixelFormat() != kv24RGB || dest.Location() == kvFile)
        throw Exception("Render destination must be a 24-bit bitmap in memory or in a TBitmap");
    TKVAccessScope reading(*this, kvaRead);
    if (IsEmpty() || params.destWidth <= 0 || params.destHeight <= 0 || params.sourceWidth <= 0 ||
        params.sourceHeight <= 0)
        return;
    const int destW = dest.GetWidth(), destH = dest.GetHeight();
    if (dest.IsEmpty() || params.destX >= destW || params.destY >= destH) return;
    const TArea area = Clipped(params, destW, destH, GetWidth(), GetHeight());
    if (area.destWidth <= 0 || area.destHeight <= 0 || area.sourceWidth <= 0 || area.sourceHeight <= 0) return;
    if (Filtered(*this, params, area)) {
        auto resampled = Resampled(*this, params, area);
        TKVRenderParams direct = params;
        direct.destX = area.destX;
        direct.destY = area.destY;
        direct.destWidth = direct.sourceWidth = area.destWidth;
        direct.destHeight = direct.sourceHeight = area.destHeight;
        direct.sourceX = direct.sourceY = 0;
        direct.filter = rfNone;
        direct.cache = nullptr;
        resampled->RenderToTKVBitmap(dest, direct);
        return;
    }
    RenderDirect(*this, dest, params, area);
    if (params.cache && params.freeCaches) *params.cache = TKVRenderCache{};
}

void TKVBitmap::RenderToTBitmap(TBitmap& dest, const TKVRenderParams& params) {
    if (dest.PixelFormat() != TPixelFormat::pf24bit) dest.SetPixelFormat(TPixelFormat::pf24bit);
    TKVBitmap wrapper;
    wrapper.EncapsulateTBitmap(&dest, false);
    RenderToTKVBitmap(wrapper, params);
}

void TKVBitmap::DrawToTKVBitmap(TKVBitmap& dest, int destX, int destY, int destWidth, int destHeight, int sourceX,
                                int sourceY, int sourceWidth, int sourceHeight, int transparency,
                                TKVBlendOperation blend, TResampleFilter filter) {
    TKVRenderParams params;
    params.destX = destX, params.destY = destY, params.destWidth = destWidth, params.destHeight = destHeight;
    params.sourceX = sourceX, params.sourceY = sourceY, params.sourceWidth = sourceWidth;
    params.sourceHeight = sourceHeight;
    params.transparency = transparency;
    params.blend = blend;
    params.filter = filter;
    RenderToTKVBitmap(dest, params);
}

void TKVBitmap::DrawToTBitmap(TBitmap& dest, int destX, int destY, int destWidth, int destHeight, int sourceX,
                              int sourceY, int sourceWidth, int sourceHeight, int transparency,
                              TKVBlendOperation blend, TResampleFilter filter) {
    if (dest.PixelFormat() != TPixelFormat::pf24bit) dest.SetPixelFormat(TPixelFormat::pf24bit);
    TKVBitmap wrapper;
    wrapper.EncapsulateTBitmap(&dest, false);
    DrawToTKVBitmap(wrapper, destX, destY, destWidth, destHeight, sourceX, sourceY, sourceWidth, sourceHeight,
                    transparency, blend, filter);
}
