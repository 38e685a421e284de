#pragma once
// Clips made by ffmpeg from its test pattern, and the frames ffmpeg itself decodes from them.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "TestSupport.h"
#include "imaging/acquire/Capture.h"

class TKVBitmap;

// Writes a clip of the test pattern: size 64 x 48, the given rate, frame count and output options
// (codec and format, such as "-c:v mjpeg"). Fails the test when ffmpeg does.
std::string MakeClip(const TScratchFolder& folder, const std::string& name, int rate, int frames,
                     const std::string& options);
// Frame index of the file as ffmpeg decodes it, in top-down bgr24 rows.
std::string FfmpegFrame(const std::string& path, int index);
// The largest difference of any sample between a kv24RGB bitmap and top-down bgr24 rows of the
// given width; 256 when the sizes differ.
int LargestDifference(TKVBitmap& bitmap, const std::string& bgr, int width, int height);

// Counts the capture's messages and waits for them.
class TCaptureWatch {
public:
    explicit TCaptureWatch(TKVCapture& capture) {
        capture.SetNotify([this](TKVCaptureMessage message, TKVCaptureHandle) {
            std::lock_guard guard(lock_);
            ++(message == kvcmNewFrame ? frames_ : events_);
            changed_.notify_all();
        });
    }
    bool WaitForFrames(int count) { return Wait([&] { return frames_ >= count; }); }
    bool WaitForEvents(int count) { return Wait([&] { return events_ >= count; }); }
    bool WaitForEnd() { return WaitForEvents(1); }
    // Builds the watched capture's graph on the source, runs it and waits for its end.
    ::testing::AssertionResult RunToEnd(TKVCapture& capture, const std::string& format, const std::string& source) {
        if (!capture.BuildGraph(format, source)) return ::testing::AssertionFailure() << "no graph: " << capture.Problem();
        capture.Run();
        if (!WaitForEnd()) return ::testing::AssertionFailure() << "no end";
        return ::testing::AssertionSuccess();
    }
    int Frames() {
        std::lock_guard guard(lock_);
        return frames_;
    }

private:
    bool Wait(const std::function<bool()>& done) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(20), done);
    }
    std::mutex lock_;
    std::condition_variable changed_;
    int frames_ = 0, events_ = 0;
};

