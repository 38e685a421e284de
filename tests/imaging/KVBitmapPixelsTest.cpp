#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVDibBitmap.h"
#include "platform/Graphics.h"

namespace {

std::unique_ptr<TKVBitmap> Make(int width, int height, TKVPixelFormat format, double fill) {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->Allocate(width, height, format);
    bitmap->Fill(fill);
    return bitmap;
}

// The format's pixel (0, 0) after converting a one-pixel picture.
std::unique_ptr<TKVBitmap> Converted(TKVPixelFormat from, double fill, TKVPixelFormat to, int ditherMode = 1) {
    auto bitmap = Make(1, 1, from, fill);
    bitmap->SetDitherMode(ditherMode);
    bitmap->SetPixelFormat(to);
    EXPECT_EQ(bitmap->GetPixelFormat(), to);
    return bitmap;
}

}  // namespace

TEST(KVBitmapPixels, FillPerFormat) {
    EXPECT_EQ(Make(10, 1, kv1Bit, 5)->GetScanline(0)[0], 0xFF);
    EXPECT_TRUE(Make(10, 1, kv1Bit, 5)->Full());
    EXPECT_EQ(Make(10, 1, kv1Bit, 0)->GetScanline(0)[1], 0);
    EXPECT_EQ(Make(3, 1, kv8Gray, 300)->GetByte(2, 0), 44);  // the low byte
    EXPECT_TRUE(Make(3, 1, kv8Gray, 255)->Full());
    EXPECT_EQ(Make(3, 1, kv16Gray, 65535)->GetWord(2, 0), 65535);
    EXPECT_EQ(Make(2, 1, kv24RGB, RGB(1, 2, 3))->GetPixelRGB(1, 0), KVCreateRGB(1, 2, 3));
    EXPECT_EQ(Make(2, 1, kv24RGB, clBtnFace)->GetPixelRGB(1, 0), KVColorToRGB(clBtnFace));  // system colours resolved
    EXPECT_FLOAT_EQ(Make(2, 1, kv32f, 0.5)->GetFloat(1, 0), 0.5f);
    EXPECT_FALSE(Make(2, 1, kv32f, 0.5)->Full());
    EXPECT_EQ(Make(1, 1, kvCMYK, clWhite)->GetCMYK(0, 0), 0xFFFFFFFFu);
    auto white48 = Make(2, 1, kvRGB48, 0x00FFFFFF);
    EXPECT_EQ(white48->GetRGB48(1, 0), (TKVRGB48{65535, 65535, 65535}));
    EXPECT_TRUE(white48->Full());
    EXPECT_EQ(Make(1, 1, kvRGB48, RGB(1, 2, 3))->GetRGB48(0, 0), (TKVRGB48{257, 514, 771}));
}

