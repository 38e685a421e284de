#include <gtest/gtest.h>

#include <QGuiApplication>

#include "QtTestApplication.h"
#include "platform/Canvas.h"
#include "platform/Exception.h"
#include "platform/qt/QtCanvas.h"

namespace {

class QtCanvasTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Text needs Qt's application object.
        EnsureTestApplication<QGuiApplication>();
        InstallQtCanvas();
    }
};

const TPixelFormat AllFormats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,  TPixelFormat::pf8bit, TPixelFormat::pf15bit,
                                   TPixelFormat::pf16bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit};

// The colour as a bitmap of that format stores it.
TColor Stored(TPixelFormat format, TColor color) {
    TBitmap probe;
    probe.SetPixelFormat(format);
    probe.SetSize(1, 1);
    probe.SetPixel(0, 0, color);
    return probe.Pixel(0, 0);
}

TBitmap WhiteBitmap(TPixelFormat format, int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = clWhite;
    canvas.FillRect(Rect(0, 0, width, height));
    return bitmap;
}

}  // namespace

TEST_F(QtCanvasTest, DrawsLinesRectanglesAndFillsOnEveryPixelFormat) {
    for (TPixelFormat format : AllFormats) {
        SCOPED_TRACE(BitsPerPixel(format));
        TBitmap bitmap = WhiteBitmap(format, 20, 12);
        TCanvas& canvas = bitmap.Canvas();
        canvas.Pen.Color = clBlack;
        canvas.MoveTo(2, 2);
        canvas.LineTo(10, 2);
        canvas.MoveTo(15, 10);
        canvas.LineTo(15, 3);  // drawn upwards: the end point is still the one left out
        EXPECT_EQ(canvas.PenPos(), (TPoint{15, 3}));
        canvas.Brush.Color = clRed;
        canvas.Rectangle(3, 5, 8, 9);
        canvas.Brush.Color = clBlue;
        canvas.FillRect(Rect(12, 6, 14, 8));

        const TColor white = Stored(format, clWhite), black = Stored(format, clBlack);
        for (int x = 2; x < 10; ++x) EXPECT_EQ(bitmap.Pixel(x, 2), black) << x;
        EXPECT_EQ(bitmap.Pixel(10, 2), white);
        for (int y = 4; y <= 10; ++y) EXPECT_EQ(bitmap.Pixel(15, y), black) << y;
        EXPECT_EQ(bitmap.Pixel(15, 3), white);
        for (TPoint corner : {TPoint{3, 5}, TPoint{7, 5}, TPoint{3, 8}, TPoint{7, 8}})
            EXPECT_EQ(bitmap.Pixel(corner.X, corner.Y), black) << corner.X << "," << corner.Y;
        EXPECT_EQ(bitmap.Pixel(5, 7), Stored(format, clRed));
        EXPECT_EQ(bitmap.Pixel(8, 5), white);
        EXPECT_EQ(bitmap.Pixel(3, 9), white);
        EXPECT_EQ(bitmap.Pixel(12, 6), Stored(format, clBlue));
        EXPECT_EQ(bitmap.Pixel(13, 7), Stored(format, clBlue));
        EXPECT_EQ(bitmap.Pixel(14, 6), white);
        EXPECT_EQ(bitmap.Pixel(12, 8), white);

        canvas.SetPixels(0, 11, clBlack);
        canvas.SetPixels(20, 0, clBlack);  // outside: nothing happens
        EXPECT_EQ(canvas.Pixels(0, 11), black);
        EXPECT_EQ(canvas.Pixels(-1, 0), clNone);
    }
}

TEST_F(QtCanvasTest, WritesTextInsideItsCellOnEveryPixelFormat) {
    for (TPixelFormat format : AllFormats) {
        SCOPED_TRACE(BitsPerPixel(format));
        TBitmap bitmap = WhiteBitmap(format, 80, 50);
        TCanvas& canvas = bitmap.Canvas();
        canvas.Font.Name = "Arial";
        canvas.Font.Size = 12;
        canvas.Font.Color = clBlack;
        canvas.Brush.Color = clYellow;
        const int width = canvas.TextWidth("Hx"), height = canvas.TextHeight("Hx");
        ASSERT_GT(width, 5);
        ASSERT_GT(height, 10);
        ASSERT_LT(3 + 2 * height, 50);
        EXPECT_GT(canvas.TextWidth("HxHx"), width);
        canvas.TextOut(4, 3, "Hx");
        EXPECT_EQ(canvas.PenPos(), (TPoint{4 + width, 3}));

        int dark = 0;
        const TColor white = Stored(format, clWhite);
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 80; ++x) {
                const bool inCell = x >= 4 && x < 4 + width && y >= 3 && y < 3 + height;
                if (!inCell) EXPECT_EQ(bitmap.Pixel(x, y), white) << x << "," << y;
                else if (bitmap.Pixel(x, y) == Stored(format, clBlack)) ++dark;
            }
        EXPECT_GT(dark, 10);
        // "Hx" reaches below neither the baseline nor the cell's last column: background there.
        EXPECT_EQ(bitmap.Pixel(4 + width - 1, 3 + height - 1), Stored(format, clYellow));

        canvas.Brush.Style = TBrushStyle::bsClear;
        canvas.TextOut(4, 3 + height, "x");
        EXPECT_EQ(bitmap.Pixel(4, 3 + 2 * height - 1), white);
    }
}

