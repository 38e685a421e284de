#include <gtest/gtest.h>

#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVDibBitmap.h"
#include "imaging/proc/KVColorModels.h"
#include "platform/Graphics.h"

TEST(KVColorModels, HSL) {
    double h, s, l;
    KVRGBToHSL(0xFF0000, h, s, l);
    EXPECT_DOUBLE_EQ(h, 0);
    EXPECT_DOUBLE_EQ(s, 1);
    EXPECT_DOUBLE_EQ(l, 0.5);
    KVRGBToHSL(0x0000FF, h, s, l);
    EXPECT_DOUBLE_EQ(h, 2.0 / 3);
    KVRGBToHSL(0x808080, h, s, l);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(s, 0);

    EXPECT_EQ(KVHSLToRGB(1.2, 1, 0.5), KVHSLToRGB(0.2, 1, 0.5));
    EXPECT_EQ(KVHSLToRGB(0.2, 1.5, 0.5), KVHSLToRGB(0.2, 1, 0.5));
    EXPECT_EQ(KVHSLToRGB(0, 1, 0.5), (TKVRGB{0, 0, 255}));
    EXPECT_EQ(KVHSLToRGB(0, 0, 0.5), (TKVRGB{128, 128, 128}));  // 127.5 rounds to even
    for (const uint32_t color : {0x123456u, 0xFEDCBAu, 0x00FF80u}) {
        KVRGBToHSL(color, h, s, l);
        const TKVRGB back = KVHSLToRGB(h, s, l);
        EXPECT_EQ((uint32_t(back.r) << 16) | (back.g << 8) | back.b, color);
    }
}

TEST(KVColorModels, GrayRectangle) {
    TKVBitmap bitmap;
    bitmap.Allocate(4, 4, kv24RGB);
    bitmap.Fill(RGB(255, 0, 0));
    std::vector<int> reported;
    KVConvertToGrayRect(bitmap, 1, 1, 99, 3, nullptr, [&](TObject*, int per) { reported.push_back(per); });
    EXPECT_EQ(bitmap.GetPixelRGB(0, 0), (TKVRGB{0, 0, 255}));
    EXPECT_EQ(bitmap.GetPixelRGB(3, 2), (TKVRGB{53, 53, 53}));
    EXPECT_EQ(bitmap.GetPixelRGB(3, 3), (TKVRGB{0, 0, 255}));
    EXPECT_EQ(reported, (std::vector<int>{40, 80}));
}

TEST(KVColorModels, CopyBitsKeepsTheOtherBits) {
    struct Case {
        int64_t destBit, count, sourceBit;
    } cases[] = {{6, 5, 3}, {0, 16, 0}, {3, 1, 7}, {1, 20, 9}, {8, 8, 4}, {7, 13, 0}};
    const uint8_t source[4] = {0xB5, 0x3C, 0xE1, 0x7A};
    for (const Case& c : cases) {
        uint8_t dest[4] = {0x5A, 0xA5, 0x0F, 0xF0};
        uint8_t expected[4];
        std::memcpy(expected, dest, 4);
        for (int64_t i = 0; i < c.count; ++i) KVSetBit(expected, c.destBit + i, KVGetBit(source, c.sourceBit + i));
        KVCopyBits(dest, source, c.destBit, 4, c.count, c.sourceBit);
        EXPECT_EQ(std::memcmp(dest, expected, 4), 0) << c.destBit << " " << c.count << " " << c.sourceBit;
    }
    // Bits beyond the source row read as 0 and are never read.
    uint8_t dest[2] = {0xFF, 0xFF};
    KVCopyBits(dest, source, 0, 1, 12, 4);
    EXPECT_EQ(dest[0], 0x50);
    EXPECT_EQ(dest[1], 0x0F);
}

TEST(KVColorModels, TwoColorTest) {
    TKVBitmap page;
    page.Allocate(20, 5, kv24RGB);
    page.Fill(clWhite);
    page.FillRect(3, 2, 6, 2, clBlack);  // text
    uint32_t color1 = 7, color2 = 7;
    auto bits = KVConvertTo1BitIfTwoColors(page, color1, color2);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(color1, 0x000000u);
    EXPECT_EQ(color2, 0xFFFFFFu);
    EXPECT_EQ(bits->GetPixelFormat(), kv1Bit);
    EXPECT_EQ(bits->GetPixelRGB(4, 2), TKVRGB{});                // bit 0: the darker colour
    EXPECT_EQ(bits->GetPixelRGB(0, 0), (TKVRGB{255, 255, 255}));  // bit 1: the lighter

    TKVBitmap gray;
    gray.Allocate(3, 3, kv8Gray);
    gray.Fill(10);
    EXPECT_EQ(KVConvertTo1BitIfTwoColors(gray, color1, color2), nullptr);
    gray.SetByte(0, 0, 20);
    gray.SetByte(1, 1, 30);
    EXPECT_EQ(KVConvertTo1BitIfTwoColors(gray, color1, color2), nullptr);
}

