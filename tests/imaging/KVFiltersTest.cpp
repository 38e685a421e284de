#include <gtest/gtest.h>

#include <cstdlib>

#include "imaging/core/KVBitmap.h"
#include "imaging/proc/KVFilters.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

TEST(KVFilters, Presets) {
    const std::vector<TKVFilterPreset>& presets = KVFilterPresets();
    TStringList& names = KVFilterPresetNames();
    ASSERT_GE(presets.size(), 9u);
    ASSERT_EQ(size_t(names.Count()), presets.size());
    const char* expectedNames[] = {"None",        "Blur",        "Edges",      "Emboss",    "High Pass 1",
                                   "High Pass 2", "High Pass 3", "Low Pass 1", "Low Pass 2"};
    const int divisors[] = {0, 9, 1, 1, 1, 1, 1, 10, 16};
    const int centres[] = {1, 1, -8, 1, 5, 9, 5, 1, 4};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(names.Strings(i), expectedNames[i]);
        EXPECT_EQ(presets[size_t(i)].Divisor, divisors[i]) << i;
        EXPECT_EQ(presets[size_t(i)].Coefficients[4], centres[i]) << i;
    }
    EXPECT_EQ(presets[3].Coefficients[0], -1);
    EXPECT_EQ(presets[6].Coefficients[1], -2);
    EXPECT_EQ(presets[8].Coefficients[8], 1);
}

TEST(KVFilters, HistogramChannelIndexAndMatching) {
    // Two pixels of blue 0 and 255; the reference puts one sample at 10 and one at 20, so the
    // equalized levels 127 and 255 map to 10 and 20.
    uint32_t reference[256] = {};
    reference[10] = reference[20] = 1;
    for (const TKVPixelFormat format : {kv24RGB, kvRGB48}) {
        for (int channel = 0; channel < 3; ++channel) {
            SCOPED_TRACE(std::to_string(int(format)) + " channel " + std::to_string(channel));
            TKVBitmap bitmap;
            bitmap.Allocate(2, 1, format);
            bitmap.Fill(RGB(100, 100, 100));
            // Channel 0 is blue, 1 green, 2 red in both formats.
            const int mask = 0xFF << (8 * (2 - channel));
            bitmap.FillRect(0, 0, 0, 0, RGB(100, 100, 100) & ~mask);
            bitmap.FillRect(1, 0, 1, 0, RGB(100, 100, 100) | mask);
            KVMatchHistogram(bitmap, channel, reference, 2);
            const TKVRGB low = bitmap.GetPixelRGB(0, 0), high = bitmap.GetPixelRGB(1, 0);
            const uint8_t TKVRGB::*member = channel == 0 ? &TKVRGB::b : channel == 1 ? &TKVRGB::g : &TKVRGB::r;
            EXPECT_EQ(low.*member, 10);
            EXPECT_EQ(high.*member, 20);
            for (const auto other : {&TKVRGB::b, &TKVRGB::g, &TKVRGB::r})
                if (other != member) {
                    EXPECT_EQ(low.*other, 100);
                }
            if (format == kvRGB48) {
                const TKVRGB48 wide = bitmap.GetRGB48(1, 0);
                const uint16_t value = channel == 0 ? wide.b : channel == 1 ? wide.g : wide.r;
                EXPECT_EQ(value, 20 * 257);
            }
        }
    }
}

TEST(KVFilters, MatchingAgainstItselfKeepsTheValuesAndBadInputChangesNothing) {
    TKVBitmap image;
    image.Allocate(16, 16, kv24RGB);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            reinterpret_cast<TKVRGB*>(image.GetScanline(y))[x] = {uint8_t(x * 16), uint8_t(y * 16), uint8_t(x * y)};
    TKVBitmap copy;
    copy.Assign(&image);
    KVMatchChannelHistograms(image, copy);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const TKVRGB a = image.GetPixelRGB(x, y), b = copy.GetPixelRGB(x, y);
            EXPECT_LE(std::abs(a.b - b.b), 16);
            EXPECT_LE(std::abs(a.g - b.g), 16);
            EXPECT_LE(std::abs(a.r - b.r), 16);
        }

    TKVBitmap gray, empty, target;
    gray.Allocate(4, 4, kv8Gray);
    target.Allocate(2, 2, kv24RGB);
    target.Fill(RGB(1, 2, 3));
    KVMatchChannelHistograms(gray, target);
    KVMatchChannelHistograms(empty, target);
    KVMatchChannelHistograms(image, empty);
    const uint32_t none[256] = {};
    KVMatchHistogram(target, 0, none, 0);
    EXPECT_EQ(target.GetPixelRGB(1, 1), (TKVRGB{3, 2, 1}));
}
