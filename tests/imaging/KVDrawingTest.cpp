#include <gtest/gtest.h>

#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVCoreUtils.h"
#include "imaging/core/KVDibBitmap.h"
#include "imaging/core/KVDrawing.h"
#include "platform/Canvas.h"
#include "platform/qt/QtCanvas.h"

// The library itself draws through the platform's canvas without knowing its engine; these
// tests give it Qt's.

namespace {

class KVDrawingTest : public ::testing::Test {
protected:
    void SetUp() override { InstallQtCanvas(); }
};

TBitmap Filled(int width, int height, TColor color) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    bitmap.Canvas().Brush.Color = color;
    bitmap.Canvas().FillRect(Rect(0, 0, width, height));
    return bitmap;
}

TColor Gray(int level) { return RGB(level, level, level); }

}  // namespace

TEST_F(KVDrawingTest, GetCanvasMovesTheImageToTheTBitmapAndDrawsOnItsRows) {
    for (const TKVLocation location : {kvMemory, kvFile}) {
        SCOPED_TRACE(int(location));
        TKVBitmap bitmap;
        bitmap.SetMemoryThreshold(location == kvFile ? 0 : 1 << 30);
        bitmap.SetLocation(location);
        bitmap.Allocate(8, 6, kv24RGB);
        bitmap.Fill(clGreen);
        ASSERT_EQ(bitmap.Location(), location);

        TCanvas& canvas = bitmap.GetCanvas();
        EXPECT_EQ(bitmap.Location(), kvTBitmap);
        EXPECT_EQ(&canvas, &bitmap.GetCanvas());
        canvas.Brush.Color = clRed;
        canvas.FillRect(Rect(2, 1, 5, 3));

        EXPECT_EQ(bitmap.GetPixelRGB(0, 0), KVCreateRGB(0, 128, 0));
        EXPECT_EQ(bitmap.GetPixelRGB(2, 1), KVCreateRGB(255, 0, 0));
        EXPECT_EQ(bitmap.GetPixelRGB(4, 2), KVCreateRGB(255, 0, 0));
        EXPECT_EQ(bitmap.GetPixelRGB(5, 2), KVCreateRGB(0, 128, 0));
        EXPECT_EQ(bitmap.GetScanline(1)[3 * 3 + 2], 255);
    }

    TKVBitmap floats;
    floats.SetLocation(kvMemory);
    floats.Allocate(4, 4, kv32f);
    try {
        floats.GetCanvas();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "kv32f pixel format not allowed when Location=kvTBitmap");
    }
    EXPECT_EQ(floats.Location(), kvMemory);
    EXPECT_EQ(floats.GetPixelFormat(), kv32f);
}

TEST_F(KVDrawingTest, BevelOutlinesTheRectangleWithEveryCorner) {
    TBitmap bitmap = Filled(10, 8, clWhite);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Pen.Mode = TPenMode::pmXor;  // the bevel draws in copy mode whatever the pen was
    KVDrawBevel(canvas, 1, 1, 6, 5, clRed, clBlue);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) {
            TColor expected = clWhite;
            if ((x == 1 || y == 1) && x >= 1 && x <= 6 && y >= 1 && y <= 5) expected = clRed;
            if ((x == 6 || y == 5) && x >= 1 && x <= 6 && y >= 1 && y <= 5) expected = clBlue;
            EXPECT_EQ(bitmap.Pixel(x, y), expected) << x << "," << y;
        }
    EXPECT_EQ(canvas.Pen.Mode, TPenMode::pmCopy);
}

