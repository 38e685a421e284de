// Single pixels, fills, rectangle copies and copies from other bitmaps.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVPixelCodec.h"
#include "imaging/core/KVDibBitmap.h"
#include "imaging/core/KVBits.h"
#include "platform/Graphics.h"

namespace {

// A fill value truncated towards zero; values beyond 64 bits and NaN give 0.
int64_t TruncValue(double value) {
    return std::isfinite(value) && std::fabs(value) < 9.2e18 ? int64_t(std::trunc(value)) : 0;
}

// The colour formats take a class-library colour (its low 32 bits).
TKVRGB ColorOfValue(double value) { return KVColorToRGB(int32_t(uint32_t(TruncValue(value)))); }

bool IsWhite(const TKVRGB& rgb) { return rgb.r == 255 && rgb.g == 255 && rgb.b == 255; }

// The bytes of one pixel of a value in a format of whole bytes per pixel.
std::vector<uint8_t> PixelBytes(TKVPixelFormat format, double value, bool truncateFloat) {
    std::vector<uint8_t> bytes(size_t(KVBytesPerPixel(format)));
    const int64_t integer = TruncValue(value);
    switch (format) {
        case kv8Paletted:
        case kv8Gray: bytes[0] = uint8_t(integer); break;
        case kv16Gray: KVStore(bytes.data(), uint16_t(integer)); break;
        case kv24RGB: KVStore(bytes.data(), ColorOfValue(value)); break;
        // Stored as given: RangeMin and RangeMax exist for levels outside 0..1.
        case kv32f: KVStore(bytes.data(), truncateFloat ? float(integer) : float(value)); break;
        case kvCMYK: KVStore(bytes.data(), KVRGBToCMYK(ColorOfValue(value))); break;
        case kvRGB48: {
            const TKVRGB rgb = ColorOfValue(value);
            KVStore(bytes.data(), TKVRGB48{uint16_t(rgb.r * 257), uint16_t(rgb.g * 257), uint16_t(rgb.b * 257)});
            break;
        }
        default: break;
    }
    return bytes;
}

// Whether a fill with the value leaves a wholly opaque picture (every byte 255).
bool IsFullValue(TKVPixelFormat format, double value, bool truncateFloat) {
    const int64_t integer = TruncValue(value);
    switch (format) {
        case kv1Bit: return integer != 0;
        case kv8Paletted:
        case kv8Gray: return integer == 255;
        case kv16Gray: return integer == 65535;
        case kv32f: return (truncateFloat ? double(integer) : value) == 1.0;
        default: return IsWhite(ColorOfValue(value));
    }
}

}  // namespace

// --- Single pixels

uint8_t TKVBitmap::GetByte(int x, int y) { return GetScanline(y)[x]; }

void TKVBitmap::SetByte(int x, int y, uint8_t value) {
    GetScanline(y)[x] = value;
    if (value != 255) full_ = false;
}

uint16_t TKVBitmap::GetWord(int x, int y) { return KVLoad<uint16_t>(GetScanline(y) + 2 * int64_t(x)); }

void TKVBitmap::SetWord(int x, int y, uint16_t value) {
    KVStore(GetScanline(y) + 2 * int64_t(x), value);
    if (value != 65535) full_ = false;
}

float TKVBitmap::GetFloat(int x, int y) { return KVLoad<float>(GetScanline(y) + 4 * int64_t(x)); }

void TKVBitmap::SetFloat(int x, int y, float value) {
    KVStore(GetScanline(y) + 4 * int64_t(x), value);
    if (value != 1.0f) full_ = false;
}

uint32_t TKVBitmap::GetCMYK(int x, int y) { return KVLoad<uint32_t>(GetScanline(y) + 4 * int64_t(x)); }

void TKVBitmap::SetCMYK(int x, int y, uint32_t value) { KVStore(GetScanline(y) + 4 * int64_t(x), value); }

TKVRGB48 TKVBitmap::GetRGB48(int x, int y) { return KVLoad<TKVRGB48>(GetScanline(y) + 6 * int64_t(x)); }