TEST(KVBitmapPixels, FillRect) {
    auto floats = Make(4, 4, kv32f, 1.0);
    floats->FillRect(1, 1, 2, 2, 0.5);  // truncated: 0
    EXPECT_FLOAT_EQ(floats->GetFloat(1, 1), 0.0f);
    EXPECT_FLOAT_EQ(floats->GetFloat(3, 3), 1.0f);
    EXPECT_FALSE(floats->Full());
    // Full survives only fills with the full value.
    struct FullCase {
        TKVPixelFormat format;
        double full, other;
    } fullCases[] = {{kv8Gray, 255, 254}, {kv16Gray, 65535, 65534}, {kv32f, 1.0, 2.0}, {kv24RGB, 0xFFFFFF, 0xFFFFFE},
                     {kv1Bit, 1, 0}};
    for (const FullCase& c : fullCases) {
        auto bitmap = Make(4, 4, c.format, c.full);
        ASSERT_TRUE(bitmap->Full()) << int(c.format);
        bitmap->FillRect(0, 0, 1, 1, c.full);
        EXPECT_TRUE(bitmap->Full()) << int(c.format);
        bitmap->FillRect(0, 0, 1, 1, c.other);
        EXPECT_FALSE(bitmap->Full()) << int(c.format);
    }

    auto bits = Make(20, 3, kv1Bit, 0);
    bits->FillRect(-5, 1, 9, 99, 1);  // clipped
    EXPECT_EQ(bits->GetScanline(0)[0], 0);
    EXPECT_EQ(bits->GetScanline(1)[0], 0xFF);
    EXPECT_EQ(bits->GetScanline(2)[1], 0xC0);
    auto gray = Make(3, 3, kv8Gray, 0);
    gray->FillRect(2, 2, 1, 1, 9);  // empty
    EXPECT_TRUE(gray->IsAllZero());

    // Rows without padding: a fill past the right edge must not spill into the next row.
    struct EdgeCase {
        TKVPixelFormat format;
        int width;
        int rowAlign;
    } edges[] = {{kv8Gray, 8, 32}, {kv24RGB, 4, 32}, {kv1Bit, 16, 8}, {kv16Gray, 2, 32}};
    for (const EdgeCase& c : edges) {
        TKVBitmap bitmap;
        bitmap.SetRowAlign(c.rowAlign);
        bitmap.Allocate(c.width, 3, c.format);
        bitmap.Fill(0);
        ASSERT_EQ(bitmap.GetRowLen() * 8, int64_t(c.width) * bitmap.GetBitCount()) << int(c.format);
        bitmap.FillRect(c.width - 1, 1, c.width + 40, 1, 0xFFFFFF);
        for (int y : {0, 2})
            for (int x = 0; x < c.width; ++x) EXPECT_EQ(bitmap.GetPixelRGB(x, y), TKVRGB{}) << int(c.format) << " " << x << "," << y;
        EXPECT_NE(bitmap.GetPixelRGB(c.width - 1, 1), TKVRGB{}) << int(c.format);
    }
}

