#include "imaging/view/KVTransitionDrawing.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// The source pixels [first, last) that one destination pixel covers, per destination column or row.
struct TKVSpan {
    int first, last;
};

// For the destination pixels [clipFrom, clipTo) of a destination run starting at start with
// length count (reversed when mirrored), the source spans within [0, srcSize).
std::vector<TKVSpan> SourceSpans(int start, int count, bool mirrored, int clipFrom, int clipTo, int srcStart,
                                 int srcCount, int srcSize) {
    std::vector<TKVSpan> spans;
    for (int d = clipFrom; d < clipTo; ++d) {
        int64_t i = d - start;
        if (mirrored) i = count - 1 - i;
        int first = srcStart + int(i * srcCount / count);
        int last = srcStart + int((i + 1) * srcCount / count);
        first = std::clamp(first, 0, srcSize - 1);
        last = std::clamp(last, first + 1, srcSize);
        spans.push_back({first, last});
    }
    return spans;
}

void ColorBytes(TColor color, uint8_t bgr[3]) {
    const TColor rgb = ColorToRGB(color);
    bgr[0] = uint8_t(GetBValue(rgb));
    bgr[1] = uint8_t(GetGValue(rgb));
    bgr[2] = uint8_t(GetRValue(rgb));
}

}  // namespace

void KVFillFrame(TBitmap& frame, int width, int height, TColor color) {
    frame.SetPixelFormat(TPixelFormat::pf24bit);
    frame.SetSize(width, height);
    uint8_t bgr[3];
    ColorBytes(color, bgr);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.ScanLine(y);
        for (int x = 0; x < width; ++x) std::copy(bgr, bgr + 3, row + 3 * x);
    }
}

void KVCopyRect(TBitmap& dst, const TRect& dstRect, const TBitmap& src, const TRect& srcRect) {
    if (&dst == &src) {
        const TBitmap copy(src);
        KVCopyRect(dst, dstRect, copy, srcRect);
        return;
    }
    const int left = std::min(dstRect.Left, dstRect.Right), right = std::max(dstRect.Left, dstRect.Right);
    const int top = std::min(dstRect.Top, dstRect.Bottom), bottom = std::max(dstRect.Top, dstRect.Bottom);
    const int x0 = std::max(left, 0), x1 = std::min(right, dst.Width());
    const int y0 = std::max(top, 0), y1 = std::min(bottom, dst.Height());
    if (x0 >= x1 || y0 >= y1 || srcRect.Width() <= 0 || srcRect.Height() <= 0 || src.Empty()) return;
    const auto columns = SourceSpans(left, right - left, dstRect.Right < dstRect.Left, x0, x1, srcRect.Left,
                                     srcRect.Width(), src.Width());
    const auto rows = SourceSpans(top, bottom - top, dstRect.Bottom < dstRect.Top, y0, y1, srcRect.Top,
                                  srcRect.Height(), src.Height());
    for (int y = y0; y < y1; ++y) {
        const TKVSpan rowSpan = rows[y - y0];
        uint8_t* out = dst.ScanLine(y);
        for (int x = x0; x < x1; ++x) {
            const TKVSpan colSpan = columns[x - x0];
            unsigned sum[3] = {0, 0, 0};
            for (int sy = rowSpan.first; sy < rowSpan.last; ++sy) {
                const uint8_t* in = src.ScanLine(sy);
                for (int sx = colSpan.first; sx < colSpan.last; ++sx)
                    for (int c = 0; c < 3; ++c) sum[c] += in[3 * sx + c];
            }
            const unsigned count = unsigned(rowSpan.last - rowSpan.first) * unsigned(colSpan.last - colSpan.first);
            for (int c = 0; c < 3; ++c) out[3 * x + c] = uint8_t((sum[c] + count / 2) / count);
        }
    }
}

void KVVerticalLine(TBitmap& frame, int x, TColor color) {
    if (x < 0 || x >= frame.Width()) return;
    uint8_t bgr[3];
    ColorBytes(color, bgr);
    for (int y = 0; y < frame.Height(); ++y) std::copy(bgr, bgr + 3, frame.ScanLine(y) + 3 * x);
}