void TKVBitmap::SetRGB48(int x, int y, TKVRGB48 value) {
    KVStore(GetScanline(y) + 6 * int64_t(x), value);
    if (value.r != 65535 || value.g != 65535 || value.b != 65535) full_ = false;
}

TKVRGB TKVBitmap::GetPixelRGB(int x, int y) {
    const TKVPixelFormat format = GetPixelFormat();
    if (format == kvNoFormat || IsEmpty()) return TKVRGB{};
    const uint8_t* row = GetScanline(y);
    switch (format) {
        case kv1Bit: return KVGetBit(row, x) ? TKVRGB{255, 255, 255} : TKVRGB{};
        case kv8Paletted: return row[x] < palette_.size() ? palette_[row[x]] : TKVRGB{};
        case kv8Gray: return TKVRGB{row[x], row[x], row[x]};
        case kv16Gray: {
            const auto v = uint8_t(KVLoad<uint16_t>(row + 2 * int64_t(x)) >> 8);
            return TKVRGB{v, v, v};
        }
        case kv24RGB: return KVLoad<TKVRGB>(row + 3 * int64_t(x));
        case kv32f: {
            const auto v = uint8_t(KVClampUnit(KVLoad<float>(row + 4 * int64_t(x))) * 255);
            return TKVRGB{v, v, v};
        }
        case kvCMYK: return KVCMYKToRGB(KVLoad<uint32_t>(row + 4 * int64_t(x)));
        case kvRGB48: {
            const auto p = KVLoad<TKVRGB48>(row + 6 * int64_t(x));
            return KVCreateRGB(uint8_t(p.r >> 8), uint8_t(p.g >> 8), uint8_t(p.b >> 8));
        }
        default: return TKVRGB{};
    }
}

uint8_t TKVBitmap::GetAlpha(int x, int y) {
    if (isAlpha_) return GetByte(x, y);
    return GetAlphaChannel()->GetByte(x, y);
}

void TKVBitmap::SetAlpha(int x, int y, uint8_t value) {
    if (isAlpha_) {
        SetByte(x, y, value);
        return;
    }
    GetAlphaChannel()->SetByte(x, y, value);
    if (value != 255) full_ = false;
}

// --- Fills

void TKVBitmap::Fill(double value) {
    if (IsEmpty()) return;
    const TKVPixelFormat format = pixelFormat_;
    const int64_t integer = TruncValue(value);
    TKVAccessScope writing(*this, kvaWrite);
    if (format == kv1Bit || KVBytesPerPixel(format) == 1) {
        const uint8_t byte = format == kv1Bit ? (integer != 0 ? 0xFF : 0) : uint8_t(integer);
        for (int y = 0; y < height_; ++y) std::memset(GetScanline(y), byte, size_t(rowLen_));
        full_ = IsFullValue(format, value, false);
        return;
    }
    const std::vector<uint8_t> pixel = PixelBytes(format, value, false);
    std::vector<uint8_t> row(size_t(rowLen_), 0);
    for (int x = 0; x < width_; ++x) std::memcpy(row.data() + int64_t(x) * pixel.size(), pixel.data(), pixel.size());
    for (int y = 0; y < height_; ++y) std::memcpy(GetScanline(y), row.data(), row.size());
    full_ = IsFullValue(format, value, false);
}

void TKVBitmap::FillRect(int x1, int y1, int x2, int y2, double value) {
    if (IsEmpty()) return;
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, width_ - 1);
    y2 = std::min(y2, height_ - 1);
    if (x1 > x2 || y1 > y2) return;
    if (!IsFullValue(pixelFormat_, value, true)) full_ = false;
    TKVAccessScope updating(*this, kvaReadWrite);
    if (pixelFormat_ == kv1Bit) {
        const bool set = TruncValue(value) != 0;
        for (int y = y1; y <= y2; ++y) {
            uint8_t* row = GetScanline(y);
            for (int x = x1; x <= x2; ++x) KVSetBit(row, x, set);
        }
        return;
    }
    const std::vector<uint8_t> pixel = PixelBytes(pixelFormat_, value, true);
    const size_t size = pixel.size();
    for (int y = y1; y <= y2; ++y) {
        uint8_t* row = GetScanline(y);
        for (int x = x1; x <= x2; ++x) std::memcpy(row + int64_t(x) * size, pixel.data(), size);
    }
}

