#include <gtest/gtest.h>

#include <cmath>

#include "imaging/core/KVBitmap.h"
#include "imaging/proc/KVBlur.h"
#include "platform/Graphics.h"

TEST(KVBlur, KernelWeightsAndEffectiveRadius) {
    TKVGaussianKernel kernel;
    KVGaussianKernel(kernel, 0.5);
    EXPECT_EQ(kernel.Radius, 2);
    const int expected[] = {17, 6976, 51549, 6976, 17};
    for (int i = -2; i <= 2; ++i) EXPECT_EQ(kernel.Weight(i), expected[i + 2]) << i;
    struct Case {
        double radius;
        int effective;
    } cases[] = {{1, 4}, {2, 9}, {40, 100}};
    for (const Case& c : cases) {
        KVGaussianKernel(kernel, c.radius);
        EXPECT_EQ(kernel.Radius, c.effective) << c.radius;
        int sum = 0;
        for (int i = -100; i <= 100; ++i) sum += kernel.Weight(i);
        EXPECT_NEAR(sum, 65536, 2) << c.radius;
    }
}

TEST(KVBlur, ImpulseSpreadsByTheWeights) {
    TKVGaussianKernel kernel;
    KVGaussianKernel(kernel, 1);
    uint8_t line[21] = {}, out[21];
    line[10] = 255;
    KVBlurRow8(kernel, line, out, 21);
    for (int x = 0; x < 21; ++x) {
        const int k = x - 10;
        const int expected = std::abs(k) <= kernel.Radius ? (kernel.Weight(k) * 255 + 32768) >> 16 : 0;
        EXPECT_EQ(out[x], expected) << x;
    }
    EXPECT_EQ(out[9], out[11]);
}

TEST(KVBlur, SingleColourStaysAndProgressIsReported) {
    for (const TKVPixelFormat format : {kv8Gray, kv24RGB}) {
        for (const double radius : {0.5, 3.0, 40.0}) {
            TKVBitmap bitmap;
            bitmap.Allocate(7, 5, format);
            bitmap.Fill(format == kv8Gray ? 93 : RGB(200, 17, 93));
            std::vector<int> reported;
            KVGaussianBlur(bitmap, radius, nullptr, [&](TObject*, int per) { reported.push_back(per); });
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x) {
                    const TKVRGB p = bitmap.GetPixelRGB(x, y);
                    EXPECT_EQ(p.b, 93);
                    EXPECT_EQ(p.r, format == kv8Gray ? 93 : 200);
                }
            ASSERT_EQ(reported.size(), 12u);
            EXPECT_EQ(reported.front(), 0);
            EXPECT_EQ(reported.back(), 91);  // Trunc((5 + 6) * 100 / 12)
        }
    }
    TKVBitmap gray16;
    gray16.Allocate(3, 3, kv16Gray);
    gray16.SetWord(1, 1, 60000);
    KVGaussianBlur(gray16, 2, nullptr, nullptr);
    EXPECT_EQ(gray16.GetWord(1, 1), 60000);
}

TEST(KVBlur, SoftShadowGrowsAndColoursOnlyTheShadow) {
    TKVBitmap bitmap;
    bitmap.Allocate(10, 10, kv24RGB);
    bitmap.Fill(RGB(0, 255, 0));
    KVSoftShadow(bitmap, 5, 5, nullptr, nullptr, 0xFF0000, true, 3);
    ASSERT_EQ(bitmap.GetWidth(), 35);
    ASSERT_EQ(bitmap.GetHeight(), 35);
    // The object sits centred at (12..21) and keeps its colour and opacity.
    EXPECT_EQ(bitmap.GetPixelRGB(16, 16), (TKVRGB{0, 255, 0}));
    EXPECT_EQ(bitmap.GetAlpha(16, 16), 255);
    // Below and right of it lies the shadow: red, partly transparent.
    EXPECT_EQ(bitmap.GetPixelRGB(24, 24), (TKVRGB{0, 0, 255}));
    EXPECT_GT(bitmap.GetAlpha(24, 24), 0);
    EXPECT_LT(bitmap.GetAlpha(24, 24), 255);
    // Far up and left nothing.
    EXPECT_EQ(bitmap.GetAlpha(0, 0), 0);
    EXPECT_EQ(bitmap.GetPixelRGB(0, 0), (TKVRGB{0, 0, 0}));
    EXPECT_FALSE(bitmap.GetAlphaChannel()->Full());
}

TEST(KVBlur, RoundCorners) {
    TKVBitmap bitmap;
    bitmap.Allocate(40, 30, kv24RGB);
    KVRoundCorners(bitmap, 0, 10);
    EXPECT_FALSE(bitmap.GetHasAlphaChannel());
    KVRoundCorners(bitmap, 10, 10);
    for (const auto& [x, y] : {std::pair{0, 0}, {39, 0}, {0, 29}, {39, 29}, {2, 1}, {37, 28}})
        EXPECT_EQ(bitmap.GetAlpha(x, y), 0) << x << "," << y;
    for (const auto& [x, y] : {std::pair{10, 10}, {29, 19}, {20, 0}, {0, 15}, {39, 15}, {20, 29}})
        EXPECT_EQ(bitmap.GetAlpha(x, y), 255) << x << "," << y;
    EXPECT_FALSE(bitmap.GetAlphaChannel()->Full());
}
