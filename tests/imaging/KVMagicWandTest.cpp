#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/core/KVPixelTolerance.h"
#include "imaging/proc/KVMagicWand.h"

namespace {

// '#' red, 'r' almost red, '.' white.
const std::vector<std::string> Drawing = {
    "........",
    ".##..#..",
    ".##r....",
    "...#....",
    "..####..",
    "........",
};

TKVBitmap& Draw(TKVBitmap& bitmap, TKVPixelFormat format = kv24RGB) {
    bitmap.Allocate(8, 6, kv24RGB);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const char c = Drawing[size_t(y)][size_t(x)];
            const TKVRGB p = c == '#' ? TKVRGB{0, 0, 255} : c == 'r' ? TKVRGB{0, 6, 250} : TKVRGB{255, 255, 255};
            reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y))[x] = p;
        }
    if (format != kv24RGB) bitmap.ConvertPixelFormat(format);
    return bitmap;
}

std::vector<std::string> Picture(const TKVMask& mask) {
    std::vector<std::string> rows;
    for (int y = 0; y < mask.Height(); ++y) {
        std::string row;
        for (int x = 0; x < mask.Width(); ++x) row += mask.GetPixel(x, y) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

TKVMask NewMask() {
    TKVMask mask;
    mask.AllocateBits(8, 6, 8);
    return mask;
}

}  // namespace

TEST(KVMagicWand, PixelInTolerance) {
    TKVBitmap bitmap;
    Draw(bitmap);
    const TKVRGB red{0, 0, 255};
    EXPECT_TRUE(KVPixelInTolerance(bitmap, 1, 1, red, 0));
    EXPECT_FALSE(KVPixelInTolerance(bitmap, 3, 2, red, 5));  // green differs by 6
    EXPECT_TRUE(KVPixelInTolerance(bitmap, 3, 2, red, 6));
    EXPECT_FALSE(KVPixelInTolerance(bitmap, 8, 1, red, 255));
    EXPECT_FALSE(KVPixelInTolerance(bitmap, -1, 1, red, 255));
}

TEST(KVMagicWand, FillGlobalAndGrow) {
    struct Case {
        const char* name;
        int x, y, tolerance;
        bool global, grow;
        std::vector<std::string> expected;
    } cases[] = {
        {"exact colour, diagonal neighbours stay out", 1, 1, 0, false, false,
         {"........", ".##.....", ".##.....", "........", "........", "........"}},
        {"tolerance takes the almost red pixel", 1, 1, 6, false, false,
         {"........", ".##.....", ".###....", "...#....", "..####..", "........"}},
        {"global takes unconnected pixels", 1, 1, 0, true, false,
         {"........", ".##..#..", ".##.....", "...#....", "..####..", "........"}},
        {"grow widens by one pixel within the image", 5, 1, 0, false, true,
         {"....###.", "....###.", "....###.", "........", "........", "........"}},
        {"the background around the drawing", 0, 0, 0, false, false,
         {"########", "#..##.##", "#...####", "###.####", "##....##", "########"}},
        {"seed outside", 8, 0, 255, false, false,
         {"........", "........", "........", "........", "........", "........"}},
    };
    for (const TKVPixelFormat format : {kv24RGB, kvRGB48}) {
        TKVBitmap bitmap;
        Draw(bitmap, format);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            TKVMask mask = NewMask();
            if (c.global) KVMagicWandGlobal(bitmap, c.x, c.y, 200, mask, c.tolerance);
            else KVMagicWandFill(bitmap, c.x, c.y, 200, mask, c.tolerance, c.grow);
            EXPECT_EQ(Picture(mask), c.expected);
            if (!mask.IsEmpty()) {
                EXPECT_EQ(mask.GetPixel(c.x, c.y), 200);
            }
        }
    }
}

TEST(KVMagicWand, ContourOutlinesTheRegion) {
    TKVBitmap bitmap;
    Draw(bitmap);
    struct Case {
        int x, y, tolerance;
        bool grow;
    } cases[] = {{1, 1, 0, false}, {5, 1, 0, false}, {3, 3, 0, false}, {1, 1, 6, false}, {1, 1, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y) + " tolerance " + std::to_string(c.tolerance));
        int count = -1;
        const std::vector<TPoint> polygon = KVMagicWandContour(bitmap, c.x, c.y, count, c.tolerance, c.grow);
        ASSERT_EQ(count, int(polygon.size()));
        TKVMask traced = NewMask(), filled = NewMask();
        traced.FillPolygon(255, polygon.data(), count);
        KVMagicWandFill(bitmap, c.x, c.y, 255, filled, c.tolerance, c.grow);
        EXPECT_EQ(Picture(traced), Picture(filled));
    }
    int count = -1;
    const std::vector<TPoint> single = KVMagicWandContour(bitmap, 5, 1, count, 0, false);
    std::vector<TPoint> corners;
    for (const TPoint& p : single)
        if (corners.empty() || !(corners.back() == p)) corners.push_back(p);
    EXPECT_EQ(corners, (std::vector<TPoint>{{5, 1}, {6, 1}, {6, 2}, {5, 2}, {5, 1}}));

    // The white background surrounds holes: its outline is the image's border.
    const std::vector<TPoint> outer = KVMagicWandContour(bitmap, 0, 0, count, 0, false);
    TKVMask traced = NewMask();
    traced.FillPolygon(255, outer.data(), count);
    traced.SyncFull();
    EXPECT_TRUE(traced.Full());

    EXPECT_TRUE(KVMagicWandContour(bitmap, -1, 0, count, 0, false).empty());
    EXPECT_EQ(count, 0);
}