// --- Rectangle copies

namespace {

// The part of a rectangle that lies inside both bitmaps; false when nothing does.
bool ClipCopy(int sourceWidth, int sourceHeight, int destWidth, int destHeight, int& sx, int& sy, int& w, int& h,
              int& dx, int& dy) {
    auto clipAxis = [](int sourceSize, int destSize, int& s, int& d, int& n) {
        if (d < 0) {
            s -= d;
            n += d;
            d = 0;
        }
        if (s < 0) {
            d -= s;
            n += s;
            s = 0;
        }
        n = std::min({n, sourceSize - s, destSize - d});
        return n > 0;
    };
    return clipAxis(sourceWidth, destWidth, sx, dx, w) && clipAxis(sourceHeight, destHeight, sy, dy, h);
}

// Runs copyRow(destRow, sourceCopy) for each row of a clipped rectangle. The source row is copied
// first, so the two bitmaps may be one and the same, in any location.
template <typename CopyRow>
void ForEachRectRow(TKVBitmap& source, TKVBitmap& dest, int sy, int h, int dy, CopyRow copyRow) {
    std::vector<uint8_t> sourceRow(size_t(source.GetRowLen()));
    const bool upwards = &source == &dest && dy > sy;
    for (int i = 0; i < h; ++i) {
        const int row = upwards ? h - 1 - i : i;
        {
            TKVAccessScope reading(source, kvaRead);
            std::memcpy(sourceRow.data(), source.GetScanline(sy + row), sourceRow.size());
        }
        copyRow(dest.GetScanline(dy + row), sourceRow.data());
    }
}

}  // namespace

void TKVBitmap::CopyRectTo(TKVBitmap& dest, int sourceX, int sourceY, int width, int height, int destX, int destY) {
    if (IsEmpty() || dest.IsEmpty()) return;
    if (!ClipCopy(width_, height_, dest.GetWidth(), dest.GetHeight(), sourceX, sourceY, width, height, destX, destY))
        return;
    const TKVPixelFormat from = pixelFormat_, to = dest.GetPixelFormat();
    if (from == kv1Bit && to == kv1Bit) {
        ForEachRectRow(*this, dest, sourceY, height, destY, [&](uint8_t* d, const uint8_t* s) {
            KVCopyBits(d, s, destX, rowLen_, width, sourceX);
        });
    } else if (from == kv1Bit && to == kv24RGB) {
        ForEachRectRow(*this, dest, sourceY, height, destY, [&](uint8_t* d, const uint8_t* s) {
            for (int x = 0; x < width; ++x)
                std::memset(d + 3 * int64_t(destX + x), KVGetBit(s, sourceX + x) ? 255 : 0, 3);
        });
    } else if (from == to && KVBytesPerPixel(from) > 0) {
        const int64_t size = KVBytesPerPixel(from);
        ForEachRectRow(*this, dest, sourceY, height, destY, [&](uint8_t* d, const uint8_t* s) {
            std::memcpy(d + destX * size, s + sourceX * size, size_t(width * size));
        });
    } else {
        return;
    }
    if (!full_) dest.full_ = false;
}

void TKVBitmap::CopyAlphaRectTo(TKVBitmap& dest, int sourceX, int sourceY, int width, int height, int destX,
                                int destY) {
    TKVBitmap* sourceAlpha = isAlpha_ ? this : GetAlphaChannel();
    TKVBitmap* destAlpha = dest.isAlpha_ ? &dest : dest.GetAlphaChannel();
    if (sourceAlpha->IsEmpty() || destAlpha->IsEmpty()) return;
    if (!ClipCopy(sourceAlpha->width_, sourceAlpha->height_, destAlpha->width_, destAlpha->height_, sourceX, sourceY,
                  width, height, destX, destY))
        return;
    ForEachRectRow(*sourceAlpha, *destAlpha, sourceY, height, destY, [&](uint8_t* d, const uint8_t* s) {
        for (int x = 0; x < width; ++x) d[destX + x] = std::max(d[destX + x], s[sourceX + x]);
    });
}

