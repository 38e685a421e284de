#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "KVTestPictures.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/core/KVProgress.h"
#include "imaging/proc/KVColorModels.h"
#include "imaging/core/KVColorReduction.h"

namespace {

TKVRGB Gray(int v) { return TKVRGB{uint8_t(v), uint8_t(v), uint8_t(v)}; }
TKVRGB Rgb(int r, int g, int b) { return TKVRGB{uint8_t(b), uint8_t(g), uint8_t(r)}; }

// The published 8 x 8 Bayer matrix, first index the column.
constexpr int Bayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

bool White(TKVBitmap& bitmap, int x, int y) { return bitmap.GetPixelRGB(x, y).r == 255; }

}  // namespace

TEST(KVColorReduction, OrderedDitherFollowsTheMatrix) {
    for (int level = 0; level < 63; ++level) {
        auto bitmap = MakeRGB(16, 16, [&](int, int) { return Gray(level * 4); });
        KVOrderedDitherTo1Bit(*bitmap);
        ASSERT_EQ(bitmap->GetPixelFormat(), kv1Bit);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) ASSERT_EQ(White(*bitmap, x, y), Bayer[x % 8][y % 8] < level) << level;
    }
    // 250 is level 62: only the cells 62 and 63 stay black; 251 is white everywhere.
    auto light = MakeRGB(8, 8, [](int, int) { return Gray(250); });
    KVOrderedDitherTo1Bit(*light);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(White(*light, x, y), !((x == 3 && y == 4) || (x == 7 && y == 0)));
    auto white = MakeRGB(8, 8, [](int, int) { return Gray(251); });
    KVOrderedDitherTo1Bit(*white);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_TRUE(White(*white, x, y));
}

TEST(KVColorReduction, GrayWeightsDecideThresholdAndHistogram) {
    auto bitmap = MakeRGB(3, 1, [](int x, int) { return x == 0 ? Rgb(255, 0, 0) : x == 1 ? Rgb(0, 255, 0) : Rgb(0, 0, 255); });
    int64_t counts[256];
    KVGrayHistogram(*bitmap, counts);
    EXPECT_EQ(counts[53], 1);   // 255 x 21 div 100
    EXPECT_EQ(counts[181], 1);  // 255 x 71 div 100
    EXPECT_EQ(counts[20], 1);   // 255 x 8 div 100
    KVThresholdToBW(*bitmap, 53);
    EXPECT_TRUE(White(*bitmap, 0, 0));
    EXPECT_TRUE(White(*bitmap, 1, 0));
    EXPECT_FALSE(White(*bitmap, 2, 0));
}

TEST(KVColorReduction, AutomaticThresholds) {
    struct Case {
        const char* name;
        std::function<TKVRGB(int, int)> color;
        int threshold;
        std::function<bool(int, int)> white;
    } cases[] = {
        {"mean of halves", [](int x, int) { return Gray(x < 4 ? 0 : 255); }, KVThresholdMean,
         [](int x, int) { return x >= 4; }},
        {"one colour", [](int, int) { return Gray(90); }, KVThresholdMaxEntropy, [](int, int) { return true; }},
        // Two levels score 0 everywhere; the mean keeps the writing on a dark page.
        {"dark page", [](int x, int y) { return Gray(x == y ? 30 : 0); }, KVThresholdMaxEntropy,
         [](int x, int y) { return x == y; }},
        // Cutting above 120 leaves the evener pair (120 and 10 at 3 : 3) below: 120 turns black.
        {"three levels", [](int x, int) { return Gray(x < 3 ? 10 : x < 6 ? 120 : 240); }, KVThresholdMaxEntropy,
         [](int x, int) { return x >= 6; }},
    };
    for (const Case& c : cases) {
        auto bitmap = MakeRGB(8, 8, c.color);
        KVThresholdToBW(*bitmap, c.threshold);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) ASSERT_EQ(White(*bitmap, x, y), c.white(x, y)) << c.name << " " << x << "," << y;
    }
    auto halves = MakeRGB(8, 2, [](int x, int) { return Gray(x < 4 ? 0 : 255); });
    EXPECT_EQ(KVThresholdLevel(*halves, KVThresholdMean), 127);
}

TEST(KVColorReduction, ThresholdWorkerReadsEveryFormat) {
    auto source = MakeRGB(4, 1, [](int x, int) { return Gray(x * 80); });  // 0, 80, 160, 240
    for (const TKVPixelFormat format : {kv1Bit, kv8Paletted, kv8Gray, kv16Gray, kv32f, kvCMYK, kvRGB48}) {
        TKVBitmap copy;
        copy.Assign(source.get());
        copy.SetDitherMode(2);  // the format change itself must not threshold
        copy.SetPixelFormat(format);
        TKVBitmap dest;
        dest.Allocate(4, 1, kv1Bit);
        KVThresholdTo1BitWorker(copy, dest, 100);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(White(dest, x, 0), format == kv1Bit ? White(copy, x, 0) : x >= 2) << int(format) << " " << x;
    }
}