void KVHorizontalLine(TBitmap& frame, int y, TColor color) {
    if (y < 0 || y >= frame.Height()) return;
    uint8_t bgr[3];
    ColorBytes(color, bgr);
    uint8_t* row = frame.ScanLine(y);
    for (int x = 0; x < frame.Width(); ++x) std::copy(bgr, bgr + 3, row + 3 * x);
}

TKVRevealMask::TKVRevealMask(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), bits_(size_t(width_) * height_, 0) {}

// Sets the pixels of row y whose centres lie in [from, to).
void TKVRevealMask::SetSpan(int y, double from, double to) {
    if (y < 0 || y >= height_) return;
    const double first = std::max(std::ceil(from - 0.5), 0.0);
    const double last = std::min(std::ceil(to - 0.5), double(width_));
    if (first >= last) return;
    std::fill(bits_.begin() + size_t(y) * width_ + size_t(first), bits_.begin() + size_t(y) * width_ + size_t(last),
              uint8_t(1));
}

void TKVRevealMask::AddRect(int left, int top, int right, int bottom) {
    for (int y = std::max(top, 0); y < std::min(bottom, height_); ++y) SetSpan(y, left, right);
}

void TKVRevealMask::AddPolygon(const std::vector<TPoint>& points) {
    const size_t n = points.size();
    if (n < 3) return;
    int top = points[0].Y, bottom = points[0].Y;
    for (const TPoint& p : points) {
        top = std::min(top, p.Y);
        bottom = std::max(bottom, p.Y);
    }
    struct Crossing {
        double x;
        int winding;
    };
    std::vector<Crossing> crossings;
    for (int y = std::max(top, 0); y < std::min(bottom, height_); ++y) {
        const double yc = y + 0.5;
        crossings.clear();
        for (size_t i = 0; i < n; ++i) {
            const TPoint a = points[i], b = points[(i + 1) % n];
            if (a.Y == b.Y) continue;
            const bool down = a.Y < b.Y;
            const double y0 = down ? a.Y : b.Y, y1 = down ? b.Y : a.Y;
            if (yc < y0 || yc >= y1) continue;
            crossings.push_back({a.X + (yc - a.Y) * (b.X - a.X) / double(b.Y - a.Y), down ? 1 : -1});
        }
        std::sort(crossings.begin(), crossings.end(), [](const Crossing& l, const Crossing& r) { return l.x < r.x; });
        int winding = 0;
        for (size_t i = 0; i + 1 < crossings.size(); ++i) {
            winding += crossings[i].winding;
            if (winding != 0) SetSpan(y, crossings[i].x, crossings[i + 1].x);
        }
    }
}

void TKVRevealMask::AddRoundRect(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
    if (right <= left || bottom <= top) return;
    const double rx = std::min(std::max(ellipseWidth, 0), right - left) / 2.0;
    const double ry = std::min(std::max(ellipseHeight, 0), bottom - top) / 2.0;
    for (int y = std::max(top, 0); y < std::min(bottom, height_); ++y) {
        const double yc = y + 0.5;
        double into = 0;  // how far into a corner's band, 0..1
        if (ry > 0 && yc < top + ry) into = (top + ry - yc) / ry;
        if (ry > 0 && yc > bottom - ry) into = (yc - (bottom - ry)) / ry;
        const double inset = rx * (1 - std::sqrt(std::max(0.0, 1 - into * into)));
        SetSpan(y, left + inset, right - inset);
    }
}

void TKVRevealMask::Invert() {
    for (uint8_t& bit : bits_) bit ^= 1;
}

void KVDrawThrough(TBitmap& current, const TBitmap& to, const TKVRevealMask& mask) {
    const int width = std::min({current.Width(), to.Width(), mask.Width()});
    const int height = std::min({current.Height(), to.Height(), mask.Height()});
    for (int y = 0; y < height; ++y) {
        uint8_t* out = current.ScanLine(y);
        const uint8_t* in = to.ScanLine(y);
        for (int x = 0; x < width; ++x)
            if (mask.At(x, y)) std::copy(in + 3 * x, in + 3 * x + 3, out + 3 * x);
    }
}

int KVTransitionRandom(int bound) {
    static std::minstd_rand generator;
    if (bound <= 0) return 0;
    return std::uniform_int_distribution<int>(0, bound - 1)(generator);
}