TEST(KVColorModels, InvertBitmap) {
    TKVBitmap bitmap;
    bitmap.Allocate(3, 2, kv1Bit);
    bitmap.Fill(0);
    KVInvertBitmap(bitmap);
    EXPECT_EQ(bitmap.GetScanline(1)[3], 0xFF);  // the padding too
}

TEST(KVColorModels, PackedDIBsBothWays) {
    TKVBitmap gray16;
    gray16.Allocate(3, 2, kv16Gray);
    gray16.Fill(0x8000);
    std::vector<uint8_t> dib = KVBitmapToDIBHandle(gray16, 0, 0, 0, 0);
    ASSERT_EQ(dib.size(), 40u + 12 * 2 + 4);
    EXPECT_EQ(dib[14], 24);  // bit count
    EXPECT_EQ(dib[40], 128);

    TKVBitmap bits;
    bits.Allocate(16, 3, kv1Bit);
    bits.Fill(0);
    bits.FillRect(5, 1, 5, 1, 1);
    dib = KVBitmapToDIBHandle(bits, 4, 1, 3, 12);  // columns 4..11, rows 1..2
    ASSERT_EQ(dib.size(), 40u + 8 + 4 * 2 + 4);
    EXPECT_EQ(dib[4], 8);   // width
    EXPECT_EQ(dib[8], 2);   // height
    EXPECT_EQ(dib[44], 255);  // white second colour
    EXPECT_EQ(dib[48], 0);    // the bottom row (2) first
    EXPECT_EQ(dib[52], 0x40);

    TKVDibbitmap back;
    EXPECT_EQ(KVDIBToDibBitmap(dib.data(), int64_t(dib.size()), back), 1);
    EXPECT_EQ(back.GetPixelFormat(), kv1Bit);
    EXPECT_EQ(back.GetWidth(), 8);
    EXPECT_EQ(back.GetScanline(0)[0], 0x40);

    TKVBitmap colour;
    colour.Allocate(2, 2, kv24RGB);
    colour.Fill(RGB(1, 2, 3));
    dib = KVBitmapToDIBHandle(colour, 0, 0, 0, 0);
    EXPECT_EQ(KVDIBToDibBitmap(dib.data(), int64_t(dib.size()), back), 24);
    EXPECT_EQ(back.GetScanline(1)[2], 1);

    // Truncated or nonsensical data is refused without reading past it.
    EXPECT_EQ(KVDIBToDibBitmap(dib.data(), 30, back), 0);
    std::vector<uint8_t> lying = dib;
    lying[4] = 0xFF;
    lying[5] = 0xFF;  // a width the rows do not hold
    EXPECT_EQ(KVDIBToDibBitmap(lying.data(), int64_t(lying.size()), back), 0);
    EXPECT_EQ(KVBitmapToDIBHandle(colour, 5, 0, 0, 9).size(), 0u);
}

TEST(KVColorModels, ClassLibraryBitmaps) {
    TBitmap mono;
    mono.SetPixelFormat(TPixelFormat::pf1bit);
    mono.SetSize(11, 2);
    mono.ScanLine(1)[1] = 0x20;  // pixel 10
    TBitmap expanded;
    int last = -1;
    KVExpand1BitTBitmap(mono, expanded, nullptr, [&](TObject*, int per) { last = per; });
    EXPECT_EQ(expanded.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(expanded.Pixel(10, 1), clWhite);
    EXPECT_EQ(expanded.Pixel(9, 1), clBlack);
    EXPECT_EQ(last, 80);

    auto clone = KVCloneTBitmap(expanded);
    EXPECT_EQ(clone->Pixel(10, 1), clWhite);
    TBitmap empty, target;
    empty.SetPixelFormat(TPixelFormat::pf8bit);
    KVCopyTBitmap(empty, target);
    EXPECT_EQ(target.Width(), 1);
    EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf8bit);
}
