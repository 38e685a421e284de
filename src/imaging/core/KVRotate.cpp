#include "imaging/core/KVRotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVProgress.h"

namespace {

std::unique_ptr<TKVBitmap> MemoryBitmap(int width, int height, TKVPixelFormat format) {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->SetMemoryThreshold(INT64_MAX);
    bitmap->SetLocation(kvMemory);
    bitmap->Allocate(width, height, format);
    return bitmap;
}

// Copies every pixel of Bytes bytes (0: one bit) of the source to where move puts it. The
// source is read in bands of rows and written in blocks, so that quarter turns, which scatter a
// source row over the whole target, stay within the caches.
template <int Bytes, typename Move>
void MovePixels(TKVBitmap& source, TKVBitmap& result, const Move& move) {
    constexpr int Band = 64;
    const int sourceWidth = source.GetWidth(), sourceHeight = source.GetHeight();
    const size_t rowLen = size_t(source.GetRowLen());
    std::vector<uint8_t*> targets(static_cast<size_t>(result.GetHeight()));
    for (int y = 0; y < result.GetHeight(); ++y) targets[size_t(y)] = result.GetScanline(y);  // all in memory
    std::vector<uint8_t> band(rowLen * Band);
    for (int top = 0; top < sourceHeight; top += Band) {
        const int rows = std::min(Band, sourceHeight - top);
        for (int i = 0; i < rows; ++i) std::memcpy(band.data() + rowLen * size_t(i), source.GetScanline(top + i), rowLen);
        for (int left = 0; left < sourceWidth; left += Band) {
            const int right = std::min(left + Band, sourceWidth);
            for (int i = 0; i < rows; ++i) {
                const uint8_t* row = band.data() + rowLen * size_t(i);
                for (int x = left; x < right; ++x) {
                    int toX, toY;
                    move(x, top + i, toX, toY);
                    uint8_t* target = targets[size_t(toY)];
                    if constexpr (Bytes == 0) KVSetBit(target, toX, KVGetBit(row, x) != 0);
                    else std::memcpy(target + int64_t(toX) * Bytes, row + int64_t(x) * Bytes, Bytes);
                }
            }
        }
    }
}

// A new picture of the given size holding every source pixel at the place move(x, y, toX, toY)
// gives it.
template <typename Move>
std::unique_ptr<TKVBitmap> Moved(TKVBitmap& source, int width, int height, const Move& move) {
    auto result = MemoryBitmap(width, height, source.GetPixelFormat());
    for (int i = 0; i < result->GetPaletteCount(); ++i) source.GetPaletteEntry(i, result->Palette()[i]);
    TKVAccessScope reading(source, kvaRead);
    switch (source.GetBitCount()) {
        case 1: MovePixels<0>(source, *result, move); break;
        case 8: MovePixels<1>(source, *result, move); break;
        case 16: MovePixels<2>(source, *result, move); break;
        case 24: MovePixels<3>(source, *result, move); break;
        case 32: MovePixels<4>(source, *result, move); break;
        case 48: MovePixels<6>(source, *result, move); break;
        default: break;
    }
    return result;
}

// Replaces the picture and its alpha channel by their moved forms.
template <typename Move>
void MoveInPlace(TKVBitmap& bitmap, int width, int height, const Move& move) {
    if (bitmap.IsEmpty()) return;
    auto moved = Moved(bitmap, width, height, move);
    std::unique_ptr<TKVBitmap> alpha =
        bitmap.GetHasAlphaChannel() ? Moved(*bitmap.GetAlphaChannel(), width, height, move) : nullptr;
    bitmap.AssignImage(*moved);
    if (alpha) {
        const bool full = bitmap.GetAlphaChannel()->Full();
        bitmap.GetAlphaChannel()->Assign(alpha.get());
        bitmap.GetAlphaChannel()->SetFull(full);
    }
}

void TurnCCW(TKVBitmap& bitmap) {
    const int width = bitmap.GetWidth();
    MoveInPlace(bitmap, bitmap.GetHeight(), width, [width](int x, int y, int& toX, int& toY) {
        toX = y;
        toY = width - 1 - x;
    });
}

void TurnCW(TKVBitmap& bitmap) {
    const int height = bitmap.GetHeight();
    MoveInPlace(bitmap, height, bitmap.GetWidth(), [height](int x, int y, int& toX, int& toY) {
        toX = height - 1 - y;
        toY = x;
    });
}

void TurnHalf(TKVBitmap& bitmap) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    MoveInPlace(bitmap, width, height, [width, height](int x, int y, int& toX, int& toY) {
        toX = width - 1 - x;
        toY = height - 1 - y;
    });
}

