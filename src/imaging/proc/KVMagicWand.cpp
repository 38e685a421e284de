#include "imaging/proc/KVMagicWand.h"

#include <algorithm>
#include <climits>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/core/KVPixelTolerance.h"

namespace {

// The visited pixels of a region and their bounding box.
class TRegion {
public:
    TRegion(int width, int height) : width_(width), rowBytes_(width / 8 + 1), bits_(size_t(rowBytes_) * height) {}

    bool Visited(int x, int y) const { return bits_[size_t(y) * rowBytes_ + x / 8] & (0x80 >> (x & 7)); }
    void Visit(int x, int y) {
        bits_[size_t(y) * rowBytes_ + x / 8] |= uint8_t(0x80 >> (x & 7));
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
    }
    bool Empty() const { return left > right; }
    int Width() const { return width_; }

    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;

private:
    int width_;
    int64_t rowBytes_;
    std::vector<uint8_t> bits_;
};

// Scan-line seed fill with 4-connectivity on a stack of segments (row, left, right, direction):
// a segment stands for the run just filled on row - direction.
TRegion GrowRegion(TKVBitmap& bitmap, int seedX, int seedY, int tolerance) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    TRegion region(width, height);
    const TKVRGB seed = bitmap.GetPixelRGB(seedX, seedY);
    auto open = [&](int x, int y) {
        return KVPixelInTolerance(bitmap, x, y, seed, tolerance) && !region.Visited(x, y);
    };
    struct Segment {
        int y, l, r, dy;
    };
    std::vector<Segment> stack;
    stack.reserve(size_t(2) * width);
    stack.push_back({seedY, seedX, seedX, 1});
    stack.push_back({seedY + 1, seedX, seedX, -1});
    while (!stack.empty()) {
        const Segment s = stack.back();
        stack.pop_back();
        const int y = s.y + s.dy;
        if (y < 0 || y >= height) continue;
        int x = s.l;
        for (; x >= 0 && open(x, y); --x) region.Visit(x, y);
        // Nothing filled leftwards from l: only runs further right remain.
        bool skip = x >= s.l;
        int start = x + 1;
        if (!skip) {
            if (start < s.l) stack.push_back({y, start, s.l - 1, -s.dy});
            x = s.l + 1;
        }
        do {
            if (!skip) {
                for (; x < width && open(x, y); ++x) region.Visit(x, y);
                stack.push_back({y, start, x - 1, s.dy});
                if (x > s.r + 1) stack.push_back({y, s.r + 1, x - 1, -s.dy});
            }
            skip = false;
            for (++x; x <= s.r && !open(x, y); ++x) {
            }
            start = x;
        } while (x <= s.r);
    }
    return region;
}

bool SeedOutside(TKVBitmap& bitmap, int x, int y) {
    return x < 0 || y < 0 || x >= bitmap.GetWidth() || y >= bitmap.GetHeight();
}

}  // namespace

void KVMagicWandFill(TKVBitmap& bitmap, int x, int y, int value, TKVMask& mask, int tolerance, bool grow) {
    if (SeedOutside(bitmap, x, y)) return;
    const TRegion region = GrowRegion(bitmap, x, y, tolerance);
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    for (int py = region.top; py <= region.bottom; ++py)
        for (int px = region.left; px <= region.right; ++px) {
            if (!region.Visited(px, py)) continue;
            if (!grow) {
                mask.SetPixel(px, py, value);
                continue;
            }
            for (int ny = std::max(py - 1, 0); ny <= std::min(py + 1, height - 1); ++ny)
                for (int nx = std::max(px - 1, 0); nx <= std::min(px + 1, width - 1); ++nx) mask.SetPixel(nx, ny, value);
        }
}

void KVMagicWandGlobal(TKVBitmap& bitmap, int x, int y, int value, TKVMask& mask, int tolerance) {
    if (SeedOutside(bitmap, x, y)) return;
    const TKVRGB seed = bitmap.GetPixelRGB(x, y);
    for (int py = 0; py < bitmap.GetHeight(); ++py)
        for (int px = 0; px < bitmap.GetWidth(); ++px)
            if (KVPixelInTolerance(bitmap, px, py, seed, tolerance)) mask.SetPixel(px, py, value);
}

namespace {

struct Direction {
    int dx, dy, code;
};
constexpr Direction Directions[8] = {{1, 0, 0},   {0, -1, 2}, {-1, 0, 4}, {0, 1, 6},
                                     {1, -1, 1},  {-1, -1, 3}, {-1, 1, 5}, {1, 1, 7}};
constexpr int CodeDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int CodeDy[8] = {0, -1, -1, -1, 0, 1, 1, 1};

enum : uint8_t { Outside = 0, Inside = 1, Traced = 2, Boundary = 3 };

}  // namespace

