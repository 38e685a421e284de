// Live capture from ffmpeg's test source: frames posted from the worker, taken on this thread.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "VideoFixtures.h"
#include "imaging/acquire/Capture.h"
#include "imaging/core/KVBitmap.h"

namespace {

// Stands in for a window's message queue.
class TMessageQueue {
public:
    void Post(TKVCaptureMessage message, TKVCaptureHandle handle) {
        std::lock_guard guard(lock_);
        messages_.emplace_back(message, handle);
        arrived_.notify_one();
    }
    // The next message; false when none arrives in time.
    bool Next(TKVCaptureMessage& message, TKVCaptureHandle& handle) {
        std::unique_lock guard(lock_);
        if (!arrived_.wait_for(guard, std::chrono::seconds(10), [&] { return !messages_.empty(); })) return false;
        std::tie(message, handle) = messages_.front();
        messages_.pop_front();
        return true;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<std::pair<TKVCaptureMessage, TKVCaptureHandle>> messages_;
};

const std::string Source = "testsrc=size=32x24:rate=25:duration=0.4";

TEST(CaptureTest, EveryFrameIsPostedAndTheNewestTakenOnTheReceivingThread) {
    TMessageQueue queue;
    TKVCapture capture;
    capture.SetNotify([&](TKVCaptureMessage message, TKVCaptureHandle handle) { queue.Post(message, handle); });
    ASSERT_TRUE(capture.BuildGraph("lavfi", Source)) << capture.Problem();
    EXPECT_EQ(capture.Width(), 32);
    EXPECT_EQ(capture.Height(), 24);
    EXPECT_EQ(capture.GetAvgTimePerFrame(), 400000);
    EXPECT_FALSE(capture.HasCrossbar() || capture.HasTuner());
    TKVBitmap bitmap;
    EXPECT_FALSE(capture.GetSample(bitmap));
    capture.Run();

    int frames = 0;
    TKVCaptureMessage message;
    TKVCaptureHandle handle;
    while (queue.Next(message, handle) && message == kvcmNewFrame) {
        TKVCapture* sender = TKVCapture::FromHandle(handle);
        ASSERT_EQ(sender, &capture);
        EXPECT_TRUE(sender->GetSample(bitmap));
        ++frames;
    }
    EXPECT_EQ(frames, 10);
    EXPECT_EQ(message, kvcmGraphEvent);
    // Once the source has ended, the newest frame is its last.
    const std::string last = RunTool("ffmpeg -v error -f lavfi -i " + Source +
                                         " -vf " + Quoted("select=eq(n\\,9)") + " -pix_fmt bgr24 -f rawvideo -",
                                     false)
                                  .output;
    ASSERT_TRUE(capture.GetSample(bitmap));
    EXPECT_EQ(LargestDifference(bitmap, last, 32, 24), 0);

    // A message that arrives after its capture was disconnected or destroyed names nothing.
    capture.Disconnect();
    EXPECT_EQ(TKVCapture::FromHandle(handle), nullptr);
    TKVCaptureHandle gone;
    {
        TKVCapture other;
        ASSERT_TRUE(other.BuildGraph("lavfi", Source));
        gone = other.Handle();
        EXPECT_EQ(TKVCapture::FromHandle(gone), &other);
    }
    EXPECT_EQ(TKVCapture::FromHandle(gone), nullptr);
    EXPECT_EQ(TKVCapture::FromHandle(0), nullptr);
}

TEST(CaptureTest, DisconnectStopsAnEndlessSource) {
    TMessageQueue queue;
    TKVCapture capture;
    capture.SetNotify([&](TKVCaptureMessage message, TKVCaptureHandle handle) { queue.Post(message, handle); });
    ASSERT_TRUE(capture.BuildGraph("lavfi", "testsrc=size=32x24:rate=25"));
    capture.Run();
    TKVCaptureMessage message;
    TKVCaptureHandle handle;
    ASSERT_TRUE(queue.Next(message, handle));
    capture.Disconnect();
    EXPECT_FALSE(capture.IsConnected());
}

TEST(CaptureTest, DevicesThatCannotBeOpened) {
    TKVCapture capture;
    EXPECT_FALSE(capture.BuildGraph("no-such-input", "x"));
    EXPECT_EQ(capture.Problem(), "No capture input no-such-input");
    EXPECT_FALSE(capture.BuildGraph("v4l2", "/dev/no-such-camera"));
    EXPECT_EQ(capture.Problem(), "Cannot open capture device /dev/no-such-camera");
    EXPECT_FALSE(capture.BuildGraph("lavfi", "nosuchfilter"));
    EXPECT_FALSE(capture.IsConnected());
    capture.Run();  // nothing to run
}

}  // namespace

namespace {

TEST(CaptureTest, TheOpenFormatIsListedUnderItsSubtypeName) {
    const struct {
        const char* layout;
        const char* name;
    } cases[] = {{"yuyv422", "YUY2"}, {"uyvy422", "UYVY"}, {"yvyu422", "YVYU"}, {"yuv420p", "IYUV"},
                 {"bgr24", "RGB24"},  {"bgr0", "RGB32"},    {"rgb24", ""},       {"gray", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        TKVCapture capture;
        ASSERT_TRUE(capture.BuildGraph("lavfi", std::string("testsrc=size=24x16:rate=25,format=") + c.layout))
            << capture.Problem();
        ASSERT_EQ(capture.VideoFormats().size(), 1u);
        const TKVVideoFormat& format = capture.VideoFormats()[0];
        EXPECT_EQ(format.FormatName, c.name);
        EXPECT_EQ(format.VideoStandards, "");
        EXPECT_EQ(format.MinWidth, 24);
        EXPECT_EQ(format.MaxWidth, 24);
        EXPECT_EQ(format.MinHeight, 16);
        EXPECT_EQ(format.MaxHeight, 16);
        int width = 0, height = 0;
        std::string name = "unchanged";
        capture.GetVideoFormat(width, height, name);
        EXPECT_EQ(width, 24);
        EXPECT_EQ(height, 16);
        EXPECT_EQ(name, c.name);
        EXPECT_TRUE(capture.CrossbarInputs().empty());
        EXPECT_FALSE(capture.HasCrossbar());
        capture.Disconnect();
        EXPECT_TRUE(capture.VideoFormats().empty());
        capture.GetVideoFormat(width, height, name);
        EXPECT_EQ(name, c.name);
    }
}

}  // namespace
