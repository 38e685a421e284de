#include <gtest/gtest.h>

#include <QImage>

#include "platform/qt/QtBitmap.h"

namespace {

TBitmap Pattern(TPixelFormat format) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(5, 3);  // odd width: row padding differs between the two sides
    const TColor colours[] = {clRed, clLime, clBlue, clWhite, clBlack};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) bitmap.SetPixel(x, y, colours[(x + y) % 5]);
    return bitmap;
}

}  // namespace

TEST(QtBitmap, EveryPixelFormatSurvivesTheRoundTrip) {
    for (TPixelFormat format : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                                TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                TPixelFormat::pf32bit}) {
        const TBitmap source = Pattern(format);
        const QImage image = ToQImage(source);
        ASSERT_EQ(image.width(), 5);
        TBitmap back;
        FromQImage(image, back);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const TColor c = source.Pixel(x, y);
                EXPECT_EQ(image.pixelColor(x, y).rgb() & 0xFFFFFF,
                          QColor(GetRValue(c), GetGValue(c), GetBValue(c)).rgb() & 0xFFFFFF);
                EXPECT_EQ(back.Pixel(x, y), c) << int(format) << " at " << x << "," << y;
            }
        if (source.BitCount() <= 8) {
            EXPECT_EQ(back.Palette(), source.Palette()) << int(format);
        }
    }
}

TEST(QtBitmap, AlphaIsKeptInThirtyTwoBits) {
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(10, 20, 30, 40));
    image.setPixel(1, 0, qRgba(0, 0, 0, 0));
    TBitmap bitmap;
    FromQImage(image, bitmap);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf32bit);
    const uint8_t* row = bitmap.ScanLine(0);
    EXPECT_EQ(row[0], 30);
    EXPECT_EQ(row[2], 10);
    EXPECT_EQ(row[3], 40);
    TBitmap empty;
    FromQImage(QImage(), empty);
    EXPECT_TRUE(empty.Empty());
    EXPECT_TRUE(ToQImage(empty).isNull());
}
