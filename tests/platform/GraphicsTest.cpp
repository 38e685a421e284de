#include <gtest/gtest.h>

#include "platform/Graphics.h"

TEST(Colors, NamesAndNumbersRoundTrip) {
    struct Case {
        TColor color;
        const char* text;
    };
    for (const Case& c : {Case{clBlack, "clBlack"}, Case{clNavy, "clNavy"}, Case{clBtnFace, "clBtnFace"},
                          Case{clNone, "clNone"}, Case{RGB(1, 2, 3), "$00030201"},
                          Case{TColor(0x80000030), "$80000030"}}) {
        EXPECT_EQ(ColorToString(c.color), c.text);
        EXPECT_EQ(StringToColor(c.text), c.color);
    }
    EXPECT_EQ(StringToColor("clnavy"), clNavy);
    EXPECT_EQ(StringToColor("255"), clRed);
    EXPECT_EQ(StringToColor("-2147483633"), clBtnFace);
    for (const char* bad : {"", "clNavyBlue", "$", "12x", "$123456789"}) EXPECT_THROW(StringToColor(bad), EConvertError) << bad;
}

TEST(Colors, SystemColorsResolve) {
    EXPECT_EQ(ColorToRGB(clWindow), clWhite);
    EXPECT_EQ(ColorToRGB(clWindowText), clBlack);
    EXPECT_EQ(ColorToRGB(clRed), clRed);
    EXPECT_GE(ColorToRGB(clBtnFace), 0);
}

TEST(Fonts, HeightFollowsSizeAtScreenResolution) {
    TFont font;
    font.Size = 12;
    EXPECT_EQ(font.Height(), -16);
    font.SetHeight(-13);
    EXPECT_EQ(font.Size, 10);
}

TEST(Bitmap, RowsArePaddedToFourBytes) {
    struct Case {
        TPixelFormat format;
        int width;
        int64_t rowBytes;
    };
    for (const Case& c : {Case{TPixelFormat::pf1bit, 33, 8}, Case{TPixelFormat::pf4bit, 9, 8},
                          Case{TPixelFormat::pf8bit, 5, 8}, Case{TPixelFormat::pf15bit, 3, 8},
                          Case{TPixelFormat::pf16bit, 2, 4}, Case{TPixelFormat::pf24bit, 5, 16},
                          Case{TPixelFormat::pf32bit, 3, 12}}) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(c.format);
        bitmap.SetSize(c.width, 2);
        EXPECT_EQ(bitmap.RowBytes(), c.rowBytes) << int(c.format);
        EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), c.rowBytes);
    }
}

TEST(Bitmap, PixelFormatConversionKeepsColours) {
    TBitmap bitmap;
    bitmap.SetSize(4, 2);
    const TColor colours[] = {clBlack, clWhite, clRed, clLime, clBlue, clYellow, clAqua, clFuchsia};
    for (int i = 0; i < 8; ++i) bitmap.SetPixel(i % 4, i / 4, colours[i]);
    for (TPixelFormat format : {TPixelFormat::pf32bit, TPixelFormat::pf16bit, TPixelFormat::pf15bit,
                                TPixelFormat::pf8bit, TPixelFormat::pf4bit, TPixelFormat::pf24bit}) {
        bitmap.SetPixelFormat(format);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(bitmap.Pixel(i % 4, i / 4), colours[i]) << int(format) << " " << i;
    }
    bitmap.SetPixelFormat(TPixelFormat::pf1bit);
    EXPECT_EQ(bitmap.Pixel(0, 0), clBlack);
    EXPECT_EQ(bitmap.Pixel(1, 0), clWhite);
    EXPECT_EQ(bitmap.Pixel(2, 1), clWhite);  // aqua is nearer to white
}

TEST(Bitmap, ResizeKeepsContentAndClearsNewPixels) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetSize(2, 2);
    bitmap.SetPixel(1, 1, clRed);
    bitmap.SetSize(3, 3);
    EXPECT_EQ(bitmap.Pixel(1, 1), clRed);
    EXPECT_EQ(bitmap.Pixel(2, 2), clBlack);
    bitmap.SetWidth(0);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_THROW(bitmap.ScanLine(0), EInvalidGraphic);
    EXPECT_THROW(bitmap.SetSize(-1, 4), EInvalidGraphic);
    EXPECT_THROW(bitmap.SetSize(1 << 30, 1 << 30), EOutOfResources);
}

TEST(Bitmap, ChangesRaiseOnChange) {
    TBitmap bitmap;
    int changes = 0;
    bitmap.OnChange = [&](TObject*) { ++changes; };
    bitmap.SetSize(2, 2);
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetPalette({{1, 2, 3, 0}});
    EXPECT_EQ(changes, 3);
    EXPECT_TRUE(bitmap.Modified());
    EXPECT_EQ(bitmap.Palette().size(), 256u);
    EXPECT_EQ(bitmap.Palette()[0], (TPaletteEntry{1, 2, 3, 0}));
    EXPECT_EQ(bitmap.Palette()[1], TPaletteEntry{});
}

TEST(Bitmap, MovingHandsThePixelsOverWithoutCopying) {
    TBitmap source;
    source.SetPixelFormat(TPixelFormat::pf8bit);
    source.SetSize(5, 3);
    source.ScanLine(2)[4] = 42;
    const uint8_t* pixels = source.ScanLine(0);

    TBitmap constructed(std::move(source));
    EXPECT_EQ(constructed.ScanLine(0), pixels);
    EXPECT_EQ(constructed.ScanLine(2)[4], 42);
    EXPECT_EQ(constructed.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(constructed.Palette().size(), 256u);
    EXPECT_TRUE(source.Empty());

    TBitmap assigned;
    assigned.SetSize(2, 2);
    assigned = std::move(constructed);
    EXPECT_EQ(assigned.ScanLine(0), pixels);
    EXPECT_EQ(assigned.Width(), 5);
    EXPECT_EQ(assigned.Height(), 3);
    EXPECT_TRUE(constructed.Empty());
    constructed.SetSize(4, 4);  // a moved-from bitmap is usable again
    EXPECT_EQ(constructed.ScanLine(3)[0], 0);
}