std::vector<TPoint> KVMagicWandContour(TKVBitmap& bitmap, int x, int y, int& pointCount, int tolerance, bool grow) {
    pointCount = 0;
    if (SeedOutside(bitmap, x, y)) return {};
    const TRegion region = GrowRegion(bitmap, x, y, tolerance);
    if (region.Empty()) return {};
    // The grown region reaches one pixel past the visited box, within the image.
    const int g = grow ? 1 : 0;
    const int boxLeft = std::max(region.left - g, 0), boxTop = std::max(region.top - g, 0);
    const int boxRight = std::min(region.right + g, bitmap.GetWidth() - 1);
    const int boxBottom = std::min(region.bottom + g, bitmap.GetHeight() - 1);
    const int boxWidth = boxRight - boxLeft + 1, boxHeight = boxBottom - boxTop + 1;

    // Magnified four times with a margin of two cells, so the boundary ring fits around it.
    const int gridWidth = boxWidth * 4 + 4, gridHeight = boxHeight * 4 + 4;
    std::vector<uint8_t> grid(size_t(int64_t(gridWidth) * gridHeight), Outside);
    auto cell = [&](int cx, int cy) -> uint8_t& { return grid[size_t(int64_t(cy) * gridWidth + cx)]; };
    for (int py = region.top; py <= region.bottom; ++py)
        for (int px = region.left; px <= region.right; ++px) {
            if (!region.Visited(px, py)) continue;
            for (int ny = std::max(py - g, boxTop); ny <= std::min(py + g, boxBottom); ++ny)
                for (int nx = std::max(px - g, boxLeft); nx <= std::min(px + g, boxRight); ++nx)
                    for (int cy = 0; cy < 4; ++cy)
                        std::fill_n(&cell(4 * (nx - boxLeft) + 2, 4 * (ny - boxTop) + 2 + cy), 4, Inside);
        }
    // The boundary: every outside cell beside (not diagonal to) an inside cell.
    for (int cy = 0; cy < gridHeight; ++cy)
        for (int cx = 0; cx < gridWidth; ++cx) {
            if (cell(cx, cy) == Inside) continue;
            if ((cx > 0 && cell(cx - 1, cy) == Inside) || (cx + 1 < gridWidth && cell(cx + 1, cy) == Inside) ||
                (cy > 0 && cell(cx, cy - 1) == Inside) || (cy + 1 < gridHeight && cell(cx, cy + 1) == Inside))
                cell(cx, cy) = Boundary;
        }
    int cornerX = INT_MAX, cornerY = INT_MAX;
    for (int cy = 0; cy < gridHeight; ++cy)
        for (int cx = 0; cx < gridWidth; ++cx)
            if (cell(cx, cy) == Boundary) cornerX = std::min(cornerX, cx), cornerY = std::min(cornerY, cy);
    int startX = 0, startY = 0;
    int64_t best = INT64_MAX;
    for (int cy = 0; cy < gridHeight; ++cy)
        for (int cx = 0; cx < gridWidth; ++cx) {
            if (cell(cx, cy) != Boundary) continue;
            const int64_t d = int64_t(cx - cornerX) * (cx - cornerX) + int64_t(cy - cornerY) * (cy - cornerY);
            if (d < best) best = d, startX = cx, startY = cy;
        }
    cell(startX, startY) = Traced;

    std::vector<uint8_t> codes;
    int cx = startX, cy = startY, last = 4;
    auto boundaryAt = [&](int order) {
        const int nx = cx + Directions[order].dx, ny = cy + Directions[order].dy;
        return nx >= 0 && ny >= 0 && nx < gridWidth && ny < gridHeight && cell(nx, ny) == Boundary;
    };
    for (;;) {
        int order = boundaryAt(last) ? last : -1;
        for (int i = 0; i < 8 && order < 0; ++i)
            if (boundaryAt(i)) order = i;
        if (order < 0) break;
        cx += Directions[order].dx, cy += Directions[order].dy;
        cell(cx, cy) = Traced;
        codes.push_back(uint8_t(Directions[order].code));
        last = order;
    }
    for (const Direction& d : Directions)
        if (cx + d.dx == startX && cy + d.dy == startY && !codes.empty()) codes.push_back(uint8_t(d.code));

    std::vector<TPoint> points;
    int px = startX + 4 * boxLeft - 1, py = startY + 4 * boxTop - 1;
    points.push_back({px, py});
    for (size_t i = 0; i < codes.size(); ++i) {
        if (i > 0 && codes[i] != codes[i - 1]) points.push_back({px, py});
        px += CodeDx[codes[i]], py += CodeDy[codes[i]];
    }
    for (TPoint& p : points) p = {int(unsigned(p.X) / 4), int(unsigned(p.Y) / 4)};
    pointCount = int(points.size());
    return points;
}
