#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "KVTestPictures.h"
#include "imaging/core/KVResample.h"

namespace {

TKVRGB Gray(int v) { return TKVRGB{uint8_t(v), uint8_t(v), uint8_t(v)}; }

// Smooth waves, a hard-edged square and a ramp: enough for filters to differ.
TKVRGB Scene(int x, int y) {
    const bool square = x > 30 && x < 70 && y > 20 && y < 50;
    const int r = int(127 + 120 * std::sin(x * 0.11) * std::cos(y * 0.07));
    const int g = square ? 240 : (x * 2 + y) % 256;
    const int b = int(127 + 100 * std::cos((x + y) * 0.05));
    return TKVRGB{uint8_t(b), uint8_t(g), uint8_t(r)};
}

std::unique_ptr<TKVBitmap> Target(int width, int height, TKVPixelFormat format = kv24RGB) {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->Allocate(width, height, format);
    return bitmap;
}

}  // namespace

TEST(KVResample, TriangleEnlargingTwoToFourHitsTheLastSourcePixel) {
    auto source = MakeRGB(2, 1, [](int x, int) { return Gray(x ? 255 : 0); });
    auto dest = Target(4, 1);
    KVResampleBitmap(*source, *dest, rfTriangle);
    // The scale is (4 - 1) / (2 - 1) = 3: target 3 lands on source 1 exactly.
    const int expected[] = {0, 84, 170, 255};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(dest->GetPixelRGB(x, 0), Gray(expected[x])) << x;
}

TEST(KVResample, LinearAndAreaWorkersExactly) {
    auto row = [](std::vector<int> levels) {
        return MakeRGB(int(levels.size()), 1, [levels](int x, int) { return Gray(levels[size_t(x)]); });
    };
    auto levels = [](TKVBitmap& b) {
        std::vector<int> out;
        for (int x = 0; x < b.GetWidth(); ++x) out.push_back(b.GetPixelRGB(x, 0).r);
        return out;
    };
    struct Case {
        const char* name;
        TResampleFilter filter;
        std::vector<int> source;
        int width;
        std::vector<int> expected;
    } cases[] = {
        // 17-bit fractions between neighbours; the last target pixel repeats the border.
        {"fast linear enlarging", rfFastLinear, {0, 255}, 4, {0, 127, 255, 255}},
        // Box means over left .. Trunc(min(i + 1, last) / ratio): the boxes share their ends.
        {"fast linear shrinking", rfFastLinear, {0, 100, 200, 50}, 2, {100, 200}},
        {"area average", rfBilinear, {0, 100, 200, 50}, 2, {50, 125}},
        {"area average of thirds", rfBicubic, {30, 60, 90}, 1, {60}},
        {"nearest", rfNone, {10, 20, 30, 40, 50, 60}, 4, {10, 20, 40, 50}},
    };
    for (const Case& c : cases) {
        auto source = row(c.source);
        auto dest = Target(c.width, 1);
        KVResampleBitmap(*source, *dest, c.filter);
        EXPECT_EQ(levels(*dest), c.expected) << c.name;
    }
}

TEST(KVResample, EveryFilterGivesTheAskedSizeAndFormat) {
    auto color = MakeRGB(37, 23, Scene);
    auto bits = MakeRGB(37, 23, [](int x, int y) { return Gray((x / 3 + y / 2) % 2 ? 255 : 0); });
    bits->SetPixelFormat(kv1Bit);
    for (int f = rfNone; f <= rfProjectWB; ++f) {
        const auto filter = TResampleFilter(f);
        const bool projection = filter == rfProjectBW || filter == rfProjectWB;
        for (const auto& [width, height] : {std::pair{11, 7}, std::pair{80, 50}, std::pair{37, 23}, std::pair{1, 1}}) {
            auto fromColor = Target(width, height);
            KVResampleBitmap(*color, *fromColor, filter);
            EXPECT_EQ(fromColor->GetWidth(), width);
            EXPECT_EQ(fromColor->GetHeight(), height);
            EXPECT_EQ(fromColor->GetPixelFormat(), projection ? kv1Bit : kv24RGB) << f;
            auto fromBits = Target(width, height, kv1Bit);
            KVResampleBitmap(*bits, *fromBits, filter);
            EXPECT_EQ(fromBits->GetWidth(), width);
            const bool staysOneBit = projection || filter == rfNone || (width == 37 && filter >= rfFastLinear);
            EXPECT_EQ(fromBits->GetPixelFormat(), staysOneBit ? kv1Bit : kv24RGB) << f << " " << width;
        }
    }
}

