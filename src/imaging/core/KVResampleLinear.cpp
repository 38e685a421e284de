// Fixed-point linear resampling (17-bit fractions), box means when shrinking, and the
// bit-counting reduction of 1-bit pictures.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVResample.h"

namespace {

constexpr int64_t One = 131072;  // 1.0 in 17-bit fixed point

// Where target pixel i of an axis reads: the left (top) source pixel, the 17-bit fraction
// towards the next one, and the last source pixel of its box when shrinking.
struct TAxisMap {
    std::vector<int> left, fraction, boxEnd;
    bool grows;

    TAxisMap(int sourceSize, int targetSize, bool endEpsilon) {
        const double ratio = double(targetSize) / sourceSize;
        grows = ratio > 1;
        const int last = targetSize - 1;
        for (int i = 0; i < targetSize; ++i) {
            const int l = int(i / ratio);
            left.push_back(l);
            fraction.push_back(int((i / ratio - l) * One));
            const int end = int(std::min(i + 1, last) / ratio + (endEpsilon ? 1e-10 : 0));
            boxEnd.push_back(std::clamp(end, l, sourceSize - 1));
        }
    }
};

void Prepare(TKVBitmap& dest, TKVPixelFormat format) {
    if (dest.GetPixelFormat() != format) dest.Allocate(dest.GetWidth(), dest.GetHeight(), format);
}

// One source row of Channels bytes per pixel into the work row, along the column map.
template <int Channels>
void LinearRow(const uint8_t* source, int sourceWidth, const TAxisMap& columns, uint8_t* out) {
    const int width = int(columns.left.size());
    for (int i = 0; i < width; ++i) {
        const int l = columns.left[size_t(i)];
        for (int c = 0; c < Channels; ++c) {
            int64_t value;
            if (columns.grows) {
                const int64_t a = source[l * Channels + c], b = source[std::min(l + 1, sourceWidth - 1) * Channels + c];
                value = a + (b - a) * columns.fraction[size_t(i)] / One;
            } else {
                int64_t sum = 0;
                for (int x = l; x <= columns.boxEnd[size_t(i)]; ++x) sum += source[x * Channels + c];
                value = sum / (columns.boxEnd[size_t(i)] - l + 1);
            }
            out[i * Channels + c] = uint8_t(value);
        }
    }
}

template <int Channels>
void FastLinear(TKVBitmap& source, TKVBitmap& dest, TObject* sender, const TKVProgressEvent& progress) {
    const int sourceWidth = source.GetWidth(), sourceHeight = source.GetHeight();
    const int width = dest.GetWidth(), height = dest.GetHeight();
    if (sourceWidth == width && sourceHeight == height) {
        dest.Assign(&source);
        return;
    }
    const TAxisMap columns(sourceWidth, width, true), rows(sourceHeight, height, false);
    const size_t stride = size_t(width) * Channels;
    std::vector<uint8_t> work(stride * size_t(sourceHeight));
    const double step = 100 / (sourceHeight + height + 0.5);
    {
        TKVAccessScope reading(source, kvaRead);
        for (int g = 0; g < sourceHeight; ++g) {
            LinearRow<Channels>(source.GetScanline(g), sourceWidth, columns, work.data() + stride * size_t(g));
            if (progress) progress(sender, int(step * g));
        }
    }
    std::vector<uint8_t> out(stride);
    TKVAccessScope writing(dest, kvaWrite);
    for (int j = 0; j < height; ++j) {
        const int top = rows.left[size_t(j)];
        const uint8_t* a = work.data() + stride * size_t(top);
        if (rows.grows) {
            const uint8_t* b = work.data() + stride * size_t(std::min(top + 1, sourceHeight - 1));
            const int64_t f = rows.fraction[size_t(j)];
            for (size_t x = 0; x < stride; ++x) out[x] = uint8_t(a[x] + (int64_t(b[x]) - a[x]) * f / One);
        } else {
            const int end = rows.boxEnd[size_t(j)];
            for (size_t x = 0; x < stride; ++x) {
                int64_t sum = 0;
                for (int r = top; r <= end; ++r) sum += work[stride * size_t(r) + x];
                out[x] = uint8_t(sum / (end - top + 1));
            }
        }
        std::memcpy(dest.GetScanline(j), out.data(), stride);
        if (progress) progress(sender, int(step * (sourceHeight + j)));
    }
}

}  // namespace

void KVResampleFastLinear24(TKVBitmap& source, TKVBitmap& dest, TObject* sender, const TKVProgressEvent& progress) {
    if (&source == &dest || source.IsEmpty() || source.GetPixelFormat() != kv24RGB || dest.GetWidth() <= 0 ||
        dest.GetHeight() <= 0)
        return;
    Prepare(dest, kv24RGB);
    FastLinear<3>(source, dest, sender, progress);
}

void KVResampleLinear8(TKVBitmap& source, TKVBitmap& dest, TObject* sender, const TKVProgressEvent& progress) {
    if (&source == &dest || source.IsEmpty() || source.GetBitCount() != 8 || dest.GetWidth() <= 0 ||
        dest.GetHeight() <= 0)
        return;
    Prepare(dest, source.GetPixelFormat());
    FastLinear<1>(source, dest, sender, progress);
}

