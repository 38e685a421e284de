// Area-weighted resampling and the black-or-white projections.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVResample.h"

namespace {

// A piece of one axis between two cuts (source pixel edges and target pixel edges): the source
// pixel it covers, the target pixel it belongs to, its length in source pixels, where it ends
// inside its source pixel (1 at the far edge), and whether it closes its target pixel.
struct TSegment {
    int source, target;
    double length, end;
    bool closesTarget;
};

std::vector<TSegment> Segments(int sourceSize, int targetSize) {
    const double g = double(sourceSize) / targetSize;
    std::vector<TSegment> segments;
    segments.reserve(size_t(sourceSize) + size_t(targetSize));
    double at = 0;
    int source = 0, target = 0;
    while (target < targetSize && source < sourceSize) {
        const double sourceEdge = source + 1;
        const double targetEdge = target + 1 == targetSize ? sourceSize : (target + 1) * g;
        TSegment s{source, target, 0, 1, false};
        if (sourceEdge + 1e-4 >= targetEdge) {
            s.length = targetEdge - at;
            s.end = std::min(targetEdge - source, 1.0);
            s.closesTarget = true;
            at = targetEdge;
            ++target;
            if (sourceEdge - 1e-4 <= targetEdge) ++source;  // both edges fall together
        } else {
            s.length = sourceEdge - at;
            at = sourceEdge;
            ++source;
        }
        if (s.length > 0) segments.push_back(s);
        else if (s.closesTarget && !segments.empty()) segments.back().closesTarget = true;
    }
    return segments;
}

double CubicWeight(double x) {
    x = std::fabs(x);
    if (x < 1) return x * x * x - 2 * x * x + 1;
    if (x < 2) return -x * x * x + 5 * x * x - 8 * x + 4;
    return 0;
}

// The value at fraction f between p[1] and p[2] of four neighbours p[0..3].
double Interpolate(const double p[4], double f, bool cubic) {
    if (!cubic) return (1 - f) * p[1] + f * p[2];
    const double v = CubicWeight(f + 1) * p[0] + CubicWeight(f) * p[1] + CubicWeight(f - 1) * p[2] +
                     CubicWeight(f - 2) * p[3];
    return std::clamp(v, 0.0, 255.0);
}

class TAreaResampler {
public:
    TAreaResampler(TKVBitmap& source, TKVBitmap& dest, bool cubic)
        : source_(source), dest_(dest), cubic_(cubic), width_(source.GetWidth()), height_(source.GetHeight()),
          targetWidth_(dest.GetWidth()), targetHeight_(dest.GetHeight()),
          gx_(double(width_) / targetWidth_), gy_(double(height_) / targetHeight_),
          interpolateX_(gx_ < 1), interpolateY_(gy_ < 1),
          columns_(Segments(width_, targetWidth_)), rows_(Segments(height_, targetHeight_)),
          cache_(4, std::vector<uint8_t>(size_t(width_) * 3)), cached_(4, -1) {}

    void Run(TObject* sender, const TKVProgressEvent& progress) {
        std::vector<double> sums(size_t(targetWidth_) * 3, 0.0);
        std::vector<uint8_t> out(size_t(targetWidth_) * 3);
        const double area = gx_ * gy_;
        TKVAccessScope reading(source_, kvaRead);
        TKVAccessScope writing(dest_, kvaWrite);
        for (const TSegment& row : rows_) {
            if (!interpolateX_ && !interpolateY_) {
                // A pure area average: the row's pixels themselves.
                const uint8_t* pixels = Row(row.source);
                for (const TSegment& column : columns_) {
                    const double weight = column.length * row.length;
                    double* sum = sums.data() + size_t(column.target) * 3;
                    const uint8_t* p = pixels + size_t(column.source) * 3;
                    for (int c = 0; c < 3; ++c) sum[c] += weight * p[c];
                }
            } else {
                for (const TSegment& column : columns_) {
                    const double weight = column.length * row.length;
                    double* sum = sums.data() + size_t(column.target) * 3;
                    for (int c = 0; c < 3; ++c) sum[c] += weight * Sample(column, row, c);
                }
            }
            if (!row.closesTarget) continue;
            for (size_t i = 0; i < sums.size(); ++i) out[i] = uint8_t(std::clamp(sums[i] / area + 1e-7, 0.0, 255.0));
            std::memcpy(dest_.GetScanline(row.target), out.data(), out.size());
            std::fill(sums.begin(), sums.end(), 0.0);
            if (progress) progress(sender, int(double(row.target + 1) / targetHeight_ * 100));
        }
    }

private:
    // Source row y (limited to the picture), kept among the last four fetched.
    const uint8_t* Row(int y) {
        y = std::clamp(y, 0, height_ - 1);
        for (int i = 0; i < 4; ++i)
            if (cached_[size_t(i)] == y) return cache_[size_t(i)].data();
        const size_t slot = size_t(next_++ % 4);
        std::memcpy(cache_[slot].data(), source_.GetScanline(y), cache_[slot].size());
        cached_[slot] = y;
        return cache_[slot].data();
    }

    double Pixel(const uint8_t* row, int x, int c) const { return row[std::clamp(x, 0, width_ - 1) * 3 + c]; }