TEST(KVResample, KernelsFillEveryPixelOfTinyAndOtherSources) {
    // A single pixel spreads over the whole target.
    auto dot = MakeRGB(1, 1, [](int, int) { return TKVRGB{10, 20, 30}; });
    for (const TResampleFilter filter : {rfTriangle, rfLanczos3, rfNearest, rfMitchell}) {
        auto dest = Target(5, 3);
        dest->Fill(0xFFFFFF);
        KVResampleBitmap(*dot, *dest, filter);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) ASSERT_EQ(dest->GetPixelRGB(x, y), (TKVRGB{10, 20, 30})) << int(filter);
    }
    // Reduced 3000:1 every rounded weight is 0: the pixels are averaged, not lost to black.
    auto strip = MakeRGB(3000, 2, [](int x, int) { return Gray(x % 2 ? 250 : 150); });
    for (const TResampleFilter filter : {rfTriangle, rfLanczos3, rfBSpline}) {
        auto dest = Target(1, 1);
        KVResampleBitmap(*strip, *dest, filter);
        EXPECT_NEAR(dest->GetPixelRGB(0, 0).r, 200, 2) << int(filter);
    }
    // An 8-bit gray picture is resampled, kept in its format, and left as it was.
    auto gray = MakeRGB(8, 8, [](int x, int) { return Gray(x * 30); });
    gray->SetPixelFormat(kv8Gray);
    auto dest = Target(4, 4, kv8Gray);
    KVResampleBitmap(*gray, *dest, rfTriangle);
    EXPECT_EQ(dest->GetPixelFormat(), kv8Gray);
    EXPECT_EQ(gray->GetPixelFormat(), kv8Gray);
    EXPECT_EQ(gray->GetWidth(), 8);
    EXPECT_LT(dest->GetByte(0, 0), dest->GetByte(3, 0));
    EXPECT_GT(dest->GetByte(3, 0), 150);
}

TEST(KVResample, TransparentPixelsTurnGrayOnlyInTheResult) {
    auto source = MakeRGB(4, 4, [](int, int) { return TKVRGB{0, 0, 255}; });
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) source->SetAlpha(x, y, x < 2 ? 0 : 255);
    auto dest = Target(8, 8);
    KVResampleBitmap(*source, *dest, rfTriangle);
    EXPECT_EQ(source->GetPixelRGB(0, 0), (TKVRGB{0, 0, 255}));
    EXPECT_EQ(dest->GetPixelRGB(0, 0), Gray(128));
    EXPECT_EQ(dest->GetPixelRGB(7, 7), (TKVRGB{0, 0, 255}));
    ASSERT_TRUE(dest->GetHasAlphaChannel());
    EXPECT_EQ(dest->GetAlpha(0, 0), 0);
    EXPECT_EQ(dest->GetAlpha(7, 7), 255);
    EXPECT_FALSE(dest->GetAlphaChannel()->Full());
}

TEST(KVResample, ProjectionsKeepThinLines) {
    // White page, black lines every 10 pixels: reduced by 4, black wins keeps every line.
    auto page = MakeRGB(80, 80, [](int x, int y) { return Gray(x % 10 == 5 || y % 10 == 5 ? 0 : 255); });
    auto bw = Target(20, 20, kv1Bit);
    KVResampleBitmap(*page, *bw, rfProjectBW);
    for (int line = 5; line < 80; line += 10) {
        const int k = (line + 4) / 4;  // the target column whose box x(k-1)..x(k) holds the line
        if (k >= 20) continue;
        for (int y = 0; y < 20; ++y) EXPECT_EQ(bw->GetPixelRGB(k, y), Gray(0)) << line << " " << y;
    }
    // White wins on a black page with white dots keeps each dot; 128 counts as neither.
    auto night = MakeRGB(40, 40, [](int x, int y) { return Gray(x == 21 && y == 21 ? 200 : x == 5 ? 128 : 0); });
    auto wb = Target(10, 10, kv1Bit);
    KVResampleBitmap(*night, *wb, rfProjectWB);
    int white = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) white += wb->GetPixelRGB(x, y).r == 255;
    EXPECT_GE(white, 1);
    EXPECT_LE(white, 4);
}

