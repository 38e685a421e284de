// The transition engine on a recording host and a clock the test sets: progress, ticks, the end,
// the paint lock, and what it does with starts it cannot run.
#include "imaging/view/KVTransitionEffects.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <vector>

#include "TransitionFixtures.h"
#include "QtTestApplication.h"

namespace {

constexpr TBgr From{10, 100, 200}, To{250, 50, 0};

struct RecordingHost : TKVTransitionHost {
    int width = 64, height = 48;
    std::vector<TBitmap> shown;
    int locks = 0, unlocks = 0, updates = 0;

    int ViewWidth() const override { return width; }
    int ViewHeight() const override { return height; }
    TColor Background() const override { return RGB(64, 128, 192); }
    void ShowTransitionFrame(const TBitmap& frame) override { shown.push_back(frame); }
    void LockPaint() override { ++locks; }
    void UnlockPaintNoUpdate() override { ++unlocks; }
    void Update() override { ++updates; }
};

class KVTransitionEffectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
    }
    // Ticks with the clock at each time since the start.
    void TickAt(std::initializer_list<uint32_t> times) {
        for (uint32_t t : times) {
            now = start + t;
            engine.Tick();
        }
    }
    // The column where the wipe's old picture begins on a shown frame.
    static int WipeEdge(const TBitmap& frame) {
        int x = 0;
        while (x < frame.Width() && PixelAt(frame, x, 0) == To) ++x;
        return x;
    }

    uint32_t start = 5000, now = 5000;
    RecordingHost host;
    TKVTransitionEffects engine{host, [this] { return now; }};
};

// Each tick draws with the progress measured at the one before: 0, 0, 409, 1022; the tick at
// 1000 ms ends it. Wipe edges are p x 64 >> 10.
TEST_F(KVTransitionEffectsTest, FramesUseTheProgressOfThePreviousTick) {
    engine.Start(SolidFrame(64, 48, From), SolidFrame(64, 48, To), kvttLeftRight1, 1000, false);
    EXPECT_TRUE(engine.Running());
    EXPECT_TRUE(engine.TimerActive());
    TickAt({0, 400, 999});
    EXPECT_EQ(engine.Progress(), 1022);
    EXPECT_TRUE(engine.Running());
    TickAt({1000});
    EXPECT_FALSE(engine.Running());
    EXPECT_FALSE(engine.TimerActive());
    ASSERT_EQ(host.shown.size(), 4u);
    const int expectedEdges[] = {0, 0, 25, 63};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(WipeEdge(host.shown[i]), expectedEdges[i]) << "tick " << i + 1;
    EXPECT_EQ(engine.TickCount(), 4);
    EXPECT_EQ(host.locks, 1);
    EXPECT_EQ(host.unlocks, 1);
    EXPECT_EQ(host.updates, 0);
}

TEST_F(KVTransitionEffectsTest, ShowFinalEndsOnTheNewPictureAndUpdates) {
    engine.Start(SolidFrame(64, 48, From), SolidFrame(64, 48, To), kvttCrossDissolve, 100, true);
    TickAt({0, 50, 100});
    ASSERT_EQ(host.shown.size(), 4u);
    EXPECT_EQ(CountPixels(host.shown.back(), To), 64 * 48);
    EXPECT_EQ(host.updates, 1);
    EXPECT_EQ(host.unlocks, 1);
}

// The tick count wraps; the elapsed time is taken modulo 2^32.
TEST_F(KVTransitionEffectsTest, ElapsedTimeSurvivesTheClockWrapping) {
    start = now = 0xFFFFFF00u;
    engine.Start(SolidFrame(64, 48, From), SolidFrame(64, 48, To), kvttLeftRight1, 1000, false);
    TickAt({0, 500});
    EXPECT_EQ(engine.Progress(), 512);
    EXPECT_TRUE(engine.Running());
}