    // Along one row: the pixel itself, or the value where the column segment ends.
    double AlongRow(const uint8_t* row, const TSegment& column, int c) const {
        if (!interpolateX_) return Pixel(row, column.source, c);
        const double p[4] = {Pixel(row, column.source - 1, c), Pixel(row, column.source, c),
                             Pixel(row, column.source + 1, c), Pixel(row, column.source + 2, c)};
        return Interpolate(p, column.end, cubic_);
    }

    double Sample(const TSegment& column, const TSegment& row, int c) {
        if (!interpolateY_) return AlongRow(Row(row.source), column, c);
        double p[4];
        for (int k = 0; k < 4; ++k) {
            const double v = AlongRow(Row(row.source - 1 + k), column, c);
            p[k] = interpolateX_ ? std::trunc(v) : v;
        }
        return Interpolate(p, row.end, cubic_);
    }

    TKVBitmap& source_;
    TKVBitmap& dest_;
    const bool cubic_;
    const int width_, height_, targetWidth_, targetHeight_;
    const double gx_, gy_;
    const bool interpolateX_, interpolateY_;
    const std::vector<TSegment> columns_, rows_;
    std::vector<std::vector<uint8_t>> cache_;
    std::vector<int> cached_;
    int next_ = 0;
};

// Source pixels that decide a projection: black ones, or white ones when white wins.
template <typename IsDeciding>
void Project(TKVBitmap& source, TKVBitmap& dest, bool whiteWins, IsDeciding deciding, TObject* sender,
             const TKVProgressEvent& progress) {
    const int sourceWidth = source.GetWidth(), sourceHeight = source.GetHeight();
    if (dest.GetPixelFormat() != kv1Bit) dest.Allocate(dest.GetWidth(), dest.GetHeight(), kv1Bit);
    const int width = dest.GetWidth(), height = dest.GetHeight();
    std::vector<int> columns(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i) columns[size_t(i)] = int(double(sourceWidth) / width * i);
    const double fy = double(sourceHeight) / height;
    std::vector<uint8_t> hit(static_cast<size_t>(sourceWidth));
    std::vector<uint8_t> out(static_cast<size_t>(dest.GetRowLen()));
    TKVAccessScope reading(source, kvaRead);
    TKVAccessScope writing(dest, kvaWrite);
    for (int j = 0; j < height; ++j) {
        const int first = j == 0 ? 0 : int(fy * (j - 1)), last = j == 0 ? 0 : std::min(int(fy * j), sourceHeight - 1);
        std::fill(hit.begin(), hit.end(), 0);
        for (int y = first; y <= last; ++y) {
            const uint8_t* row = source.GetScanline(y);
            for (int x = 0; x < sourceWidth; ++x) hit[size_t(x)] |= deciding(row, x) ? 1 : 0;
        }
        std::fill(out.begin(), out.end(), whiteWins ? 0x00 : 0xFF);
        for (int k = 0; k < width; ++k) {
            const int from = k == 0 ? 0 : columns[size_t(k - 1)], to = k == 0 ? 0 : columns[size_t(k)];
            if (std::any_of(hit.begin() + from, hit.begin() + to + 1, [](uint8_t h) { return h != 0; }))
                KVSetBit(out.data(), k, whiteWins);
        }
        std::memcpy(dest.GetScanline(j), out.data(), out.size());
        if (progress) progress(sender, int(100 / (height + 0.5) * j));
    }
}

bool Usable(TKVBitmap& source, TKVBitmap& dest, TKVPixelFormat format) {
    return &source != &dest && !source.IsEmpty() && source.GetPixelFormat() == format && dest.GetWidth() > 0 &&
           dest.GetHeight() > 0;
}

}  // namespace

void KVResampleArea24(TKVBitmap& source, TKVBitmap& dest, bool cubic, TObject* sender,
                      const TKVProgressEvent& progress) {
    if (!Usable(source, dest, kv24RGB)) return;
    if (dest.GetPixelFormat() != kv24RGB) dest.Allocate(dest.GetWidth(), dest.GetHeight(), kv24RGB);
    TAreaResampler(source, dest, cubic).Run(sender, progress);
}

void KVProject24To1Bit(TKVBitmap& source, TKVBitmap& dest, bool whiteWins, TObject* sender,
                       const TKVProgressEvent& progress) {
    if (!Usable(source, dest, kv24RGB)) return;
    auto deciding = [whiteWins](const uint8_t* row, int x) {
        const uint8_t* p = row + 3 * x;
        return whiteWins ? p[0] > 128 && p[1] > 128 && p[2] > 128 : p[0] < 128 && p[1] < 128 && p[2] < 128;
    };
    Project(source, dest, whiteWins, deciding, sender, progress);
}

void KVProject1Bit(TKVBitmap& source, TKVBitmap& dest, bool whiteWins, TObject* sender,
                   const TKVProgressEvent& progress) {
    if (!Usable(source, dest, kv1Bit)) return;
    auto deciding = [whiteWins](const uint8_t* row, int x) { return (KVGetBit(row, x) != 0) == whiteWins; };
    Project(source, dest, whiteWins, deciding, sender, progress);
}