void TKVBitmap::MoveRegion(int x1, int y1, int x2, int y2, int destX, int destY, double fillValue) {
    if (IsEmpty() || x2 < x1 || y2 < y1) return;
    TKVBitmap region;
    region.SetLocation(kvMemory);
    if (memoryThreshold_) region.SetMemoryThreshold(*memoryThreshold_);
    region.Allocate(x2 - x1 + 1, y2 - y1 + 1, GetPixelFormat());
    CopyRectTo(region, x1, y1, x2 - x1 + 1, y2 - y1 + 1, 0, 0);
    FillRect(x1, y1, x2, y2, fillValue);
    region.CopyRectTo(*this, 0, 0, x2 - x1 + 1, y2 - y1 + 1, destX, destY);
}

namespace {

// Before shrinking: brings the part that stays to the top-left corner.
void KeepAlignedPart(TKVBitmap& bitmap, int width, int height, int horzAlign, int vertAlign, double fillValue) {
    const int oldWidth = bitmap.GetWidth(), oldHeight = bitmap.GetHeight();
    if (width < oldWidth && (horzAlign == 1 || horzAlign == 2)) {
        const int start = horzAlign == 1 ? (oldWidth - width) / 2 : oldWidth - width;
        bitmap.MoveRegion(start, 0, start + width - 1, oldHeight - 1, 0, 0, fillValue);
    }
    if (height < oldHeight && (vertAlign == 1 || vertAlign == 2)) {
        const int start = vertAlign == 1 ? (oldHeight - height) / 2 : oldHeight - height;
        bitmap.MoveRegion(0, start, oldWidth - 1, start + height - 1, 0, 0, fillValue);
    }
}

// After growing: fills the new area and moves the old content into its aligned place.
void PlaceAlignedContent(TKVBitmap& bitmap, int oldWidth, int oldHeight, int horzAlign, int vertAlign,
                         double fillValue) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    if (oldWidth < width) {
        bitmap.FillRect(oldWidth, 0, width - 1, height - 1, fillValue);
        const int shift = horzAlign == 1 ? (width - oldWidth) / 2 : horzAlign == 2 ? width - oldWidth : 0;
        if (shift > 0) bitmap.MoveRegion(0, 0, oldWidth - 1, height - 1, shift, 0, fillValue);
    }
    if (oldHeight < height) {
        bitmap.FillRect(0, oldHeight, width - 1, height - 1, fillValue);
        const int shift = vertAlign == 1 ? (height - oldHeight) / 2 : vertAlign == 2 ? height - oldHeight : 0;
        if (shift > 0) bitmap.MoveRegion(0, 0, width - 1, oldHeight - 1, 0, shift, fillValue);
    }
}

}  // namespace

void TKVBitmap::ResizeCanvas(int width, int height, int horzAlign, int vertAlign, double fillValue,
                             double alphaFillValue) {
    const int oldWidth = GetWidth(), oldHeight = GetHeight();
    KeepAlignedPart(*this, width, height, horzAlign, vertAlign, fillValue);
    if (alphaChannel_) KeepAlignedPart(*alphaChannel_, width, height, horzAlign, vertAlign, alphaFillValue);
    SetWidth(width);
    SetHeight(height);
    PlaceAlignedContent(*this, oldWidth, oldHeight, horzAlign, vertAlign, fillValue);
    if (alphaChannel_) PlaceAlignedContent(*alphaChannel_, oldWidth, oldHeight, horzAlign, vertAlign, alphaFillValue);
}

// --- Copies from other bitmaps