// A picture of Channels bytes per pixel held in memory, rows from the top.
template <int Channels>
struct TPlane {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    TPlane(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h) * Channels) {}
    uint8_t* At(int x, int y) { return pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * Channels; }
};

// Places a run of count pixels, read by pixel(i), at offset along a line of length pixels
// written by put(position, value), with the antialiasing blend of each pixel and the one before.
// The blend starts from the whole position below the offset: starting from the rounded one would
// extrapolate when the offset was rounded up, and the clamped overshoot moves thin lines.
template <int Channels, typename Pixel, typename Put>
void PlaceRun(int count, int length, double offset, bool roundFraction, bool antiAlias, const uint8_t* background,
              Pixel pixel, Put put) {
    if (!antiAlias) {
        const int n = int(std::nearbyint(offset));
        for (int i = 0; i < count; ++i)
            if (n + i >= 0 && n + i < length) put(n + i, pixel(i));
        return;
    }
    const int n = int(std::floor(offset));
    const double raw = (offset - n) * 4096;
    const int f = int(roundFraction ? std::nearbyint(raw) : std::trunc(raw)), g = 4096 - f;
    auto blend = [&](const uint8_t* previous, const uint8_t* current, uint8_t* out) {
        for (int c = 0; c < Channels; ++c)
            out[c] = uint8_t(std::clamp(int(std::nearbyint((previous[c] * f + current[c] * g + 2048) / 4096.0)), 0, 255));
    };
    const uint8_t* previous = background;
    uint8_t value[Channels];
    for (int i = 0; i < count; ++i) {
        const uint8_t* current = pixel(i);
        blend(previous, current, value);
        if (n + i >= 0 && n + i < length) put(n + i, value);
        previous = current;
    }
    if (f > 0 && n + count >= 0 && n + count < length) {
        blend(previous, background, value);
        put(n + count, value);
    }
}

