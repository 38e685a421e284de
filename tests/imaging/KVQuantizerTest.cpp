#include <gtest/gtest.h>

#include <vector>

#include "KVTestPictures.h"
#include "imaging/core/KVQuantizer.h"

namespace {

const TKVRGB Sentinel{1, 2, 3};

TKVRGB Rgb(int r, int g, int b) { return TKVRGB{uint8_t(b), uint8_t(g), uint8_t(r)}; }

}  // namespace

TEST(KVQuantizer, FewColorsAreKeptInOrderOfFirstAppearance) {
    const TKVRGB colors[] = {Rgb(200, 10, 10), Rgb(10, 200, 10), Rgb(10, 10, 200)};
    auto bitmap = MakeRGB(5, 3, [&](int x, int y) { return colors[(x + y) % 3]; });
    std::vector<TKVRGB> palette(4, Sentinel);
    TKVQuantizer quantizer(*bitmap, palette.data(), 4);
    EXPECT_EQ(quantizer.PaletteSize(), 3);
    EXPECT_EQ(palette, (std::vector<TKVRGB>{colors[0], colors[1], colors[2], Sentinel}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(quantizer.RGBToIndex(colors[i]), i);
    // A colour the picture does not hold still gets an entry of the palette: the nearest.
    EXPECT_EQ(quantizer.RGBToIndex(Rgb(180, 40, 30)), 0);
}

TEST(KVQuantizer, GrayPicturesGetTheGrayRamp) {
    auto bitmap = MakeRGB(16, 1, [](int x, int) { return Rgb(x * 16, x * 16, x * 16); });
    struct Case {
        int colors, entry, level, red, index;
    } cases[] = {{16, 1, 16, 200, 12}, {16, 15, 240, 255, 15}, {256, 77, 77, 77, 77}, {3, 2, 170, 100, 1}};
    for (const Case& c : cases) {
        std::vector<TKVRGB> palette(size_t(c.colors), Sentinel);
        TKVQuantizer quantizer(*bitmap, palette.data(), c.colors);
        EXPECT_EQ(palette[size_t(c.entry)], Rgb(c.level, c.level, c.level)) << c.colors;
        // The red byte alone decides.
        EXPECT_EQ(quantizer.RGBToIndex(Rgb(c.red, 0, 255)), c.index) << c.colors;
    }
}

TEST(KVQuantizer, BoxSplitterCutsWhereTheScoreIsBest) {
    // Red bins 0, 1 and 31 hold 4, 4 and 8 pixels: the cut lies after bin 0's neighbour,
    // and the lower box's mean 0.5 rounds to even.
    auto bitmap = MakeRGB(16, 1, [](int x, int) { return x < 4 ? Rgb(0, 0, 0) : x < 8 ? Rgb(8, 0, 0) : Rgb(248, 0, 0); });
    std::vector<TKVRGB> palette(3, Sentinel);
    TKVQuantizer quantizer(*bitmap, palette.data(), 2);
    EXPECT_EQ(quantizer.Method(), 1);
    EXPECT_EQ(quantizer.PaletteSize(), 2);
    EXPECT_EQ(palette, (std::vector<TKVRGB>{Rgb(0, 0, 0), Rgb(248, 0, 0), Sentinel}));
    EXPECT_EQ(quantizer.RGBToIndex(Rgb(8, 0, 0)), 0);
    EXPECT_EQ(quantizer.RGBToIndex(Rgb(250, 3, 3)), 1);
}

TEST(KVQuantizer, ColorsOfOneCellMakeOneEntry) {
    auto bitmap = MakeRGB(8, 8, [](int x, int y) { return Rgb(x, y, 0); });
    std::vector<TKVRGB> palette(16, Sentinel);
    TKVQuantizer quantizer(*bitmap, palette.data(), 16);
    EXPECT_EQ(quantizer.PaletteSize(), 1);
    EXPECT_EQ(palette[0], Rgb(0, 0, 0));
    EXPECT_EQ(palette[1], Sentinel);
}

TEST(KVQuantizer, MethodFollowsTheColorCountAndStaysInsideThePalette) {
    auto ramp = [](int x, int y) { return Rgb(x * 4, y * 4, (x + y) * 2); };
    struct Case {
        int width, height, colors, method;
        double meanError;  // of the three channels summed: far below what a wrong map gives
    } cases[] = {
        {64, 64, 16, 1, 60}, {64, 64, 127, 1, 25}, {64, 64, 128, 0, 25}, {64, 64, 256, 0, 25},
        // 200 pixels: the network's sampling step of 499 pixels wraps many times.
        {20, 10, 128, 0, 16},
    };
    for (const Case& c : cases) {
        auto bitmap = MakeRGB(c.width, c.height, ramp);
        std::vector<TKVRGB> palette(size_t(c.colors), Sentinel);
        TKVQuantizer quantizer(*bitmap, palette.data(), c.colors);
        EXPECT_EQ(quantizer.Method(), c.method);
        double error = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const int index = quantizer.RGBToIndex(ramp(x, y));
                ASSERT_GE(index, 0);
                ASSERT_LT(index, quantizer.PaletteSize());
                error += KVColorDistance(palette[size_t(index)], ramp(x, y));
            }
        EXPECT_LT(error / (c.width * c.height), c.meanError) << c.width << " " << c.colors;
    }
}

TEST(KVQuantizer, PalettedBitmapsAnswerByTheirOwnEntries) {
    TKVBitmap bitmap;
    bitmap.Allocate(2, 1, kv8Paletted);
    bitmap.SetPaletteEntry(0, 0xFFFFFF);
    bitmap.SetPaletteEntry(1, 0x000000);
    for (int i = 2; i < 256; ++i) bitmap.SetPaletteEntry(i, 0x808080);
    std::vector<TKVRGB> palette(256, Sentinel);
    TKVQuantizer quantizer(bitmap, palette.data(), 256);
    EXPECT_EQ(palette[0], Rgb(255, 255, 255));
    EXPECT_EQ(quantizer.RGBToIndex(Rgb(255, 255, 255)), 0);
    EXPECT_EQ(quantizer.RGBToIndex(Rgb(0, 0, 0)), 1);
    EXPECT_EQ(quantizer.RGBToIndex(Rgb(20, 10, 0)), 1);
}