// Levels outside 0..1 are kept as stored (RangeMin and RangeMax exist for them) and clamped only
// where they are read as levels.
TEST(KVBitmapPixels, FloatPixelsAreClampedWhenRead) {
    auto floats = Make(3, 1, kv32f, 0);
    floats->SetFloat(0, 0, 2.5f);
    floats->SetFloat(1, 0, -1.0f);
    floats->SetFloat(2, 0, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(floats->GetFloat(0, 0), 2.5f);
    EXPECT_EQ(floats->GetFloat(1, 0), -1.0f);
    EXPECT_TRUE(std::isnan(floats->GetFloat(2, 0)));
    floats->Fill(4.0);
    EXPECT_EQ(floats->GetFloat(1, 0), 4.0f);
    EXPECT_FALSE(floats->Full());
    floats->FillRect(0, 0, 0, 0, -3.0);
    EXPECT_EQ(floats->GetFloat(0, 0), -3.0f);
    float raw[3] = {7.0f, -3.0f, std::numeric_limits<float>::infinity()};
    std::memcpy(floats->GetScanline(0), raw, sizeof raw);
    EXPECT_EQ(floats->GetPixelRGB(0, 0), (TKVRGB{255, 255, 255}));
    EXPECT_EQ(floats->GetPixelRGB(1, 0), (TKVRGB{0, 0, 0}));
    floats->SetPixelFormat(kv16Gray);
    EXPECT_EQ(floats->GetWord(0, 0), 65535);
    EXPECT_EQ(floats->GetWord(1, 0), 0);
    EXPECT_EQ(floats->GetWord(2, 0), 65535);
}

TEST(KVBitmapPixels, PixelRGBOfEveryFormat) {
    struct Case {
        TKVPixelFormat format;
        double fill;
        TKVRGB expected;
    } cases[] = {
        {kv1Bit, 1, {255, 255, 255}},           {kv8Gray, 100, {100, 100, 100}},
        {kv16Gray, 0x1234, {0x12, 0x12, 0x12}}, {kv24RGB, RGB(9, 8, 7), {7, 8, 9}},
        {kv32f, 0.5, {127, 127, 127}},          {kvCMYK, RGB(255, 128, 0), {0, 128, 255}},
        {kvRGB48, RGB(9, 8, 7), {7, 8, 9}},
    };
    for (const Case& c : cases) EXPECT_EQ(Make(2, 2, c.format, c.fill)->GetPixelRGB(1, 1), c.expected) << int(c.format);
    auto paletted = Make(2, 2, kv8Paletted, 3);
    paletted->SetPaletteEntry(3, 0x102030);
    EXPECT_EQ(paletted->GetPixelRGB(0, 1), KVCreateRGB(0x10, 0x20, 0x30));
    TKVBitmap empty;
    EXPECT_EQ(empty.GetPixelRGB(0, 0), TKVRGB{});
}

TEST(KVBitmapPixels, AlphaValues) {
    auto bitmap = Make(3, 3, kv24RGB, 0);
    EXPECT_EQ(bitmap->GetAlpha(2, 2), 255);
    bitmap->SetFull(true);
    bitmap->SetAlpha(1, 1, 0);
    EXPECT_EQ(bitmap->GetAlpha(1, 1), 0);
    EXPECT_FALSE(bitmap->Full());
    EXPECT_FALSE(bitmap->GetAlphaChannel()->Full());
}

TEST(KVBitmapPixels, CopyRectClipsToBothBitmaps) {
    auto source = Make(10, 2, kv8Gray, 0);
    for (int x = 0; x < 10; ++x) source->SetByte(x, 0, uint8_t(x));
    auto dest = Make(10, 2, kv8Gray, 200);
    source->CopyRectTo(*dest, 0, 0, 10, 1, -3, 0);
    EXPECT_EQ(dest->GetByte(0, 0), 3);
    EXPECT_EQ(dest->GetByte(6, 0), 9);
    EXPECT_EQ(dest->GetByte(7, 0), 200);
    EXPECT_EQ(dest->GetByte(0, 1), 200);

    // A rectangle outside the destination copies nothing at all.
    auto untouched = Make(4, 4, kv8Gray, 200);
    source->CopyRectTo(*untouched, 0, 0, 5, 5, 10, 10);
    source->CopyRectTo(*untouched, 20, 0, 5, 5, 0, 0);
    EXPECT_EQ(untouched->GetByte(3, 3), 200);

    // 1-bit runs keep the neighbouring destination bits; 1-bit to 24-bit gives black and white.
    auto bits = Make(16, 1, kv1Bit, 1);
    auto target = Make(16, 1, kv1Bit, 0);
    bits->CopyRectTo(*target, 0, 0, 5, 1, 6, 0);
    EXPECT_EQ(target->GetScanline(0)[0], 0x03);
    EXPECT_EQ(target->GetScanline(0)[1], 0xE0);
    auto colour = Make(3, 1, kv24RGB, clRed);
    target->CopyRectTo(*colour, 5, 0, 3, 1, 0, 0);
    EXPECT_EQ(colour->GetPixelRGB(0, 0), (TKVRGB{0, 0, 0}));
    EXPECT_EQ(colour->GetPixelRGB(1, 0), (TKVRGB{255, 255, 255}));

    // Other pairs of formats copy nothing.
    auto other = Make(3, 1, kv16Gray, 7);
    colour->CopyRectTo(*other, 0, 0, 3, 1, 0, 0);
    EXPECT_EQ(other->GetWord(0, 0), 7);
}

TEST(KVBitmapPixels, CopyWithinOneBitmapInTheFileLocation) {
    TKVBitmap bitmap;
    bitmap.SetMemoryThreshold(0);
    bitmap.Allocate(4, 4, kv8Gray);
    ASSERT_EQ(bitmap.Location(), kvFile);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) bitmap.SetByte(x, y, uint8_t(10 * y + x));
    bitmap.CopyRectTo(bitmap, 0, 0, 3, 3, 1, 1);  // overlapping, downwards
    EXPECT_EQ(bitmap.GetByte(1, 1), 0);
    EXPECT_EQ(bitmap.GetByte(3, 3), 22);
    EXPECT_EQ(bitmap.GetByte(2, 3), 21);
    EXPECT_EQ(bitmap.GetByte(0, 3), 30);
}