TEST(KVColorReduction, ReduceColorsKeepsTheFormat) {
    auto bitmap = MakeRGB(32, 32, [](int x, int y) { return Rgb(x * 8, y * 8, 100); });
    std::vector<TKVRGB> palette(8);
    std::vector<int> reported;
    KVReduceColors(*bitmap, 8, palette.data(), nullptr, [&](TObject*, int per) { reported.push_back(per); });
    EXPECT_EQ(bitmap->GetPixelFormat(), kv24RGB);
    std::set<uint32_t> colors;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const TKVRGB p = bitmap->GetPixelRGB(x, y);
            colors.insert(uint32_t(p.r) << 16 | p.g << 8 | p.b);
            EXPECT_NE(std::find(palette.begin(), palette.end(), p), palette.end());
        }
    EXPECT_LE(colors.size(), 8u);
    EXPECT_EQ(reported.size(), 32u);
    EXPECT_EQ(reported.back(), 98);  // Trunc(100 / 32.5 x 32)
}

TEST(KVColorReduction, NearestPaletteIndexKeepsTheFirstOfEqualEntries) {
    const TKVRGB palette[] = {Rgb(0, 0, 0), Rgb(200, 0, 0), Rgb(200, 0, 0), Rgb(255, 255, 255)};
    EXPECT_EQ(KVNearestPaletteIndex(palette, 4, Rgb(190, 10, 0)), 1);
    EXPECT_EQ(KVNearestPaletteIndex(palette, 4, Rgb(250, 250, 240)), 3);
    EXPECT_EQ(KVNearestPaletteIndex(palette, 4, Rgb(5, 5, 5)), 0);
}

TEST(KVColorReduction, QuantizeRowBetweenBitDepths) {
    const TKVRGB palette[16] = {Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(255, 0, 0), Rgb(0, 0, 255)};
    const uint8_t bits[] = {0xA0};                    // 1 0 1 0 0
    const uint8_t nibbles[] = {0x12, 0x30};           // 1 2 3
    const uint8_t bytes[] = {1, 0, 1, 1, 0};
    std::vector<uint8_t> out(32, 0);
    EXPECT_EQ(KVQuantizeRow(bits, out.data(), 1, nullptr, palette, 5, 8), 5);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5), (std::vector<uint8_t>{1, 0, 1, 0, 0}));
    std::fill(out.begin(), out.end(), 0);
    EXPECT_EQ(KVQuantizeRow(bits, out.data(), 1, nullptr, palette, 5, 4), 3);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 3), (std::vector<uint8_t>{0x10, 0x10, 0x00}));
    EXPECT_EQ(KVQuantizeRow(nibbles, out.data(), 4, nullptr, palette, 3, 24), 9);
    EXPECT_EQ(reinterpret_cast<TKVRGB*>(out.data())[1], Rgb(255, 0, 0));
    EXPECT_EQ(reinterpret_cast<TKVRGB*>(out.data())[2], Rgb(0, 0, 255));
    std::fill(out.begin(), out.end(), 0xFF);
    EXPECT_EQ(KVQuantizeRow(bytes, out.data(), 8, nullptr, palette, 5, 1), 1);
    EXPECT_EQ(out[0], 0xB0);
    auto picture = MakeRGB(3, 1, [&](int x, int) { return palette[x + 1]; });
    std::vector<TKVRGB> built(4);
    const TKVQuantizer quantizer(*picture, built.data(), 4);
    std::fill(out.begin(), out.end(), 0);
    EXPECT_EQ(KVQuantizeRow(picture->GetScanline(0), out.data(), 24, &quantizer, built.data(), 3, 4), 2);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(out[1], 0x20);
    const uint8_t rgba[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(KVQuantizeRow(rgba, out.data(), 32, nullptr, nullptr, 2, 24), 6);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 6), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
    EXPECT_EQ(KVQuantizeRow(rgba, out.data(), 16, nullptr, nullptr, 2, 24), 0);
}

TEST(KVColorReduction, ProgressUsesTheRecordsFactor) {
    auto bitmap = MakeRGB(2, 4, [](int, int) { return Gray(128); });
    std::vector<int> reported;
    TKVProgressRec progress;
    progress.OnProgress = [&](TObject*, int per) { reported.push_back(per); };
    progress.PercentFactor = 100 / (4 + 0.5);
    KVOrderedDitherTo1Bit(*bitmap, &progress);
    EXPECT_EQ(reported, (std::vector<int>{22, 44, 66, 88}));
}