TEST_F(QtCanvasTest, PalettedBitmapKeepsItsPaletteAndUntouchedIndexes) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetSize(6, 4);
    std::vector<TPaletteEntry> palette(256);  // black everywhere but 1 (white) and 2 (red)
    palette[1] = {255, 255, 255, 0};
    palette[2] = {255, 0, 0, 0};
    bitmap.SetPalette(palette);
    bitmap.ScanLine(3)[5] = 7;  // black through another index than 0

    TCanvas& canvas = bitmap.Canvas();
    canvas.Pen.Color = RGB(200, 30, 40);  // not in the palette: nearest is red
    canvas.MoveTo(0, 0);
    canvas.LineTo(6, 0);
    canvas.Brush.Color = clWhite;
    canvas.FillRect(Rect(0, 1, 6, 2));

    EXPECT_EQ(bitmap.Palette(), palette);
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(bitmap.ScanLine(0)[x], 2) << x;
        EXPECT_EQ(bitmap.ScanLine(1)[x], 1) << x;
    }
    EXPECT_EQ(bitmap.ScanLine(3)[5], 7);
    EXPECT_EQ(bitmap.ScanLine(3)[4], 0);
}

TEST_F(QtCanvasTest, PenModesCombineWithThePixels) {
    struct Case {
        TPenMode mode;
        TColor pen, under, expected;
    };
    const Case cases[] = {
        {TPenMode::pmCopy, clRed, clWhite, clRed},
        {TPenMode::pmXor, clWhite, clRed, clAqua},
        {TPenMode::pmNot, clRed, RGB(10, 20, 30), RGB(245, 235, 225)},
        {TPenMode::pmNop, clRed, clWhite, clWhite},
        {TPenMode::pmMask, clRed, clYellow, clRed},
        {TPenMode::pmMerge, clRed, clBlue, clFuchsia},
        {TPenMode::pmBlack, clWhite, clWhite, clBlack},
    };
    for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        for (const Case& c : cases) {
            TBitmap bitmap;
            bitmap.SetPixelFormat(format);
            bitmap.SetSize(4, 1);
            for (int x = 0; x < 4; ++x) bitmap.SetPixel(x, 0, c.under);
            TCanvas& canvas = bitmap.Canvas();
            canvas.Pen.Color = c.pen;
            canvas.Pen.Mode = c.mode;
            canvas.MoveTo(0, 0);
            canvas.LineTo(4, 0);
            EXPECT_EQ(bitmap.Pixel(1, 0), c.expected) << int(c.mode) << " on " << BitsPerPixel(format) << " bits";
        }
    }
}

TEST_F(QtCanvasTest, DrawsAndStretchesBitmaps) {
    TBitmap source;
    source.SetPixelFormat(TPixelFormat::pf8bit);
    source.SetSize(2, 2);
    source.SetPixel(0, 0, clRed);
    source.SetPixel(1, 0, clLime);
    source.SetPixel(0, 1, clBlue);
    source.SetPixel(1, 1, clBlack);

    TBitmap bitmap = WhiteBitmap(TPixelFormat::pf24bit, 16, 16);
    bitmap.Canvas().Draw(1, 1, source);
    bitmap.Canvas().StretchDraw(Rect(4, 6, 12, 14), source);

    EXPECT_EQ(bitmap.Pixel(1, 1), clRed);
    EXPECT_EQ(bitmap.Pixel(2, 2), clBlack);
    EXPECT_EQ(bitmap.Pixel(3, 3), clWhite);
    const struct {
        int x, y;
        TColor color;
    } stretched[] = {{4, 6, clRed}, {7, 9, clRed}, {8, 6, clLime}, {11, 9, clLime},
                     {4, 10, clBlue}, {7, 13, clBlue}, {8, 10, clBlack}, {11, 13, clBlack},
                     {12, 13, clWhite}, {11, 14, clWhite}, {3, 6, clWhite}};
    for (const auto& p : stretched) EXPECT_EQ(bitmap.Pixel(p.x, p.y), p.color) << p.x << "," << p.y;

    // A bitmap drawn onto itself is read before it is changed.
    bitmap.Canvas().Draw(1, 0, bitmap);
    EXPECT_EQ(bitmap.Pixel(2, 1), clRed);
}

TEST_F(QtCanvasTest, ACopiedBitmapDrawsOnItsOwnCanvas) {
    TBitmap original = WhiteBitmap(TPixelFormat::pf24bit, 4, 4);
    TCanvas& canvas = original.Canvas();
    canvas.Pen.Color = clRed;

    TBitmap copy(original);
    EXPECT_NE(&copy.Canvas(), &canvas);
    EXPECT_EQ(copy.Canvas().Pen.Color, clBlack);  // a canvas of its own, fresh
    copy.Canvas().SetPixels(0, 0, clBlue);
    EXPECT_EQ(copy.Pixel(0, 0), clBlue);
    EXPECT_EQ(original.Pixel(0, 0), clWhite);

    TBitmap assigned;
    TCanvas& assignedCanvas = assigned.Canvas();
    assigned = original;  // keeps its canvas, which draws on the assigned pixels
    EXPECT_EQ(&assigned.Canvas(), &assignedCanvas);
    assigned.Canvas().SetPixels(1, 1, clBlue);
    EXPECT_EQ(assigned.Pixel(1, 1), clBlue);
    EXPECT_EQ(original.Pixel(1, 1), clWhite);

    int changes = 0;
    original.OnChange = [&](TObject*) { ++changes; };
    canvas.MoveTo(0, 3);
    canvas.LineTo(4, 3);
    EXPECT_EQ(original.Pixel(3, 3), clRed);
    EXPECT_EQ(changes, 1);
}

TEST_F(QtCanvasTest, BitmapWithoutDrawingEngineRefusesItsCanvas) {
    SetCanvasFactory(nullptr);
    TBitmap bitmap;
    try {
        bitmap.Canvas();
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_NE(std::string(e.what()).find("InstallQtCanvas"), std::string::npos) << e.what();
    }
}
