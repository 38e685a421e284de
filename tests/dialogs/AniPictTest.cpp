#include "tzlib/qt/AniPict.h"

#include <gtest/gtest.h>

#include "DialogTestSupport.h"

namespace {

struct TAniPictFixture : ::testing::Test {
    TDialogApplication application;
    TScratchFolder scratch;
    TTzAniPict picture;
    int loops = 0;

    TAniPictFixture() { picture.OnLoop = [this] { ++loops; }; }
    // A GIF made by ImageMagick from its arguments.
    std::string MakeGif(const std::string& name, const std::string& arguments) {
        const std::string path = scratch.Path(name);
        const auto made = RunTool("convert " + arguments + " " + Quoted(path));
        EXPECT_EQ(made.status, 0) << made.output;
        return path;
    }
};

TEST_F(TAniPictFixture, DecodesEveryFrameWithItsDelay) {
    picture.AutoSize = true;
    picture.SetFileName(MakeGif("three.gif", "-size 6x4 -delay 20 xc:red -delay 0 xc:lime -delay 5 xc:blue"));
    ASSERT_EQ(picture.Frames().size(), 3u);
    EXPECT_EQ(picture.size(), QSize(6, 4));
    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    const uint16_t delays[] = {20, 0, 5};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(picture.Frames()[i].image.pixel(3, 2), colours[i]) << i;
        EXPECT_EQ(picture.Frames()[i].delay, delays[i]) << i;
    }
    EXPECT_EQ(picture.Step(), 0);
    EXPECT_EQ(picture.TimerInterval(), 0);  // not playing
    picture.show();
    SaveScreenshot(picture, "AniPict");
}

TEST_F(TAniPictFixture, PlayingUsesEachDelayOrTheDefault) {
    picture.SetFileName(MakeGif("three.gif", "-size 6x4 -delay 20 xc:red -delay 0 xc:lime -delay 5 xc:blue"));
    picture.DefaultDelay = 7;
    picture.SetPlay(true);
    EXPECT_EQ(picture.TimerInterval(), 200);
    picture.Tick();
    EXPECT_EQ(picture.Step(), 1);
    EXPECT_EQ(picture.TimerInterval(), 70);  // no delay given: the default
    picture.Tick();
    EXPECT_EQ(picture.TimerInterval(), 50);
    picture.Tick();  // past the last frame: OnLoop, then from the start
    EXPECT_EQ(loops, 1);
    EXPECT_EQ(picture.Step(), 0);
    EXPECT_EQ(picture.TimerInterval(), 200);
    picture.SetStep(7);  // outside the frames: ignored
    EXPECT_EQ(picture.Step(), 0);
    picture.SetPlay(false);
    EXPECT_EQ(picture.TimerInterval(), 0);
}

TEST_F(TAniPictFixture, ALastFrameWithoutDelayEndsTheAnimationUnlessLooping) {
    const std::string gif = MakeGif("two.gif", "-size 4x4 -delay 10 xc:red -delay 0 xc:blue");
    picture.SetFileName(gif);
    picture.SetPlay(true);
    picture.Tick();
    EXPECT_EQ(picture.Step(), 1);
    EXPECT_EQ(picture.TimerInterval(), 0);
    EXPECT_EQ(loops, 1);

    picture.Loop = true;
    picture.SetPlay(true);
    picture.Tick();
    EXPECT_EQ(picture.TimerInterval(), 100);  // the default delay keeps it going
}

TEST_F(TAniPictFixture, OneFrameNeverStartsTheTimer) {
    picture.SetFileName(MakeGif("one.gif", "-size 4x4 -delay 10 xc:red"));
    picture.SetPlay(true);
    EXPECT_EQ(picture.Frames().size(), 1u);
    EXPECT_EQ(picture.TimerInterval(), 0);
}

TEST_F(TAniPictFixture, InterlacedFramesShowTheSamePicture) {
    const std::string arguments = "-size 5x11 gradient:red-blue -size 5x11 gradient:lime-black -delay 3";
    TTzAniPict interlaced;
    interlaced.SetFileName(MakeGif("interlaced.gif", arguments + " -interlace GIF"));
    picture.SetFileName(MakeGif("plain.gif", arguments + " -interlace none"));
    ASSERT_EQ(picture.Frames().size(), 2u);
    ASSERT_EQ(interlaced.Frames().size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(picture.Frames()[i].image, interlaced.Frames()[i].image) << i;
}

TEST_F(TAniPictFixture, TransparencyOfItsOwnOrOfTheBottomLeftColour) {
    picture.SetFileName(MakeGif("corner.gif", "-size 4x4 xc:white -fill black -draw 'point 0,3' -draw 'point 2,1'"));
    EXPECT_EQ(qAlpha(picture.Frames()[0].image.pixel(0, 3)), 255);
    picture.SetTransparent(true);
    EXPECT_EQ(qAlpha(picture.Frames()[0].image.pixel(0, 3)), 0);
    EXPECT_EQ(qAlpha(picture.Frames()[0].image.pixel(2, 1)), 0);
    EXPECT_EQ(qAlpha(picture.Frames()[0].image.pixel(1, 1)), 255);

    TTzAniPict own;
    own.SetTransparent(true);  // the picture's own transparent colour wins over the corner
    own.SetFileName(MakeGif("own.gif", "-size 4x4 xc:white -fill black -draw 'point 0,3' -transparent white"));
    EXPECT_EQ(qAlpha(own.Frames()[0].image.pixel(0, 3)), 255);
    EXPECT_EQ(qAlpha(own.Frames()[0].image.pixel(1, 1)), 0);
}

TEST_F(TAniPictFixture, DataThatIsNotAGifIsRefused) {
    EXPECT_EQ(MessageOf([&] { picture.SetPictureData({'B', 'M', 0, 0}); }), "Not a GIF file");
    EXPECT_TRUE(picture.Frames().empty());
    EXPECT_NE(MessageOf([&] { picture.SetFileName(scratch.Path("missing.gif")); }), "(no exception)");
    // A truncated GIF keeps the frames decoded before the damage.
    const std::string gif = MakeGif("cut.gif", "-size 4x4 -delay 10 xc:red xc:blue");
    std::string bytes = ReadFile(gif);
    picture.SetPictureData(std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2 + 10));
    EXPECT_LE(picture.Frames().size(), 1u);
}

}  // namespace