// The three shears of a turn by -45..45 degrees (not 0).
template <int Channels>
TPlane<Channels> Shear(TPlane<Channels>& source, double degrees, bool antiAlias, const uint8_t* background,
                       const std::function<void(int done, int total)>& progress) {
    const double theta = degrees * std::numbers::pi / 180;
    const bool positive = theta > 0;
    const double t = std::fabs(std::sin(theta / 2) / std::cos(theta / 2)), s = std::fabs(std::sin(theta));
    const int w = source.width, h = source.height;
    const int m = int(std::nearbyint(h * t + w + 1));
    const int k1 = int(std::nearbyint((m - w) * s));
    const int h1 = int(std::nearbyint(s * m + h + 1));
    const int k2 = int(std::nearbyint(t * (h1 - h - k1)));
    const int h2 = std::max(int(std::nearbyint(h1 - 2.0 * k1)), 1);
    const int w2 = std::max(int(std::nearbyint(t * h2 + m + 1 - 2.0 * k2)), 1);
    auto fill = [&](TPlane<Channels>& plane) {
        for (size_t i = 0; i < plane.pixels.size(); i += Channels) std::memcpy(&plane.pixels[i], background, Channels);
    };
    auto offset1 = [&](int y) { return (positive ? y : h - y) * t; };
    auto offset2 = [&](int x) { return (positive ? m - x : x) * s - k1; };
    auto offset3 = [&](int y) { return (positive ? y : h2 - y) * t - k2; };
    // The sizes above leave the turned picture up to a pixel or two off the middle; the last two
    // shears move it so that the source's centre lands on the result's (the offsets are taken at
    // whole rows and columns, whose centres lie half a pixel further on).
    const double centreX1 = w / 2.0 + offset1(0) + (offset1(1) - offset1(0)) * (h / 2.0 - 0.5);
    const double shiftY = h2 / 2.0 - h / 2.0 - (offset2(0) + (offset2(1) - offset2(0)) * (centreX1 - 0.5));
    const double shiftX = w2 / 2.0 - centreX1 - (offset3(0) + (offset3(1) - offset3(0)) * (h2 / 2.0 - 0.5));
    TPlane<Channels> first(m, h), second(m, h2), result(w2, h2);
    fill(first);
    fill(second);
    fill(result);
    for (int y = 0; y < h; ++y) {
        PlaceRun<Channels>(w, m, offset1(y), false, antiAlias, background,
                           [&](int i) { return source.At(i, y); },
                           [&](int p, const uint8_t* v) { std::memcpy(first.At(p, y), v, Channels); });
        progress(y, h + m + h2);
    }
    for (int x = 0; x < m; ++x) {
        PlaceRun<Channels>(h, h2, offset2(x) + shiftY, true, antiAlias, background,
                           [&](int i) { return first.At(x, i); },
                           [&](int p, const uint8_t* v) { std::memcpy(second.At(x, p), v, Channels); });
        progress(h + x, h + m + h2);
    }
    for (int y = 0; y < h2; ++y) {
        PlaceRun<Channels>(m, w2, offset3(y) + shiftX, true, antiAlias, background,
                           [&](int i) { return second.At(i, y); },
                           [&](int p, const uint8_t* v) { std::memcpy(result.At(p, y), v, Channels); });
        progress(h + m + y, h + m + h2);
    }
    return result;
}

template <int Channels>
TPlane<Channels> ReadPlane(TKVBitmap& bitmap) {
    TPlane<Channels> plane(bitmap.GetWidth(), bitmap.GetHeight());
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < plane.height; ++y) std::memcpy(plane.At(0, y), bitmap.GetScanline(y), size_t(plane.width) * Channels);
    return plane;
}

template <int Channels>
void WritePlane(TPlane<Channels>& plane, TKVBitmap& bitmap) {
    TKVAccessScope writing(bitmap, kvaWrite);
    for (int y = 0; y < plane.height; ++y) std::memcpy(bitmap.GetScanline(y), plane.At(0, y), size_t(plane.width) * Channels);
}

void ShearRotate(TKVBitmap& bitmap, bool antiAlias, uint32_t background, double degrees, TObject* sender,
                 const TKVProgressEvent& progress) {
    auto picture = ReadPlane<3>(bitmap);
    auto report = [&](int done, int total) {
        if (progress) progress(sender, int(done * (100.0 / total)));
    };
    const uint8_t color[3] = {uint8_t(background), uint8_t(background >> 8), uint8_t(background >> 16)};
    auto turned = Shear<3>(picture, degrees, antiAlias, color, report);
    std::unique_ptr<TKVBitmap> alpha;
    if (bitmap.GetHasAlphaChannel()) {
        // The corners show the background the caller asked for: opaque.
        auto opacity = ReadPlane<1>(*bitmap.GetAlphaChannel());
        const uint8_t opaque[1] = {255};
        auto turnedAlpha = Shear<1>(opacity, degrees, antiAlias, opaque, [](int, int) {});
        alpha = TKVBitmap::CreateAlpha(turnedAlpha.width, turnedAlpha.height, kvMemory);
        WritePlane(turnedAlpha, *alpha);
        alpha->SyncFull();
    }
    auto result = MemoryBitmap(turned.width, turned.height, kv24RGB);
    WritePlane(turned, *result);
    bitmap.AssignImage(*result);
    if (alpha) bitmap.GetAlphaChannel()->Assign(alpha.get());
}

}  // namespace

void KVRotate90CW(TKVBitmap& source, TKVBitmap& dest) {
    if (&source == &dest || source.IsEmpty()) return;
    dest.Assign(&source);
    TurnCW(dest);
}

