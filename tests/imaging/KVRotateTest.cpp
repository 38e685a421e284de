#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "KVTestPictures.h"
#include "imaging/core/KVOrientation.h"
#include "imaging/core/KVRotate.h"

namespace {

TKVRGB Gray(int v) { return TKVRGB{uint8_t(v), uint8_t(v), uint8_t(v)}; }

const TKVPixelFormat Formats[] = {kv1Bit, kv8Paletted, kv8Gray, kv16Gray, kv24RGB, kv32f, kvCMYK, kvRGB48};

// Distinct levels (black and white for 1-bit) so that every move shows.
std::unique_ptr<TKVBitmap> Numbered(TKVPixelFormat format, int width, int height) {
    auto bitmap = MakeRGB(width, height, [&](int x, int y) {
        const int n = y * width + x;
        return format == kv1Bit ? Gray(n * 7 % 3 ? 255 : 0) : TKVRGB{uint8_t(n * 20), uint8_t(n * 20), uint8_t(n * 20)};
    });
    bitmap->SetPixelFormat(format);  // black and white survive the mean threshold
    return bitmap;
}

// A photograph-like scene for the comparisons with ImageMagick.
TKVRGB Scene(int x, int y) {
    return TKVRGB{uint8_t(127 + 100 * std::sin(x * 0.2)), uint8_t(x * 4 + y), uint8_t(y * 5 > 200 ? 200 : y * 5)};
}

}  // namespace

TEST(KVRotate, QuarterTurnsAndMirrorsMoveWholePixelsOfEveryFormat) {
    struct Move {
        const char* name;
        std::function<void(TKVBitmap&)> apply;
        bool swapsSize;
        // Where target (x, y) of a W x H source reads.
        std::function<void(int W, int H, int x, int y, int& sx, int& sy)> from;
    } moves[] = {
        {"+90", [](TKVBitmap& b) { KVRotateBitmap(b, false, 0, 90); }, true,
         [](int W, int, int x, int y, int& sx, int& sy) { sx = W - 1 - y, sy = x; }},
        {"-90", [](TKVBitmap& b) { KVRotateBitmap(b, false, 0, -90); }, true,
         [](int, int H, int x, int y, int& sx, int& sy) { sx = y, sy = H - 1 - x; }},
        {"180", [](TKVBitmap& b) { KVRotateBitmap(b, false, 0, 180); }, false,
         [](int W, int H, int x, int y, int& sx, int& sy) { sx = W - 1 - x, sy = H - 1 - y; }},
        {"mirror", [](TKVBitmap& b) { KVFlipBitmap(b, 0); }, false,
         [](int W, int, int x, int y, int& sx, int& sy) { sx = W - 1 - x, sy = y; }},
        {"flip", [](TKVBitmap& b) { KVFlipBitmap(b, 1); }, false,
         [](int, int H, int x, int y, int& sx, int& sy) { sx = x, sy = H - 1 - y; }},
    };
    const int W = 13, H = 3;  // 13 pixels: 1-bit rows end inside a byte
    for (const TKVPixelFormat format : Formats)
        for (const Move& move : moves) {
            auto original = Numbered(format, W, H);
            TKVBitmap turned;
            turned.Assign(original.get());
            turned.SetAlpha(1, 0, 50);
            move.apply(turned);
            ASSERT_EQ(turned.GetPixelFormat(), format) << move.name;
            ASSERT_EQ(turned.GetWidth(), move.swapsSize ? H : W) << move.name;
            for (int y = 0; y < turned.GetHeight(); ++y)
                for (int x = 0; x < turned.GetWidth(); ++x) {
                    int sx, sy;
                    move.from(W, H, x, y, sx, sy);
                    ASSERT_EQ(turned.GetPixelRGB(x, y), original->GetPixelRGB(sx, sy))
                        << int(format) << " " << move.name << " " << x << "," << y;
                    ASSERT_EQ(turned.GetAlpha(x, y), sx == 1 && sy == 0 ? 50 : 255) << move.name;
                }
        }
}