TEST_F(KVDrawingTest, FadingShadowDarkensTowardsThePicture) {
    // Channel factors exp(-0.1 - h^2 / 6), h = (5 - c) / (5 / 3), of a strip 5 pixels wide.
    const int full[] = {51, 88, 134, 181, 217};
    const int half[] = {25, 44, 67, 91, 109};
    const TColor color = RGB(255, 128, 0);

    TBitmap vertical = Filled(9, 12, clWhite);
    KVDrawShadowVert(vertical.Canvas(), Rect(2, 1, 7, 11), color, 2);
    TBitmap horizontal = Filled(12, 9, clWhite);
    KVDrawShadowHorz(horizontal.Canvas(), Rect(1, 2, 11, 7), color, 2);
    for (int c = 0; c < 5; ++c)
        for (int j = 1; j < 11; ++j) {
            EXPECT_EQ(vertical.Pixel(2 + c, j), RGB(full[c], half[c], 0)) << c << "," << j;
            EXPECT_EQ(horizontal.Pixel(j, 2 + c), RGB(full[c], half[c], 0)) << c << "," << j;
        }
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(vertical.Pixel(2 + c, 11), clWhite);
        EXPECT_EQ(horizontal.Pixel(11, 2 + c), clWhite);
    }
    EXPECT_EQ(vertical.Pixel(7, 5), clWhite);
}

TEST_F(KVDrawingTest, GrayRampShadowIsCutDiagonallyAtItsEnd) {
    TBitmap vertical = Filled(5, 10, clRed);
    KVDrawShadowVert(vertical.Canvas(), Rect(0, 0, 5, 10), clBlack, 3);
    const int rows[][5] = {
        {255, 255, 255, 255, 255}, {188, 188, 188, 188, 208}, {139, 139, 139, 170, 208}, {103, 114, 139, 170, 208},
        {93, 114, 139, 170, 208},  {93, 114, 139, 170, 208},  {93, 114, 139, 170, 208},  {-1, 114, 139, 170, 208},
        {-1, -1, 139, 170, 208},   {-1, -1, -1, 170, 208},
    };
    for (int j = 0; j < 10; ++j)
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(vertical.Pixel(i, j), rows[j][i] < 0 ? clRed : Gray(rows[j][i])) << i << "," << j;

    // The horizontal strip is the vertical one turned on its diagonal.
    TBitmap horizontal = Filled(10, 5, clRed);
    KVDrawShadowHorz(horizontal.Canvas(), Rect(0, 0, 10, 5), clBlack, 3);
    for (int j = 0; j < 10; ++j)
        for (int i = 0; i < 5; ++i) EXPECT_EQ(horizontal.Pixel(j, i), vertical.Pixel(i, j)) << i << "," << j;
}

TEST_F(KVDrawingTest, BrushShadowFillsTheStripAndOtherKindsDrawNothing) {
    TBitmap bitmap = Filled(6, 6, clWhite);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = clGray;
    KVDrawShadowHorz(canvas, Rect(1, 4, 5, 6), clRed, 1);
    KVDrawShadowVert(canvas, Rect(0, 0, 6, 6), clRed, 0);
    KVDrawShadowVert(canvas, Rect(0, 0, 6, 6), clRed, 4);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(bitmap.Pixel(x, y), x >= 1 && x < 5 && y >= 4 ? clGray : clWhite) << x << "," << y;
}