TEST(KVResample, OneBitPicturesBecomeGray) {
    // Stripes 8 pixels wide, halved: gray levels that follow the stripes.
    auto bits = MakeRGB(32, 32, [](int x, int) { return Gray(x / 8 % 2 ? 255 : 0); });
    bits->SetPixelFormat(kv1Bit);
    for (const TResampleFilter filter : {rfLanczos3, rfTriangle, rfBilinear}) {
        auto dest = Target(16, 16, kv1Bit);
        KVResampleBitmap(*bits, *dest, filter);
        EXPECT_EQ(dest->GetPixelFormat(), kv24RGB);
        for (int x = 0; x < 16; ++x) {
            const TKVRGB p = dest->GetPixelRGB(x, 8);
            ASSERT_TRUE(p.r == p.g && p.g == p.b);
        }
        EXPECT_LT(dest->GetPixelRGB(1, 8).r, 40) << int(filter);
        EXPECT_GT(dest->GetPixelRGB(6, 8).r, 215) << int(filter);
    }
    auto counted = Target(4, 4);
    KVResample1BitToGray(*bits, 0, 0, *counted, 31, 31);
    // Column 1 counts source columns 4..12 (5 of 9 white) over rows 12..20.
    EXPECT_EQ(counted->GetPixelRGB(0, 2), Gray(0));
    EXPECT_EQ(counted->GetPixelRGB(1, 2), Gray(141));
}

TEST(KVResample, NearestCopiesWholePixelsOfAnyFormat) {
    auto source = MakeRGB(4, 2, [](int x, int y) { return Gray(x * 60 + y); });
    for (const TKVPixelFormat format : {kv1Bit, kv8Gray, kv16Gray, kv24RGB, kv32f, kvCMYK, kvRGB48}) {
        TKVBitmap copy;
        copy.Assign(source.get());
        copy.SetDitherMode(2);
        copy.SetPixelFormat(format);
        auto dest = Target(8, 4, format);
        KVResampleNearest(copy, *dest);
        EXPECT_EQ(dest->GetPixelFormat(), format);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) ASSERT_EQ(dest->GetPixelRGB(x, y), copy.GetPixelRGB(x / 2, y / 2)) << int(format);
    }
}

// Each filter beside ImageMagick's filter of the same shape, reducing and enlarging.
TEST(KVResample, CloseToImageMagicksFilters) {
    TScratchFolder folder;
    auto source = MakeRGB(100, 70, Scene);
    const std::string input = folder.Path("in.ppm");
    WritePpm(*source, input);
    struct Case {
        TResampleFilter filter;
        const char* name;
        double minimumPsnr;
    } cases[] = {
        {rfTriangle, "Triangle", 33}, {rfHermite, "Hermite", 33}, {rfBell, "Quadratic", 33},
        {rfBSpline, "Spline", 33},    {rfLanczos3, "Lanczos", 33}, {rfMitchell, "Mitchell", 33},
        {rfNearest, "Box", 31},       {rfLinear, "Triangle", 33},  {rfFastLinear, "Triangle", 34},
        {rfBilinear, "Triangle", 26}, {rfBicubic, "Catrom", 26},   {rfNone, "Point", 20},
    };
    for (const Case& c : cases)
        for (const auto& [width, height] : {std::pair{43, 31}, std::pair{170, 119}}) {
            const std::string output = folder.Path(std::string(c.name) + ".ppm");
            const std::string size = std::to_string(width) + "x" + std::to_string(height) + "!";
            ASSERT_EQ(RunTool("convert " + Quoted(input) + " -filter " + c.name + " -resize " + size + " " + Quoted(output)).status, 0);
            auto theirs = FromRgbImage(ReadPpm(output));
            auto ours = Target(width, height);
            KVResampleBitmap(*source, *ours, c.filter);
            EXPECT_GT(Psnr(*ours, *theirs), c.minimumPsnr) << c.name << " " << int(c.filter) << " to " << size;
        }
}

// Rows of the file location are valid one at a time: every worker must give what it gives in memory.
TEST(KVResample, FileLocationGivesTheSameResult) {
    auto memory = MakeRGB(37, 23, Scene);
    TKVBitmap file;
    file.SetMemoryThreshold(0);
    file.Assign(memory.get());
    ASSERT_EQ(file.Location(), kvFile);
    for (int f = rfNone; f <= rfProjectWB; ++f) {
        for (const auto& [width, height] : {std::pair{11, 7}, std::pair{60, 50}}) {
            auto expected = Target(width, height);
            KVResampleBitmap(*memory, *expected, TResampleFilter(f));
            TKVBitmap dest;
            dest.SetMemoryThreshold(0);
            dest.Allocate(width, height, kv24RGB);
            KVResampleBitmap(file, dest, TResampleFilter(f));
            EXPECT_TRUE(SamePixels(dest, *expected)) << f << " " << width;
        }
    }
}
