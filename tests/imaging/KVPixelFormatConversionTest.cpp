#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "KVTestPictures.h"
#include "imaging/core/KVPixelCodec.h"

namespace {

const TKVPixelFormat Formats[] = {kv1Bit, kv8Paletted, kv8Gray, kv16Gray, kv24RGB, kv32f, kvCMYK, kvRGB48};

TKVRGB Gray(int v) { return TKVRGB{uint8_t(v), uint8_t(v), uint8_t(v)}; }
TKVRGB Rgb(int r, int g, int b) { return TKVRGB{uint8_t(b), uint8_t(g), uint8_t(r)}; }

std::unique_ptr<TKVBitmap> In(TKVPixelFormat format, int width, int height, const std::function<TKVRGB(int, int)>& color) {
    auto bitmap = MakeRGB(width, height, color);
    bitmap->SetPixelFormat(format);
    return bitmap;
}

// Mean of the largest channel difference per pixel.
double MeanError(TKVBitmap& bitmap, const std::function<TKVRGB(int, int)>& color) {
    double sum = 0;
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int x = 0; x < bitmap.GetWidth(); ++x) {
            const TKVRGB p = bitmap.GetPixelRGB(x, y), q = color(x, y);
            sum += std::max({std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
        }
    return sum / (double(bitmap.GetWidth()) * bitmap.GetHeight());
}

// Largest channel difference between the pictures, read as blue, green, red.
int MaxError(TKVBitmap& bitmap, const std::function<TKVRGB(int, int)>& color) {
    int worst = 0;
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int x = 0; x < bitmap.GetWidth(); ++x) {
            const TKVRGB p = bitmap.GetPixelRGB(x, y), q = color(x, y);
            worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
        }
    return worst;
}

std::string Name(TKVPixelFormat a, TKVPixelFormat b) { return std::to_string(int(a)) + "->" + std::to_string(int(b)); }

}  // namespace

// Every ordered pair of formats, there and back, on pictures each pair can carry.
TEST(KVPixelFormatConversion, RoundTripsBetweenEveryPair) {
    auto blackWhite = [](int x, int y) { return Gray((x + y) % 3 ? 255 : 0); };
    auto ramp = [](int x, int y) { return Gray((y * 16 + x) % 256); };
    const TKVRGB colors[] = {Rgb(200, 10, 10), Rgb(10, 200, 10), Rgb(10, 10, 200), Rgb(250, 240, 3), Rgb(7, 99, 201)};
    auto colored = [&](int x, int y) { return colors[(x + 2 * y) % 5]; };
    auto carriesGray = [](TKVPixelFormat f) { return f != kv1Bit; };
    auto carriesColor = [](TKVPixelFormat f) { return f == kv8Paletted || f == kv24RGB || f == kvCMYK || f == kvRGB48; };
    for (const TKVPixelFormat a : Formats)
        for (const TKVPixelFormat b : Formats) {
            if (a == b) continue;
            struct Picture {
                const char* name;
                std::function<TKVRGB(int, int)> color;
                bool carried;
            } pictures[] = {
                {"black and white", blackWhite, true},
                {"gray ramp", ramp, carriesGray(a) && carriesGray(b)},
                {"colours", colored, carriesColor(a) && carriesColor(b)},
            };
            for (const Picture& picture : pictures) {
                if (!picture.carried) continue;
                auto bitmap = In(a, 16, 16, picture.color);
                bitmap->SetPixelFormat(b);
                ASSERT_EQ(bitmap->GetPixelFormat(), b);
                bitmap->SetPixelFormat(a);
                ASSERT_EQ(bitmap->GetPixelFormat(), a);
                // Float gray levels may lose one step in Trunc; CMYK one step in each way's divisions.
                const int loss = a == kvCMYK ? 2 : b == kvCMYK || a == kv32f || b == kv32f ? 1 : 0;
                EXPECT_LE(MaxError(*bitmap, picture.color), loss) << Name(a, b) << " " << picture.name;
            }
        }
}