TEST(KVBitmapPixels, MoveRegionAndResizeCanvas) {
    auto bitmap = Make(10, 10, kv8Gray, 50);
    bitmap->ResizeCanvas(20, 10, 1, 0, 0, 255);
    ASSERT_EQ(bitmap->GetWidth(), 20);
    for (int x = 0; x < 20; ++x) EXPECT_EQ(bitmap->GetByte(x, 9), x >= 5 && x <= 14 ? 50 : 0) << x;

    // Shrinking keeps the right columns and the middle rows.
    auto shrunk = Make(10, 6, kv8Gray, 0);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) shrunk->SetByte(x, y, uint8_t(x + 10 * y));
    shrunk->GetAlphaChannel();
    shrunk->ResizeCanvas(4, 4, 2, 1, 99, 7);
    ASSERT_EQ(shrunk->GetWidth(), 4);
    ASSERT_EQ(shrunk->GetHeight(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(shrunk->GetByte(x, y), x + 6 + 10 * (y + 1));
    EXPECT_EQ(shrunk->GetAlphaChannel()->GetWidth(), 4);

    auto grown = Make(2, 2, kv8Gray, 1);
    grown->GetAlphaChannel();
    grown->ResizeCanvas(4, 4, 2, 2, 9, 0);
    EXPECT_EQ(grown->GetByte(3, 3), 1);
    EXPECT_EQ(grown->GetByte(0, 0), 9);
    EXPECT_EQ(grown->GetAlpha(0, 0), 0);
    EXPECT_EQ(grown->GetAlpha(3, 3), 255);

    auto moved = Make(5, 1, kv8Gray, 0);
    for (int x = 0; x < 5; ++x) moved->SetByte(x, 0, uint8_t(x + 1));
    moved->MoveRegion(0, 0, 1, 0, 3, 0, 0);
    EXPECT_EQ(moved->GetByte(0, 0), 0);
    EXPECT_EQ(moved->GetByte(3, 0), 1);
    EXPECT_EQ(moved->GetByte(4, 0), 2);
}

TEST(KVBitmapPixels, CopyAlphaRectTakesTheLargerValue) {
    auto source = Make(2, 2, kv24RGB, 0);
    source->SetAlpha(0, 0, 10);
    auto dest = Make(2, 2, kv24RGB, 0);
    source->CopyAlphaRectTo(*dest, 0, 0, 2, 2, 0, 0);
    EXPECT_EQ(dest->GetAlpha(0, 0), 255);  // created fully opaque first
    dest->SetAlpha(1, 1, 3);
    dest->SetAlpha(0, 0, 3);
    source->CopyAlphaRectTo(*dest, 0, 0, 2, 2, 0, 0);
    EXPECT_EQ(dest->GetAlpha(0, 0), 10);
    EXPECT_EQ(dest->GetAlpha(1, 1), 255);
}

TEST(KVBitmapPixels, CopyFromTBitmapOfEveryFormat) {
    struct Case {
        TPixelFormat format;
        TKVPixelFormat expected;
    } cases[] = {
        {TPixelFormat::pf1bit, kv1Bit},    {TPixelFormat::pf4bit, kv8Paletted}, {TPixelFormat::pf8bit, kv8Paletted},
        {TPixelFormat::pf15bit, kv24RGB},  {TPixelFormat::pf16bit, kv24RGB},    {TPixelFormat::pf24bit, kv24RGB},
        {TPixelFormat::pf32bit, kv24RGB},
    };
    for (const Case& c : cases) {
        TBitmap source;
        source.SetPixelFormat(c.format);
        source.SetSize(9, 2);
        source.SetPixel(8, 1, clWhite);
        source.SetPixel(3, 0, clBlack);
        TKVBitmap bitmap;
        bitmap.Assign(&source);
        EXPECT_EQ(bitmap.GetPixelFormat(), c.expected) << int(c.format);
        const TKVRGB white = bitmap.GetPixelRGB(8, 1);
        EXPECT_GE(white.r, 248) << int(c.format);
        EXPECT_EQ(bitmap.GetPixelRGB(3, 0), TKVRGB{}) << int(c.format);
    }
    // The 5-5-5 and 5-6-5 rules, one full channel at a time.
    struct Packed {
        TPixelFormat format;
        uint16_t value;
        TKVRGB expected;
    } packed[] = {
        {TPixelFormat::pf15bit, 0x7C00, KVCreateRGB(248, 0, 0)}, {TPixelFormat::pf15bit, 0x03E0, KVCreateRGB(0, 248, 0)},
        {TPixelFormat::pf15bit, 0x001F, KVCreateRGB(0, 0, 248)}, {TPixelFormat::pf16bit, 0xF800, KVCreateRGB(248, 0, 0)},
        {TPixelFormat::pf16bit, 0x07E0, KVCreateRGB(0, 252, 0)}, {TPixelFormat::pf16bit, 0x001F, KVCreateRGB(0, 0, 248)},
        {TPixelFormat::pf16bit, 0xFFFF, KVCreateRGB(248, 252, 248)},
    };
    TKVBitmap bitmap;
    for (const Packed& c : packed) {
        TBitmap source;
        source.SetPixelFormat(c.format);
        source.SetSize(1, 1);
        source.ScanLine(0)[0] = uint8_t(c.value);
        source.ScanLine(0)[1] = uint8_t(c.value >> 8);
        bitmap.CopyFromTBitmap(source);
        EXPECT_EQ(bitmap.GetPixelRGB(0, 0), c.expected) << std::hex << c.value;
    }

    // A 1-bit bitmap whose palette is not black and white keeps its colours.
    TBitmap tinted;
    tinted.SetPixelFormat(TPixelFormat::pf1bit);
    tinted.SetSize(2, 1);
    tinted.SetPalette({{255, 0, 0, 0}, {0, 0, 255, 0}});
    tinted.ScanLine(0)[0] = 0x40;
    bitmap.CopyFromTBitmap(tinted);
    EXPECT_EQ(bitmap.GetPixelFormat(), kv8Paletted);
    EXPECT_EQ(bitmap.GetPixelRGB(0, 0), KVCreateRGB(255, 0, 0));
    EXPECT_EQ(bitmap.GetPixelRGB(1, 0), KVCreateRGB(0, 0, 255));
}

TEST(KVBitmapPixels, CopyFromDibbitmap) {
    TKVDibbitmap dib;
    dib.Allocate(3, 2, kv24RGB);
    dib.GetScanline(0)[0] = 42;
    for (const TKVLocation location : {kvMemory, kvTBitmap}) {
        TKVBitmap bitmap;
        bitmap.SetLocation(location);
        bitmap.CopyFromDibbitmap(&dib);
        EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
        EXPECT_EQ(bitmap.GetScanline(0)[0], 42);
        EXPECT_EQ(bitmap.GetScanline(1)[0], 0);
    }
}

TEST(KVBitmapConvert, SinglePixels) {
    EXPECT_EQ(Converted(kv8Gray, 128, kv16Gray)->GetWord(0, 0), 32896);
    EXPECT_FLOAT_EQ(Converted(kv8Gray, 128, kv32f)->GetFloat(0, 0), 128.0f / 255);
    EXPECT_EQ(Converted(kv24RGB, clWhite, kv16Gray)->GetWord(0, 0), 65535);
    EXPECT_EQ(Converted(kv24RGB, clWhite, kvCMYK)->GetCMYK(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Converted(kv24RGB, clBlack, kvCMYK)->GetCMYK(0, 0), 0x01000000u);  // K taken as 1
    EXPECT_EQ(Converted(kv24RGB, RGB(255, 0, 0), kv8Gray)->GetByte(0, 0), 53);
    EXPECT_EQ(Converted(kv24RGB, RGB(10, 20, 30), kvRGB48)->GetRGB48(0, 0), (TKVRGB48{2570, 5140, 7710}));
    EXPECT_EQ(Converted(kvRGB48, RGB(10, 20, 30), kv24RGB)->GetPixelRGB(0, 0), KVCreateRGB(10, 20, 30));
    EXPECT_EQ(Converted(kv16Gray, 0xABCD, kv8Gray)->GetByte(0, 0), 0xAB);
    EXPECT_EQ(Converted(kv32f, 1.0, kv8Gray)->GetByte(0, 0), 255);
    EXPECT_EQ(Converted(kvCMYK, RGB(10, 20, 30), kv24RGB)->GetPixelRGB(0, 0), KVCreateRGB(10, 20, 30));
    EXPECT_EQ(Converted(kv1Bit, 1, kv16Gray)->GetWord(0, 0), 65535);

    auto paletted = Converted(kv1Bit, 1, kv8Paletted);
    TKVRGB black{1, 1, 1}, white;
    paletted->GetPaletteEntry(0, black);
    paletted->GetPaletteEntry(1, white);
    EXPECT_EQ(black, TKVRGB{});
    EXPECT_EQ(white, (TKVRGB{255, 255, 255}));
    EXPECT_EQ(paletted->GetByte(0, 0), 1);
    auto grays = Converted(kv16Gray, 0x8000, kv8Paletted);
    EXPECT_EQ(grays->GetPixelRGB(0, 0), (TKVRGB{128, 128, 128}));
}

TEST(KVBitmapConvert, OrderedDither) {
    EXPECT_NE(Converted(kv24RGB, RGB(128, 128, 128), kv1Bit, 0)->GetScanline(0)[0] & 0x80, 0);
    EXPECT_EQ(Converted(kv24RGB, clBlack, kv1Bit, 0)->GetScanline(0)[0] & 0x80, 0);
    // Level 63: white wherever the matrix entry is below 63 (all but x 7, y 0); full white
    // stays white everywhere.
    for (const double value : {0.99, 1.0}) {
        auto bitmap = Make(8, 8, kv32f, value);
        bitmap->SetDitherMode(0);
        bitmap->SetPixelFormat(kv1Bit);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_EQ(bitmap->GetPixelRGB(x, y).r, x == 7 && y == 0 && value < 1 ? 0 : 255) << x << "," << y;
    }
}

TEST(KVBitmapConvert, KeepsSizeAlphaAndLocation) {
    for (const TKVLocation location : {kvMemory, kvFile, kvTBitmap}) {
        TKVBitmap bitmap;
        bitmap.SetMemoryThreshold(location == kvFile ? 0 : 1 << 30);
        bitmap.SetLocation(location);
        bitmap.Allocate(7, 5, kv24RGB);
        bitmap.Fill(RGB(200, 200, 200));
        bitmap.SetAlpha(2, 2, 9);
        bitmap.SetPixelFormat(kv8Gray);
        EXPECT_EQ(bitmap.Location(), location);
        EXPECT_EQ(bitmap.GetWidth(), 7);
        EXPECT_EQ(bitmap.GetPixelRGB(6, 4), (TKVRGB{200, 200, 200}));
        EXPECT_EQ(bitmap.GetAlpha(2, 2), 9);
        bitmap.SetPixelFormat(kv1Bit);
        EXPECT_EQ(bitmap.GetPixelRGB(6, 4), (TKVRGB{255, 255, 255}));
        if (location == kvTBitmap) {
            EXPECT_THROW(bitmap.SetPixelFormat(kvCMYK), Exception);
        }
    }
}