TEST_F(KVDrawingTest, DrawDibStretchesADibOrAnImageOntoTheCanvas) {
    TKVDibbitmap dib;
    dib.Allocate(4, 2, kv1Bit);
    dib.GetScanline(0)[0] = 0xA0;  // white, black, white, black
    dib.GetScanline(1)[0] = 0x50;  // black, white, black, white
    auto handle = KVDrawDibOpen();
    TBitmap screen = Filled(16, 16, clRed);
    ASSERT_TRUE(KVDrawDibDraw(handle.get(), screen.Canvas(), 10, 10, 4, 4, dib, 1, 0, 2, 2));
    EXPECT_EQ(screen.Pixel(10, 10), clBlack);
    EXPECT_EQ(screen.Pixel(11, 11), clBlack);
    EXPECT_EQ(screen.Pixel(12, 10), clWhite);
    EXPECT_EQ(screen.Pixel(10, 12), clWhite);
    EXPECT_EQ(screen.Pixel(13, 13), clBlack);
    EXPECT_EQ(screen.Pixel(14, 10), clRed);
    EXPECT_EQ(screen.Pixel(9, 10), clRed);

    TKVBitmap image;  // rows in a file, one at a time
    image.SetMemoryThreshold(0);
    image.SetLocation(kvFile);
    image.Allocate(3, 2, kv8Paletted);
    image.SetPaletteEntry(7, 0x102030);
    image.SetByte(2, 1, 7);
    ASSERT_TRUE(KVDrawDibDraw(handle.get(), screen.Canvas(), 0, 0, 3, 2, image, 0, 0, 3, 2));
    EXPECT_EQ(screen.Pixel(2, 1), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(screen.Pixel(1, 1), clBlack);

    TKVBitmap deep;
    deep.SetLocation(kvMemory);
    deep.Allocate(2, 2, kv16Gray);
    EXPECT_FALSE(KVDrawDibDraw(handle.get(), screen.Canvas(), 0, 0, 2, 2, deep, 0, 0, 2, 2));
    EXPECT_FALSE(KVDrawDibDraw(nullptr, screen.Canvas(), 0, 0, 2, 2, dib, 0, 0, 2, 2));
    EXPECT_FALSE(KVDrawDibDraw(handle.get(), screen.Canvas(), 0, 0, 2, 2, dib, 3, 0, 2, 2));
    EXPECT_FALSE(KVDrawDibDraw(handle.get(), screen.Canvas(), 0, 0, 2, 2, dib, 0, -1, 2, 2));
    EXPECT_FALSE(KVDrawDibDraw(handle.get(), screen.Canvas(), 0, 0, 0, 2, dib, 0, 0, 2, 2));

    EXPECT_EQ(KVDrawDibRealize(handle.get(), screen.Canvas(), false), 0);
    EXPECT_TRUE(KVDrawDibClose(handle));
    EXPECT_FALSE(handle);
    EXPECT_FALSE(KVDrawDibClose(handle));
}

TEST_F(KVDrawingTest, DibCanvasDrawsOnTheBottomUpRows) {
    TKVDibbitmap dib;
    dib.Allocate(6, 4, kv24RGB);
    TCanvas& canvas = dib.Canvas();
    canvas.Brush.Color = clRed;
    canvas.FillRect(Rect(0, 0, 3, 2));
    const uint8_t red[] = {0, 0, 255};
    EXPECT_EQ(std::memcmp(dib.GetScanline(0), red, 3), 0);
    EXPECT_EQ(std::memcmp(dib.GetScanline(1) + 6, red, 3), 0);
    EXPECT_EQ(dib.GetScanline(1)[9 + 2], 0);
    EXPECT_EQ(dib.GetScanline(2)[2], 0);
    EXPECT_EQ(canvas.Pixels(2, 1), clRed);

    dib.Allocate(10, 4, kv1Bit);
    canvas.Pen.Color = clWhite;
    canvas.MoveTo(0, 3);
    canvas.LineTo(8, 3);
    EXPECT_EQ(canvas.PenPos(), (TPoint{8, 3}));
    EXPECT_EQ(dib.Bits()[0], 0xFF);  // the bottom row comes first
    EXPECT_EQ(dib.GetScanline(3)[1], 0x00);
    EXPECT_EQ(dib.GetScanline(0)[0], 0x00);
}

TEST(KVVirtualAlloc, GivesZeroedWritableBlocksAndTakesThemBack) {
    const int64_t size = 3 << 20;
    void* block = KVVirtualAlloc(size);
    ASSERT_NE(block, nullptr);
    auto* bytes = static_cast<uint8_t*>(block);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[size - 1], 0);
    std::memset(bytes, 0x5A, size_t(size));
    KVVirtualFree(block);
    EXPECT_EQ(block, nullptr);
    KVVirtualFree(block);

    EXPECT_EQ(KVVirtualAlloc(0), nullptr);
    EXPECT_EQ(KVVirtualAlloc(-5), nullptr);
    int notOurs = 0;
    void* other = &notOurs;
    KVVirtualFree(other);
    EXPECT_EQ(other, nullptr);
}