void KVRotate90CCW(TKVBitmap& source, TKVBitmap& dest) {
    if (&source == &dest || source.IsEmpty()) return;
    dest.Assign(&source);
    TurnCCW(dest);
}

void KVRotateBitmap(TKVBitmap& bitmap, bool antiAlias, uint32_t background, double angle, TObject* sender,
                    const TKVProgressEvent& progress) {
    if (angle == 0 || bitmap.IsEmpty()) return;
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    if (format == kv1Bit) {
        const bool white = (background & 0xFF) && (background & 0xFF00) && (background & 0xFF0000);
        TKVProgressRec record;
        record.OnProgress = progress;
        record.Sender = sender;
        KVRotate1Bit(bitmap, white, angle, &record);
        return;
    }
    const int64_t thousandths = int64_t(std::trunc(angle * 1000)) % 360000;
    double c = thousandths / 1000.0;
    int quarters = 0;
    for (; c > 45; c -= 90) ++quarters;
    for (; c < -45; c += 90) --quarters;
    if (format != kv24RGB && c != 0) bitmap.SetPixelFormat(kv24RGB);
    if (quarters == 2 || quarters == -2) {
        TurnHalf(bitmap);
    } else {
        for (int i = 0; i < quarters; ++i) TurnCCW(bitmap);
        for (int i = 0; i > quarters; --i) TurnCW(bitmap);
    }
    if (c != 0) ShearRotate(bitmap, antiAlias, background, c, sender, progress);
}

void KVRotate1Bit(TKVBitmap& bitmap, bool whiteBackground, double angle, const TKVProgressRec* progress) {
    if (bitmap.IsEmpty()) return;
    if (bitmap.GetPixelFormat() != kv1Bit) bitmap.SetPixelFormat(kv1Bit);
    if (angle == 90) return TurnCCW(bitmap);
    if (angle == -90 || angle == 270) return TurnCW(bitmap);
    if (angle == 180 || angle == -180) return TurnHalf(bitmap);
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const double r = -angle / 57.295779513082320877;
    const double c = std::trunc(std::cos(r) * 10000) / 10000, s = std::trunc(std::sin(r) * 10000) / 10000;
    const int targetWidth = std::max(int(std::fabs(width * c) + std::fabs(height * s)), 1);
    const int targetHeight = std::max(int(std::fabs(width * s) + std::fabs(height * c)), 1);
    // The whole source at hand, since every target row reads many source rows.
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(height));
    {
        TKVAccessScope reading(bitmap, kvaRead);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = bitmap.GetScanline(y);
            rows[size_t(y)].assign(row, row + bitmap.GetRowLen());
        }
    }
    auto result = MemoryBitmap(targetWidth, targetHeight, kv1Bit);
    for (int o = 0; o < targetHeight; ++o) {
        uint8_t* out = result->GetScanline(o);
        const double v = o - (targetHeight / 2.0 - 0.5);
        for (int k = 0; k < targetWidth; ++k) {
            const double u = k - (targetWidth / 2.0 - 0.5);
            const int x = int(width / 2.0 - 0.5 + s * v) + int(c * u);
            const int y = int(height / 2.0 - 0.5 + c * v) + int(-s * u);
            const bool inside = x >= 0 && x < width && y >= 0 && y < height;
            KVSetBit(out, k, inside ? KVGetBit(rows[size_t(y)].data(), x) != 0 : whiteBackground);
        }
        if (progress && progress->OnProgress) progress->OnProgress(progress->Sender, int(o * 100.0 / targetHeight));
    }
    bitmap.AssignImage(*result);
}

void KVFlipBitmap(TKVBitmap& bitmap, int direction) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    if (direction == 0) {
        MoveInPlace(bitmap, width, height, [width](int x, int y, int& toX, int& toY) {
            toX = width - 1 - x;
            toY = y;
        });
    } else {
        MoveInPlace(bitmap, width, height, [height](int x, int y, int& toX, int& toY) {
            toX = x;
            toY = height - 1 - y;
        });
    }
}