void TKVBitmap::CopyFromTBitmap(TBitmap& source) {
    if (location_ == kvTBitmap) {
        if (!bitmap_) {
            bitmap_ = new TBitmap;
            bitmapNotOwned_ = false;
        }
        if (bitmap_ != &source) bitmap_->Assign(source);
        width_ = height_ = 0;  // read everything back
        SyncWithTBitmap();
        full_ = false;
        return;
    }
    const int width = source.Width(), height = source.Height();
    const std::vector<TPaletteEntry>& entries = source.Palette();
    const TPixelFormat format = source.PixelFormat();
    const bool mono = format == TPixelFormat::pf1bit &&
                      (entries.size() < 2 || (entries[0] == TPaletteEntry{0, 0, 0, entries[0].peFlags} &&
                                              entries[1] == TPaletteEntry{255, 255, 255, entries[1].peFlags}));
    TKVPixelFormat target;
    switch (format) {
        case TPixelFormat::pf1bit: target = mono ? kv1Bit : kv8Paletted; break;
        case TPixelFormat::pf4bit:
        case TPixelFormat::pf8bit: target = kv8Paletted; break;
        case TPixelFormat::pf15bit:
        case TPixelFormat::pf16bit:
        case TPixelFormat::pf24bit:
        case TPixelFormat::pf32bit: target = kv24RGB; break;
        default: return;
    }
    Allocate(width, height, target);
    if (IsEmpty()) return;
    if (target == kv8Paletted)
        for (size_t i = 0; i < std::min<size_t>(entries.size(), 256); ++i)
            palette_[i] = KVCreateRGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue);
    TKVAccessScope writing(*this, kvaWrite);
    const size_t sourceBytes = size_t(std::min<int64_t>(source.RowBytes(), rowLen_));
    for (int y = 0; y < height; ++y) {
        uint8_t* row = GetScanline(y);
        const uint8_t* from = source.ScanLine(y);
        switch (format) {
            case TPixelFormat::pf1bit:
                if (mono) std::memcpy(row, from, sourceBytes);
                else
                    for (int x = 0; x < width; ++x) row[x] = KVGetBit(from, x) ? 1 : 0;
                break;
            case TPixelFormat::pf4bit:
                for (int x = 0; x < width; ++x) row[x] = (x & 1) ? from[x >> 1] & 0xF : from[x >> 1] >> 4;
                break;
            case TPixelFormat::pf8bit:
            case TPixelFormat::pf24bit: std::memcpy(row, from, sourceBytes); break;
            case TPixelFormat::pf15bit:
                for (int x = 0; x < width; ++x) {
                    const int v = from[2 * x] | (from[2 * x + 1] << 8);
                    KVStore(row + 3 * int64_t(x),
                          KVCreateRGB(uint8_t(((v >> 10) & 31) << 3), uint8_t(((v >> 5) & 31) << 3), uint8_t((v & 31) << 3)));
                }
                break;
            case TPixelFormat::pf16bit:
                for (int x = 0; x < width; ++x) {
                    const int v = from[2 * x] | (from[2 * x + 1] << 8);
                    KVStore(row + 3 * int64_t(x),
                          KVCreateRGB(uint8_t((v >> 11) << 3), uint8_t(((v >> 5) & 63) << 2), uint8_t((v & 31) << 3)));
                }
                break;
            default:  // 32-bit: the first three bytes of each pixel
                for (int x = 0; x < width; ++x) std::memcpy(row + 3 * int64_t(x), from + 4 * int64_t(x), 3);
                break;
        }
    }
    full_ = false;
}

void TKVBitmap::CopyFromDibbitmap(TKVDibbitmap* source) {
    if (!source) return;
    const int bits = source->GetBitCount();
    const TKVPixelFormat format = bits == 1 ? kv1Bit : bits == 8 ? kv8Gray : kv24RGB;
    Allocate(source->GetWidth(), source->GetHeight(), format);
    if (IsEmpty()) return;
    TKVAccessScope writing(*this, kvaWrite);
    const size_t bytes = size_t(std::min(GetRowLen(), source->GetRowLen()));
    for (int y = 0; y < height_; ++y) std::memcpy(GetScanline(y), source->GetScanline(y), bytes);
}