TEST_F(KVTransitionEffectsTest, StopEndsAnyRunningTransitionOnce) {
    engine.Stop();
    EXPECT_EQ(host.unlocks, 0);
    engine.Start(SolidFrame(64, 48, From), SolidFrame(64, 48, To), kvttSweepClockwise, 1000, true);
    TickAt({0, 10});
    engine.Stop();
    engine.Stop();
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(host.unlocks, 1);
    EXPECT_EQ(host.updates, 1);
    EXPECT_EQ(engine.CurrentFrame().Width(), 1);
    // A later tick from a queued timer event draws nothing.
    const size_t shown = host.shown.size();
    engine.Tick();
    EXPECT_EQ(host.shown.size(), shown);
}

// Nothing to run: the new picture is shown at once and the view updated when asked.
TEST_F(KVTransitionEffectsTest, StartsThatCannotRunShowTheNewPicture) {
    struct Case {
        int effect, width, height, duration;
    };
    const Case cases[] = {
        {kvttNone, 64, 48, 1000},       {kvttPanZoom, 64, 48, 1000},     {200, 64, 48, 1000},
        {kvttCrossDissolve, 64, 48, 0}, {kvttCrossDissolve, 64, 48, -5}, {kvttCrossDissolve, 0, 48, 1000},
    };
    for (const Case& c : cases) {
        host = RecordingHost();
        host.width = c.width;
        host.height = c.height;
        engine.Start(SolidFrame(64, 48, From), SolidFrame(64, 48, To), TKVTransitionType(c.effect), c.duration, true);
        EXPECT_FALSE(engine.Running()) << c.effect;
        EXPECT_EQ(host.locks, 0) << c.effect;
        EXPECT_EQ(host.updates, 1) << c.effect;
        if (c.width > 0) {
            ASSERT_EQ(host.shown.size(), 1u) << c.effect;
            EXPECT_EQ(CountPixels(host.shown[0], To), 64 * 48) << c.effect;
        } else {
            EXPECT_TRUE(host.shown.empty());
        }
    }
}

// Pictures of other sizes are cut at the frame or surrounded by the background.
TEST_F(KVTransitionEffectsTest, PicturesOfOtherSizesArePlacedAtTheCorner) {
    engine.Start(SolidFrame(10, 5, From), SolidFrame(100, 100, To), kvttCrossDissolve, 1000, false);
    TickAt({0});
    const TBitmap& first = host.shown.at(0);
    ASSERT_EQ(first.Width(), 64);
    ASSERT_EQ(first.Height(), 48);
    EXPECT_EQ(PixelAt(first, 9, 4), From);
    EXPECT_EQ(PixelAt(first, 10, 4), (TBgr{192, 128, 64}));
    EXPECT_EQ(PixelAt(first, 9, 5), (TBgr{192, 128, 64}));
}

// Every effect run to its end with show-final leaves the new picture on the view, whatever its
// own last frame was.
TEST_F(KVTransitionEffectsTest, EveryEffectEndsOnTheNewPicture) {
    const TBitmap from = RampFrame(64, 48, 11), to = RampFrame(64, 48, 22);
    for (int v = 1; v <= KVEffectCount; ++v) {
        host.shown.clear();
        start = now;
        engine.Start(from, to, TKVTransitionType(v), 1000, true);
        TickAt({0, 256, 512, 768, 1000});
        EXPECT_FALSE(engine.Running()) << v;
        ASSERT_FALSE(host.shown.empty());
        EXPECT_TRUE(SamePixels(host.shown.back(), to)) << v;
    }
}

TEST_F(KVTransitionEffectsTest, PanZoomRunsFromTheStartToTheEndRectangle) {
    const TBitmap source = RampFrame(128, 96, 33);
    engine.StartPanZoom(source, Rect(0, 0, 64, 48), Rect(64, 48, 128, 96), 1000, true);
    TickAt({0, 500, 1000});
    ASSERT_EQ(host.shown.size(), 4u);
    EXPECT_EQ(PixelAt(host.shown[0], 5, 6), (TBgr{5, 6, 33}));
    EXPECT_EQ(PixelAt(host.shown[3], 5, 6), (TBgr{69, 54, 33}));  // the end rectangle, unscaled
    EXPECT_EQ(host.updates, 1);
}

}  // namespace
