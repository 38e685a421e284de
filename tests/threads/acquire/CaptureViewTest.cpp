// Captured frames reaching an image view through the GUI thread's event queue.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include "QtTestApplication.h"
#include "VideoFixtures.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaView.h"

namespace {

class CaptureViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EnsureTestApplication<QApplication>();
    }
    // Runs the GUI thread's queue until done answers true or ten seconds pass.
    static bool Pump(const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    static void PumpFor(int milliseconds) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    TKestovaView view;
    int frames = 0, events = 0;
    void SetUp() override {
        view.resize(80, 60);
        view.OnDShowNewFrame = [this] { ++frames; };
        view.OnDShowEvent = [this] { ++events; };
    }
};

TEST_F(CaptureViewTest, EveryFrameOfTheSourceIsShownAndItsEndReported) {
    const std::string source = "testsrc=size=32x24:rate=25:duration=0.4";
    TKVCapture capture;
    view.ConnectCapture(capture);
    ASSERT_TRUE(capture.BuildGraph("lavfi", source)) << capture.Problem();
    capture.Run();
    ASSERT_TRUE(Pump([&] { return events > 0; }));
    EXPECT_EQ(frames, 10);
    EXPECT_EQ(events, 1);
    const std::string last = RunTool("ffmpeg -v error -f lavfi -i " + source + " -vf " +
                                         Quoted("select=eq(n\\,9)") + " -pix_fmt bgr24 -f rawvideo -",
                                     false)
                                 .output;
    TKVBitmap& shown = *view.GetKVBitmap();
    EXPECT_EQ(shown.GetWidth(), 32);
    EXPECT_EQ(shown.GetHeight(), 24);
    EXPECT_EQ(LargestDifference(shown, last, 32, 24), 0);
}

TEST_F(CaptureViewTest, TheCaptureOfAViewsComponentReachesTheViewUnasked) {
    TKVCapture* capture = view.GetIO()->GetDirectShow();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(view.GetIO()->GetDirectShow(), capture);
    ASSERT_TRUE(capture->BuildGraph("lavfi", "testsrc=size=16x8:rate=25:duration=0.2")) << capture->Problem();
    capture->Run();
    ASSERT_TRUE(Pump([&] { return events > 0; }));
    EXPECT_EQ(frames, 5);
    EXPECT_EQ(view.GetKVBitmap()->GetWidth(), 16);

    // A component of no view has a capture that posts to nobody.
    TKestovaIO alone;
    TKVCapture* own = alone.GetDirectShow();
    ASSERT_NE(own, nullptr);
    ASSERT_TRUE(own->BuildGraph("lavfi", "testsrc=size=16x8:rate=25:duration=0.2"));
    own->Run();
    TKVBitmap grabbed;
    ASSERT_TRUE(Pump([&] { return own->GetSample(grabbed); }));
    PumpFor(100);
    EXPECT_EQ(frames, 5);
    EXPECT_EQ(events, 1);
}

TEST_F(CaptureViewTest, StoppedAndFreedCapturesReachTheViewNoMore) {
    TKVCapture capture;
    view.ConnectCapture(capture);
    ASSERT_TRUE(capture.BuildGraph("lavfi", "testsrc=size=32x24:rate=25"));
    capture.Run();
    ASSERT_TRUE(Pump([&] { return frames > 0; }));
    // Frames queued before the stop are dropped as well.
    capture.Disconnect();
    const int seen = frames;
    PumpFor(200);
    EXPECT_EQ(frames, seen);
    EXPECT_EQ(events, 0);

    TKVCaptureHandle gone;
    {
        TKVCapture other;
        ASSERT_TRUE(other.BuildGraph("lavfi", "testsrc=size=16x8:rate=25"));
        gone = other.Handle();
    }
    view.CaptureMessage(kvcmNewFrame, gone);
    view.CaptureMessage(kvcmGraphEvent, gone);
    view.CaptureMessage(kvcmNewFrame, 0);
    EXPECT_EQ(frames, seen);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(view.GetKVBitmap()->GetWidth(), 32);
}

TEST_F(CaptureViewTest, AViewFreedWhileCapturingStopsItsCapture) {
    TKVCapture capture;
    {
        TKestovaView shortLived;
        int shown = 0;
        shortLived.OnDShowNewFrame = [&] { ++shown; };
        shortLived.ConnectCapture(capture);
        ASSERT_TRUE(capture.BuildGraph("lavfi", "testsrc=size=32x24:rate=25"));
        capture.Run();
        ASSERT_TRUE(Pump([&] { return shown > 0; }));
    }
    EXPECT_FALSE(capture.IsConnected());
    PumpFor(100);
}

}  // namespace
