#include <gtest/gtest.h>

#include <string>

#include "DriverTestSupport.h"
#include "imaging/io/KVGifAnimation.h"
#include "imaging/io/KVLzw.h"

namespace {

class GifAnimationTest : public ::testing::Test {
protected:
    std::string MakeGif(const std::string& frames) {
        const std::string gif = folder.Path("anim.gif");
        const TCommandResult result = RunTool("convert " + frames + " " + Quoted(gif));
        EXPECT_EQ(result.status, 0) << result.output;
        return gif;
    }
    int Compose(const std::string& gif, int index, TDriverCall& call, TKVBitmap& bitmap) {
        TMemoryStream stream;
        LoadBytes(stream, ReadFile(gif));
        call.params.GifLZWDecompressor = GIFLZWDecode;
        call.params.SetImageIndex(index);
        return ComposeGIFFrame(stream, bitmap, call.params, call.progress);
    }
    TScratchFolder folder;
};

// Colour and alpha of every pixel; colours only where the pixel shows, since a transparent
// pixel has no colour to compare.
std::string Describe(TKVBitmap& bitmap) {
    std::string text;
    TKVBitmap* alpha = bitmap.GetHasAlphaChannel() ? bitmap.GetAlphaChannel() : nullptr;
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int x = 0; x < bitmap.GetWidth(); ++x) {
            const int a = alpha ? alpha->GetScanline(y)[x] : 255;
            const TKVRGB c = bitmap.GetPixelRGB(x, y);
            text += a == 0 ? "(----)" : "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
        }
    return text;
}

std::string DescribeImageMagick(const std::string& png) {
    const TRgbImage rgb = ReadWithImageMagick(png);
    const TRgbImage alpha =
        ParsePpm(RunTool("convert " + Quoted(png) + " -alpha extract -depth 8 ppm:-", false).output);
    std::string text;
    for (size_t i = 0; i < rgb.pixels.size(); i += 3)
        text += alpha.pixels[i] == 0 ? "(----)"
                                     : "(" + std::to_string(rgb.pixels[i]) + "," + std::to_string(rgb.pixels[i + 1]) +
                                           "," + std::to_string(rgb.pixels[i + 2]) + ")";
    return text;
}

TEST_F(GifAnimationTest, FramesMatchImageMagickCoalesce) {
    // A patch, a patch cleared afterwards, a patch with a hole, a patch past the screen.
    const std::string gif = MakeGif(
        "-size 12x9 xc:'rgb(10,20,30)' "
        "-dispose none -page 12x9+2+1 -size 4x3 xc:red "
        "-dispose background -page +5+4 -size 5x4 xc:lime "
        "-dispose none -page +1+5 \\( -size 6x3 xc:blue -fill white -draw 'point 2,1' -transparent white \\) "
        "-dispose none -page +8+6 -size 3x3 xc:yellow -set page 12x9 -loop 0");
    RunTool("convert " + Quoted(gif) + " -coalesce " + Quoted(folder.Path("frame-%d.png")));
    for (int index = 0; index < 5; ++index) {
        SCOPED_TRACE(index);
        TDriverCall call;
        TKVBitmap bitmap;
        EXPECT_EQ(Compose(gif, index, call, bitmap), 5);
        ASSERT_FALSE(call.Aborted());
        EXPECT_EQ(call.params.GifImageIndex, index);
        EXPECT_EQ(Describe(bitmap), DescribeImageMagick(folder.Path("frame-" + std::to_string(index) + ".png")));
    }
}

TEST_F(GifAnimationTest, IndexPastTheEndComposesEveryFrame) {
    const std::string gif = MakeGif("-size 6x4 xc:red -page +1+1 -size 2x2 xc:blue -page +3+2 -size 2x2 xc:lime");
    TDriverCall all, past, last;
    TKVBitmap a, b, c;
    EXPECT_EQ(Compose(gif, -1, all, a), 3);
    EXPECT_EQ(Compose(gif, 7, past, b), 3);
    EXPECT_EQ(Compose(gif, 2, last, c), 3);
    EXPECT_EQ(Describe(a), Describe(c));
    EXPECT_EQ(Describe(b), Describe(c));
    EXPECT_EQ(past.params.GifImageIndex, 7);
}

TEST_F(GifAnimationTest, RestoreToPreviousKeepsTheFrameLikeNone) {
    const std::string gif =
        MakeGif("-size 6x4 xc:red -dispose previous -page +1+1 -size 2x2 xc:blue -dispose none -page +4+2 -size 1x1 xc:lime");
    TDriverCall call;
    TKVBitmap bitmap;
    Compose(gif, 2, call, bitmap);
    EXPECT_EQ(bitmap.GetPixelRGB(1, 1), (TKVRGB{255, 0, 0}));  // still blue
}

TEST_F(GifAnimationTest, SingleFrameIsTheFrameAsDecoded) {
    const std::string gif = MakeGif("-size 5x3 xc:red -fill white -draw 'point 1,1' -transparent white");
    TDriverCall call;
    TKVBitmap bitmap;
    EXPECT_EQ(Compose(gif, 0, call, bitmap), 1);
    EXPECT_EQ(bitmap.GetWidth(), 5);
    ASSERT_TRUE(bitmap.GetHasAlphaChannel());
    EXPECT_EQ(bitmap.GetAlphaChannel()->GetScanline(1)[1], 0);
}

TEST_F(GifAnimationTest, DamagedFrameStopsWithTheAbortFlag) {
    const std::string whole = ReadFile(MakeGif("-size 30x20 xc:red -page +1+1 -size 20x10 plasma:fractal -colors 64"));
    const std::string cut = folder.Path("cut.gif");
    WriteFile(cut, whole.substr(0, whole.size() - 40));
    TDriverCall call;
    TKVBitmap bitmap;
    Compose(cut, 1, call, bitmap);
    EXPECT_TRUE(call.Aborted());
    EXPECT_EQ(bitmap.GetWidth(), 30);  // frame 0 stays
}

TEST_F(GifAnimationTest, LogicalScreenBeyondTheLimitsIsRefused) {
    std::string gif = ReadFile(MakeGif("-size 4x3 xc:red -page +1+1 -size 2x2 xc:blue"));
    gif[6] = char(0xF0), gif[7] = char(0xFF), gif[8] = char(0xF0), gif[9] = char(0xFF);
    const std::string path = folder.Path("huge.gif");
    WriteFile(path, gif);
    TDriverCall call;
    TKVBitmap bitmap;
    EXPECT_EQ(Compose(path, 1, call, bitmap), 2);
    EXPECT_TRUE(call.Aborted());
}

}  // namespace