TEST(KVRotate, WholeTurnsChangeNothing) {
    for (const double angle : {0.0, 360.0, 720.0, -360.0}) {
        auto bitmap = MakeRGB(9, 5, Scene);
        auto original = MakeRGB(9, 5, Scene);
        KVRotateBitmap(*bitmap, true, 0xFF0000, angle);
        EXPECT_TRUE(SamePixels(*bitmap, *original)) << angle;
    }
    // 405 is 45.
    auto a = MakeRGB(20, 10, Scene), b = MakeRGB(20, 10, Scene);
    KVRotateBitmap(*a, false, 0, 405);
    KVRotateBitmap(*b, false, 0, 45);
    EXPECT_TRUE(SamePixels(*a, *b));
}

// Counter-clockwise for positive angles: the same picture ImageMagick makes with the negated angle.
TEST(KVRotate, ShearRotationMatchesImageMagick) {
    TScratchFolder folder;
    auto source = MakeRGB(60, 40, Scene);
    WritePpm(*source, folder.Path("in.ppm"));
    for (const double angle : {30.0, -20.0, 60.0, 100.0}) {
        auto ours = MakeRGB(60, 40, Scene);
        KVRotateBitmap(*ours, true, 0x204060, angle);
        const std::string output = folder.Path("out.ppm");
        ASSERT_EQ(RunTool("convert " + Quoted(folder.Path("in.ppm")) + " -background 'rgb(32,64,96)' -rotate " +
                          std::to_string(-angle) + " " + Quoted(output))
                      .status,
                  0);
        auto theirs = FromRgbImage(ReadPpm(output));
        EXPECT_NEAR(ours->GetWidth(), theirs->GetWidth(), 3) << angle;
        EXPECT_NEAR(ours->GetHeight(), theirs->GetHeight(), 3) << angle;
        // The centres agree: compare the middle of both pictures.
        const int w = 24, h = 16;
        auto middle = [&](TKVBitmap& b) {
            const int x0 = (b.GetWidth() - w) / 2, y0 = (b.GetHeight() - h) / 2;
            return MakeRGB(w, h, [&](int x, int y) { return b.GetPixelRGB(x0 + x, y0 + y); });
        };
        auto a = middle(*ours), b = middle(*theirs);
        EXPECT_GT(Psnr(*a, *b), 20) << angle;
        // A corner shows the background.
        EXPECT_EQ(ours->GetPixelRGB(0, 0), (TKVRGB{96, 64, 32})) << angle;
    }
}

TEST(KVRotate, OneBitPicturesTurnByTheirOwnMethod) {
    auto page = Numbered(kv1Bit, 40, 40);
    for (const auto& [background, corner] : {std::pair{0xFFFFFFu, 255}, std::pair{0xFF00FFu, 0}}) {
        TKVBitmap turned;
        turned.Assign(page.get());
        KVRotateBitmap(turned, false, background, 45);
        EXPECT_EQ(turned.GetPixelFormat(), kv1Bit);
        EXPECT_NEAR(turned.GetWidth(), 56, 1);
        EXPECT_NEAR(turned.GetHeight(), 56, 1);
        EXPECT_EQ(turned.GetPixelRGB(0, 0), Gray(corner));
        EXPECT_EQ(turned.GetPixelRGB(turned.GetWidth() - 1, turned.GetHeight() - 1), Gray(corner));
    }
}

TEST(KVRotate, OtherFormatsBecomeColorForFreeAngles) {
    auto gray = MakeRGB(30, 20, [](int x, int) { return Gray(x * 8); });
    gray->SetPixelFormat(kv16Gray);
    KVRotateBitmap(*gray, true, 0xFFFFFF, 30);
    EXPECT_EQ(gray->GetPixelFormat(), kv24RGB);
    EXPECT_GT(gray->GetWidth(), 30);
    EXPECT_EQ(gray->GetPixelRGB(0, 0), Gray(255));
    const TKVRGB middle = gray->GetPixelRGB(gray->GetWidth() / 2, gray->GetHeight() / 2);
    EXPECT_NEAR(middle.r, 120, 30);  // the ramp, not a 1-bit rendering of it
}