TEST(KVPixelFormatConversion, ExactPixels) {
    // Gray 128 dithered: level 32 beats the matrix entry 0 at (0, 0).
    auto dithered = In(kv24RGB, 1, 1, [](int, int) { return Gray(128); });
    dithered->SetDitherMode(0);
    dithered->SetPixelFormat(kv1Bit);
    EXPECT_EQ(dithered->GetPixelRGB(0, 0), Gray(255));
    // The weighted mean of a half-black, half-white picture is 127: the halves stay.
    auto halves = In(kv24RGB, 8, 2, [](int x, int) { return Gray(x < 4 ? 0 : 255); });
    halves->SetPixelFormat(kv1Bit);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(halves->GetPixelRGB(x, 1), Gray(x < 4 ? 0 : 255));
    // A light gray page with dark writing keeps its writing with the default threshold.
    auto page = In(kv8Gray, 8, 8, [](int x, int y) { return Gray(x == y ? 60 : 200); });
    page->SetPixelFormat(kv1Bit);
    EXPECT_EQ(page->GetPixelRGB(3, 3), Gray(0));
    EXPECT_EQ(page->GetPixelRGB(3, 4), Gray(255));
    // Sixteen-bit gray goes through its high byte into the gray palette.
    auto words = In(kv16Gray, 2, 1, [](int x, int) { return Gray(x ? 129 : 3); });
    words->SetPixelFormat(kv8Paletted);
    EXPECT_EQ(words->GetByte(1, 0), 129);
    // RGB48 reaches a palette through 24 bits: the quantizer keeps its few colours exactly.
    auto deep = In(kvRGB48, 3, 1, [](int x, int) { return x ? Rgb(10, 20, 30) : Rgb(250, 0, 0); });
    deep->SetPixelFormat(kv8Paletted);
    EXPECT_EQ(deep->GetPixelRGB(2, 0), Rgb(10, 20, 30));
    EXPECT_EQ(deep->GetPixelRGB(0, 0), Rgb(250, 0, 0));
}

TEST(KVPixelFormatConversion, PalettesComeFromTheQuantizer) {
    auto ramp = [](int x, int y) { return Rgb(x * 8, y * 8, 128); };
    auto bitmap = In(kv24RGB, 32, 32, ramp);
    bitmap->SetPaletteColors(16);
    bitmap->SetPixelFormat(kv8Paletted);
    int used = 0;
    for (int i = 0; i < 256; ++i) {
        TKVRGB entry;
        bitmap->GetPaletteEntry(i, entry);
        if (entry != TKVRGB{}) used = i + 1;
    }
    EXPECT_LE(used, 16);
    EXPECT_LE(MeanError(*bitmap, ramp), 30) << "16";  // a 3-3-2 palette misses blue 128 by 43 alone
    // 1024 colours into 256 through the network.
    auto full = In(kv24RGB, 32, 32, ramp);
    full->SetPixelFormat(kv8Paletted);
    EXPECT_LE(MeanError(*full, ramp), 14) << "256";
}

TEST(KVPixelFormatConversion, ConvertFromLeavesTheSourceAndMovesItsAlpha) {
    auto source = In(kvCMYK, 4, 2, [](int x, int) { return Rgb(x * 60, 30, 200); });
    source->SetAlpha(1, 1, 77);
    const uint32_t before = source->GetCMYK(3, 0);
    TKVBitmap target;
    target.Allocate(4, 2, kv8Paletted);
    target.ConvertFrom(*source);
    EXPECT_EQ(source->GetPixelFormat(), kvCMYK);
    EXPECT_EQ(source->GetCMYK(3, 0), before);
    EXPECT_FALSE(source->GetHasAlphaChannel());
    EXPECT_EQ(target.GetAlpha(1, 1), 77);
    EXPECT_EQ(target.GetPixelRGB(3, 0), KVCMYKToRGB(before));
}

// Rows of the file location are valid one at a time: conversions give what they give in memory.
TEST(KVPixelFormatConversion, FileLocationGivesTheSameResult) {
    auto ramp = [](int x, int y) { return Rgb(x * 5, y * 7, (x + y) * 3); };
    for (const TKVPixelFormat format : {kv8Paletted, kv1Bit, kv8Gray, kvCMYK}) {
        for (const int ditherMode : {0, 1}) {
            auto memory = In(kv24RGB, 50, 40, ramp);
            memory->SetDitherMode(ditherMode);
            TKVBitmap file;
            file.SetMemoryThreshold(0);
            file.Assign(memory.get());
            ASSERT_EQ(file.Location(), kvFile);
            memory->SetPixelFormat(format);
            file.SetPixelFormat(format);
            EXPECT_EQ(file.Location(), kvFile);
            EXPECT_TRUE(SamePixels(file, *memory)) << int(format) << " " << ditherMode;
        }
    }
}
