#include <gtest/gtest.h>

#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "platform/Canvas.h"
#include "platform/qt/QtCanvas.h"

namespace {

// The selected pixels, row by row, '#' selected.
std::vector<std::string> Picture(const TKVMask& mask) {
    std::vector<std::string> rows;
    for (int y = 0; y < mask.Height(); ++y) {
        std::string row;
        for (int x = 0; x < mask.Width(); ++x) row += mask.GetPixel(x, y) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

std::vector<int> Box(const TKVMask& mask) { return {mask.X1, mask.Y1, mask.X2, mask.Y2}; }

TKVBitmap& Filled24(TKVBitmap& bitmap, int width, int height, TColor color) {
    bitmap.Allocate(width, height, kv24RGB);
    bitmap.Fill(color);
    return bitmap;
}

}  // namespace

TEST(KVMask, BitsBoxAndFull) {
    TKVMask mask;
    mask.AllocateBits(10, 10, 1);
    EXPECT_EQ(mask.RowLen(), 4);
    EXPECT_TRUE(mask.IsEmpty());
    mask.SetPixel(3, 4, 1);
    EXPECT_EQ(Box(mask), (std::vector<int>{3, 4, 3, 4}));
    mask.SetPixel(3, 4, 0);
    EXPECT_EQ(Box(mask), (std::vector<int>{3, 4, 3, 4}));
    EXPECT_EQ(mask.GetPixel(3, 4), 0);
    mask.SetPixel(-1, 0, 1);
    mask.SetPixel(10, 0, 1);
    EXPECT_EQ(mask.GetPixel(-1, 0), 0);
    mask.Fill(0);  // a 1-bit fill claims Full whatever the value; SyncFull corrects it
    EXPECT_TRUE(mask.Full());
    mask.SyncFull();
    EXPECT_FALSE(mask.Full());
    mask.Fill(255);
    mask.SyncFull();
    EXPECT_TRUE(mask.Full());
    mask.SyncBoundingBox();
    EXPECT_EQ(Box(mask), (std::vector<int>{0, 0, 9, 9}));

    mask.AllocateBits(10, 10, 8);
    EXPECT_EQ(mask.RowLen(), 12);
    mask.Fill(0);
    EXPECT_FALSE(mask.Full());
    mask.Fill(255);
    EXPECT_TRUE(mask.Full());
    mask.SetPixel(1, 1, 254);
    EXPECT_FALSE(mask.Full());
    EXPECT_EQ(mask.SetSpan(7, -3, 20, 3), 4);  // clipped to columns 0..3 of the last row
    EXPECT_EQ(mask.GetPixel(3, 9), 7);
    mask.Clear();
    EXPECT_TRUE(mask.IsEmpty());
    mask.SyncBoundingBox();
    EXPECT_TRUE(mask.IsEmpty());
}

TEST(KVMask, ResizeKeepsTheTopLeft) {
    TKVMask mask;
    mask.AllocateBits(6, 4, 1);
    mask.SetPixel(0, 0, 1);
    mask.SetPixel(5, 3, 1);
    mask.Resize(3, 5);
    EXPECT_EQ(Picture(mask), (std::vector<std::string>{"#..", "...", "...", "...", "..."}));
    EXPECT_EQ(Box(mask), (std::vector<int>{0, 0, 2, 3}));
}

TEST(KVMask, Polygons) {
    TKVMask mask;
    mask.AllocateBits(8, 6, 1);
    const TPoint shapes[] = {{1, 1}, {5, 1}, {5, 4}, {1, 4}, {TKVMask::PolygonBreak, 0},
                             {TKVMask::PolygonBreak, 0}, {6, 0}, {8, 0}, {8, 6}};
    mask.FillPolygons(1, shapes, 9);
    EXPECT_EQ(Picture(mask), (std::vector<std::string>{
                                 "......##",
                                 ".####.##",
                                 ".####.##",
                                 ".####..#",
                                 ".......#",
                                 ".......#",
                             }));
    EXPECT_EQ(Box(mask), (std::vector<int>{1, 0, 7, 5}));
    EXPECT_FALSE(mask.Full());

    // A polygon that writes nothing keeps the earlier box; a lone polygon of two points fills nothing.
    const TPoint line[] = {{0, 0}, {0, 5}};
    mask.FillPolygon(1, line, 2);
    EXPECT_EQ(Box(mask), (std::vector<int>{1, 0, 7, 5}));
    TKVMask empty;
    empty.AllocateBits(8, 6, 8);
    empty.FillPolygon(200, line, 2);
    EXPECT_TRUE(empty.IsEmpty());
    const TPoint square[] = {{2, 2}, {4, 2}, {4, 4}, {2, 4}};
    empty.FillPolygon(200, square, 4);
    EXPECT_EQ(empty.GetPixel(3, 3), 200);
    EXPECT_EQ(empty.GetPixel(4, 3), 0);
    EXPECT_EQ(Box(empty), (std::vector<int>{2, 2, 3, 3}));
}

TEST(KVMask, Translate) {
    for (const int bits : {1, 8}) {
        SCOPED_TRACE(bits);
        TKVMask mask;
        mask.AllocateBits(8, 4, bits);
        mask.SetPixel(2, 1, 255);
        mask.SetPixel(4, 2, 255);
        int dx = -5, dy = 0;
        mask.Translate(dx, dy, false);
        EXPECT_EQ(dx, -2);
        EXPECT_EQ(Picture(mask), (std::vector<std::string>{"........", "#.......", "..#.....", "........"}));
        EXPECT_EQ(Box(mask), (std::vector<int>{0, 1, 2, 2}));
        dx = -1, dy = 1;
        mask.Translate(dx, dy, true);  // the left column moves out and is lost
        EXPECT_EQ(dx, -1);
        EXPECT_EQ(Picture(mask), (std::vector<std::string>{"........", "........", "........", ".#......"}));
        EXPECT_EQ(Box(mask), (std::vector<int>{0, 2, 1, 3}));
    }
}

TEST(KVMask, CopyBitmapMaskedOneBit) {
    TKVMask mask;
    mask.AllocateBits(4, 3, 1);
    mask.SetPixel(1, 1, 1);
    mask.SetPixel(2, 1, 1);
    mask.SetPixel(2, 2, 1);
    for (const TKVPixelFormat format : {kv24RGB, kv8Gray, kv16Gray, kvRGB48, kv1Bit}) {
        SCOPED_TRACE(int(format));
        TKVBitmap source, dest;
        source.Allocate(4, 3, format);
        source.Fill(format == kv1Bit ? 1 : 0xFFFFFF);
        dest.Allocate(4, 3, format);
        mask.CopyBitmapMasked(source, dest, false, false, false);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(dest.GetPixelRGB(x, y).g, mask.GetPixel(x, y) ? 255 : 0) << x << "," << y;
    }
    TKVBitmap source, dest;
    source.Allocate(4, 3, kv8Gray);
    dest.Allocate(4, 3, kv24RGB);
    dest.Fill(0x808080);
    mask.CopyBitmapMasked(source, dest, false, false, false);  // differing formats copy nothing
    EXPECT_EQ(dest.GetPixelRGB(1, 1), (TKVRGB{128, 128, 128}));
}

TEST(KVMask, CopyBitmapMaskedBlendsAndStaysInsideBothBitmaps) {
    TKVMask mask;
    mask.AllocateBits(6, 6, 8);
    mask.SetPixel(2, 2, 255);
    mask.SetPixel(3, 2, 128);
    mask.SetPixel(4, 4, 255);
    // The source holds only the box (columns 2..4, rows 2..4); the destination is smaller than
    // the mask, so (4, 4) has no destination pixel and must be skipped.
    TKVBitmap source, dest;
    Filled24(source, 3, 3, RGB(255, 255, 255));
    Filled24(dest, 4, 4, RGB(0, 0, 0));
    mask.CopyBitmapMasked(source, dest, false, true, false);
    EXPECT_EQ(dest.GetPixelRGB(2, 2), (TKVRGB{255, 255, 255}));  // full selection: exactly the source
    EXPECT_EQ(dest.GetPixelRGB(3, 2), (TKVRGB{128, 128, 128}));
    EXPECT_EQ(dest.GetPixelRGB(1, 2), (TKVRGB{0, 0, 0}));

    TKVBitmap graySource, grayDest;
    graySource.Allocate(6, 6, kv8Gray);
    graySource.Fill(255);
    grayDest.Allocate(3, 3, kv8Gray);
    mask.CopyBitmapMasked(graySource, grayDest, false, false, true);
    EXPECT_EQ(grayDest.GetByte(0, 0), 255);
    EXPECT_EQ(grayDest.GetByte(1, 0), 128);
    EXPECT_EQ(grayDest.GetByte(2, 2), 255);
    EXPECT_EQ(grayDest.GetByte(2, 0), 0);

    // Offsets past either bitmap copy nothing instead of writing outside it.
    TKVBitmap tiny;
    Filled24(tiny, 1, 1, RGB(9, 9, 9));
    mask.CopyBitmapMasked(source, tiny, true, false, false);
    EXPECT_EQ(tiny.GetPixelRGB(0, 0), (TKVRGB{9, 9, 9}));
}

TEST(KVMask, CopyAlphaMasked) {
    TKVMask mask;
    mask.AllocateBits(3, 1, 8);
    mask.SetPixel(0, 0, 100);
    mask.SetPixel(2, 0, 255);
    TKVBitmap source, dest;
    source.Allocate(3, 1, kv24RGB);
    source.SetAlpha(0, 0, 200);
    source.SetAlpha(2, 0, 50);
    dest.Allocate(3, 1, kv24RGB);
    mask.CopyAlphaMasked(source, dest, false, false);
    EXPECT_EQ(dest.GetAlpha(0, 0), 100);
    EXPECT_EQ(dest.GetAlpha(1, 0), 0);
    EXPECT_EQ(dest.GetAlpha(2, 0), 50);
    EXPECT_FALSE(dest.GetAlphaChannel()->Full());

    source.RemoveAlphaChannel();  // counts as opaque
    mask.CopyAlphaMasked(source, dest, false, false);
    EXPECT_EQ(dest.GetAlpha(2, 0), 255);
    EXPECT_FALSE(source.GetHasAlphaChannel());
}

TEST(KVMask, ExchangesWithBitmaps) {
    TKVMask mask;
    mask.AllocateBits(5, 2, 1);
    mask.SetPixel(4, 1, 1);
    TKVBitmap bitmap;
    KVCopyMaskToBitmap(&mask, bitmap);
    EXPECT_EQ(bitmap.GetPixelFormat(), kv1Bit);
    EXPECT_EQ(bitmap.GetPixelRGB(4, 1).r, 255);
    EXPECT_EQ(bitmap.GetPixelRGB(3, 1).r, 0);

    TKVMask back;
    KVCopyBitmapToMask(bitmap, back);
    EXPECT_EQ(back.BitsPerPixel(), 1);
    EXPECT_EQ(Picture(back), Picture(mask));
    EXPECT_TRUE(back.IsEmpty());

    TKVBitmap color;
    color.Allocate(5, 2, kv24RGB);
    KVCopyBitmapToMask(color, back);  // other formats leave the mask
    EXPECT_EQ(back.BitsPerPixel(), 1);
    EXPECT_EQ(back.GetPixel(4, 1), 1);

    TKVBitmap gray;
    gray.Allocate(2, 2, kv8Gray);
    KVCopyMaskToBitmap(nullptr, gray);
    EXPECT_EQ(gray.GetByte(1, 1), 255);
}

TEST(KVMask, Drawing) {
    InstallQtCanvas();
    TKVMask mask;
    mask.AllocateBits(4, 4, 1);
    const TPoint square[] = {{1, 1}, {3, 1}, {3, 3}, {1, 3}};
    mask.FillPolygon(1, square, 4);

    // Drawn twice as large at (1, 1): the 2x2 selection covers 4x4 view pixels from (3, 3).
    TBitmap view;
    view.SetPixelFormat(TPixelFormat::pf24bit);
    view.SetSize(10, 10);
    view.Canvas().Brush.Color = clWhite;
    view.Canvas().FillRect(Rect(0, 0, 10, 10));
    mask.DrawOutline(view.Canvas(), clRed, clBlue, 1, 1, 8, 8, 0);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 3 && x < 7 && y >= 3 && y < 7;
            const bool edge = inside && (x == 3 || x == 6 || y == 3 || y == 6);
            const TColor expected = !edge ? clWhite : ((x + y) & 4) == 0 ? clRed : clBlue;
            EXPECT_EQ(view.Canvas().Pixels(x, y), expected) << x << "," << y;
        }

    mask.DrawXor(view.Canvas(), 1, 1, 8, 8);
    EXPECT_EQ(view.Canvas().Pixels(4, 4), clBlack);
    EXPECT_EQ(view.Canvas().Pixels(3, 3), clBlue ^ 0xFFFFFF);

    mask.DrawOutsidePattern(view, 1, 1, 8, 8);
    EXPECT_EQ(view.Canvas().Pixels(0, 4), RGB(97, 97, 97));  // rows 3..6 cover the box
    EXPECT_EQ(view.Canvas().Pixels(1, 4), clWhite);
    EXPECT_EQ(view.Canvas().Pixels(4, 4), clBlack);           // selected: untouched
    EXPECT_EQ(view.Canvas().Pixels(0, 0), clWhite);           // above the box
}