// Orientations as ImageMagick applies them to a TIFF that exiftool tagged.
TEST(KVOrientation, AllEightMatchImageMagickAutoOrient) {
    TScratchFolder folder;
    auto source = MakeRGB(7, 4, [](int x, int y) { return TKVRGB{uint8_t(x * 30), uint8_t(y * 60), uint8_t(x * y * 9)}; });
    WritePpm(*source, folder.Path("in.ppm"));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::string tagged = folder.Path("o" + std::to_string(orientation) + ".tif");
        ASSERT_EQ(RunTool("convert " + Quoted(folder.Path("in.ppm")) + " -compress none " + Quoted(tagged)).status, 0);
        ASSERT_EQ(RunTool("exiftool -q -n -overwrite_original -Orientation=" + std::to_string(orientation) + " " +
                          Quoted(tagged))
                      .status,
                  0);
        const std::string upright = folder.Path("up.ppm");
        ASSERT_EQ(RunTool("convert " + Quoted(tagged) + " -auto-orient " + Quoted(upright)).status, 0);
        auto theirs = FromRgbImage(ReadPpm(upright));
        auto ours = MakeRGB(7, 4, [&](int x, int y) { return source->GetPixelRGB(x, y); });
        KVApplyOrientation(*ours, orientation);
        EXPECT_TRUE(SamePixels(*ours, *theirs)) << orientation;
    }
    for (const int ignored : {0, 9, -1}) {
        auto bitmap = MakeRGB(4, 2, [](int x, int y) { return Gray(x * 50 + y); });
        KVApplyOrientation(*bitmap, ignored);
        EXPECT_EQ(bitmap->GetPixelRGB(3, 1), Gray(151));
    }
    auto wide = MakeRGB(4, 2, [](int x, int y) { return Gray(x * 50 + y); });
    KVApplyOrientation(*wide, 6);
    EXPECT_EQ(wide->GetWidth(), 2);
    EXPECT_EQ(wide->GetHeight(), 4);
}

// Pictures larger than one band of rows, in the file location, turn as they do in memory.
TEST(KVRotate, FileLocationAndManyBandsTurnAlike) {
    for (const double angle : {90.0, -90.0, 180.0, 30.0}) {
        auto memory = MakeRGB(70, 130, Scene);
        TKVBitmap file;
        file.SetMemoryThreshold(0);
        file.Assign(memory.get());
        ASSERT_EQ(file.Location(), kvFile);
        KVRotateBitmap(*memory, true, 0x102030, angle);
        KVRotateBitmap(file, true, 0x102030, angle);
        EXPECT_TRUE(SamePixels(file, *memory)) << angle;
    }
}

// A one-pixel line through the centre, turned by a small angle with smoothing: the darkness of
// each row centres where the turned line crosses it, so no half-pixel shift creeps in.
TEST(KVRotate, SmoothedTurnKeepsAThinLineInPlace) {
    const int side = 41;
    const double pi = std::acos(-1.0);
    for (const double angle : {7.0, -7.0}) {
        auto bitmap = MakeRGB(side, side, [](int x, int) { return Gray(x == side / 2 ? 0 : 255); });
        KVRotateBitmap(*bitmap, true, 0xFFFFFF, angle);
        const double slope = std::tan(angle * pi / 180), width = bitmap->GetWidth(), height = bitmap->GetHeight();
        for (int y = 0; y < bitmap->GetHeight(); ++y) {
            const double fromCentre = y + 0.5 - height / 2;
            if (std::abs(fromCentre) > 15) continue;  // clear of the line's ends
            double darkness = 0, moment = 0;
            for (int x = 0; x < bitmap->GetWidth(); ++x) {
                const double d = 255 - bitmap->GetPixelRGB(x, y).g;
                darkness += d;
                moment += d * (x + 0.5);
            }
            ASSERT_GT(darkness, 0) << angle << " row " << y;
            EXPECT_NEAR(moment / darkness, width / 2 + fromCentre * slope, 0.3) << angle << " row " << y;
        }
    }
}