void KVResample1BitLinear(TKVBitmap& source, TKVBitmap& dest, TObject* sender, const TKVProgressEvent& progress) {
    if (&source == &dest || source.IsEmpty() || source.GetPixelFormat() != kv1Bit || dest.GetWidth() <= 0 ||
        dest.GetHeight() <= 0)
        return;
    const int sourceWidth = source.GetWidth(), sourceHeight = source.GetHeight();
    const int width = dest.GetWidth(), height = dest.GetHeight();
    if (sourceWidth == width && sourceHeight == height) {
        dest.Assign(&source);
        return;
    }
    if (width < sourceWidth && height < sourceHeight) {
        Prepare(dest, kv24RGB);
        KVResample1BitToGray(source, 0, 0, dest, sourceHeight - 1, sourceWidth - 1);
        return;
    }
    Prepare(dest, kv24RGB);
    // Interpolated on both axes, even on one that shrinks.
    TAxisMap columns(sourceWidth, width, true), rows(sourceHeight, height, false);
    columns.grows = rows.grows = true;
    std::vector<uint8_t> levels(static_cast<size_t>(sourceWidth));
    std::vector<uint8_t> work(size_t(width) * size_t(sourceHeight));
    const double step = 100 / (sourceHeight + height + 0.5);
    auto lerp = [](int a, int b, int fraction) { return uint8_t(a + (((b - a) * int64_t(fraction)) >> 17)); };
    {
        TKVAccessScope reading(source, kvaRead);
        for (int g = 0; g < sourceHeight; ++g) {
            const uint8_t* bits = source.GetScanline(g);
            for (int x = 0; x < sourceWidth; ++x) levels[size_t(x)] = KVGetBit(bits, x) ? 255 : 0;
            uint8_t* out = work.data() + size_t(width) * size_t(g);
            for (int i = 0; i < width; ++i) {
                const int l = columns.left[size_t(i)];
                out[i] = lerp(levels[size_t(l)], levels[size_t(std::min(l + 1, sourceWidth - 1))], columns.fraction[size_t(i)]);
            }
            if (progress) progress(sender, int(step * g));
        }
    }
    std::vector<TKVRGB> out(static_cast<size_t>(width));
    TKVAccessScope writing(dest, kvaWrite);
    for (int j = 0; j < height; ++j) {
        const int top = rows.left[size_t(j)];
        const uint8_t* a = work.data() + size_t(width) * size_t(top);
        const uint8_t* b = work.data() + size_t(width) * size_t(std::min(top + 1, sourceHeight - 1));
        for (int i = 0; i < width; ++i) {
            const uint8_t v = lerp(a[i], b[i], rows.fraction[size_t(j)]);
            out[size_t(i)] = TKVRGB{v, v, v};
        }
        std::memcpy(dest.GetScanline(j), out.data(), size_t(width) * 3);
        if (progress) progress(sender, int(step * (sourceHeight + j)));
    }
}

void KVResample1BitToGray(TKVBitmap& source, int x0, int y0, TKVBitmap& dest, int y1, int x1) {
    const int sourceWidth = source.GetWidth(), sourceHeight = source.GetHeight();
    const int width = dest.GetWidth(), height = dest.GetHeight();
    if (&source == &dest || sourceWidth <= 0 || sourceHeight <= 0 || width <= 0 || height <= 0 ||
        source.GetPixelFormat() != kv1Bit)
        return;
    Prepare(dest, kv24RGB);
    const double sx = double(x1 - x0 + 1) / width, sy = double(y1 - y0 + 1) / height;
    std::vector<int> firstColumn(static_cast<size_t>(width)), lastColumn(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i) {
        firstColumn[size_t(i)] = std::clamp(x0 + int(sx * i - sx / 2), 0, sourceWidth - 1);
        lastColumn[size_t(i)] = std::clamp(x0 + int(sx * i + sx / 2), 0, sourceWidth - 1);
    }
    // Set bits per source column over the rows of one target row.
    std::vector<int> setBits(static_cast<size_t>(sourceWidth));
    std::vector<TKVRGB> out(static_cast<size_t>(width));
    TKVAccessScope reading(source, kvaRead);
    TKVAccessScope writing(dest, kvaWrite);
    for (int i = 0; i < height; ++i) {
        const int first = std::clamp(y0 + int(sy * i - sy / 2), 0, sourceHeight - 1);
        const int last = std::clamp(y0 + int(sy * i + int(sy) / 2), 0, sourceHeight - 1);
        std::fill(setBits.begin(), setBits.end(), 0);
        for (int y = first; y <= last; ++y) {
            const uint8_t* bits = source.GetScanline(y);
            for (int x = 0; x < sourceWidth; ++x) setBits[size_t(x)] += KVGetBit(bits, x) ? 1 : 0;
        }
        const int rows = std::max(last - first + 1, 1);
        for (int k = 0; k < width; ++k) {
            int set = 0;
            for (int x = firstColumn[size_t(k)]; x <= lastColumn[size_t(k)]; ++x) set += setBits[size_t(x)];
            const int counted = rows * (lastColumn[size_t(k)] - firstColumn[size_t(k)] + 1);
            const auto v = uint8_t(255 * set / std::max(counted, 1));
            out[size_t(k)] = TKVRGB{v, v, v};
        }
        std::memcpy(dest.GetScanline(i), out.data(), size_t(width) * 3);
    }
}
