// A capture paused, stepped frame by frame and moved, as its worker thread delivers the frames:
// which frame arrives is checked against ffmpeg's own decoding of the file.
#include <gtest/gtest.h>

#include <string>

#include "VideoFixtures.h"
#include "imaging/acquire/Capture.h"
#include "imaging/core/KVBitmap.h"

namespace {

// The largest difference between the capture's newest frame and the file's frame as ffmpeg
// decodes it.
int DifferenceFromFrame(TKVCapture& capture, const std::string& path, int index) {
    TKVBitmap bitmap;
    if (!capture.GetSample(bitmap)) return 256;
    return LargestDifference(bitmap, FfmpegFrame(path, index), 64, 48);
}

class CaptureControlsTest : public ::testing::Test {
protected:
    TScratchFolder folder;
};

}  // namespace

TEST_F(CaptureControlsTest, AVideoFilePausesStepsAndMoves) {
    const std::string path = MakeClip(folder, "clip.avi", 10, 10, "-c:v mjpeg");
    TKVCapture capture;
    TCaptureWatch posts(capture);
    ASSERT_TRUE(capture.BuildGraph("", path)) << capture.Problem();
    EXPECT_EQ(capture.GetState(), kvcsStopped);
    EXPECT_FALSE(capture.FrameStep(1));

    // Durations in the unit chosen: media time (100 ns) at first, frames when asked; units the
    // file cannot give change nothing, and only the low 7 bits choose.
    EXPECT_EQ(capture.GetDuration(), 10'000'000);
    capture.SetTimeFormat(kvtfFrame);
    EXPECT_EQ(capture.GetDuration(), 10);
    for (int unsupported : {int(kvtfNone), int(kvtfSample), int(kvtfField), int(kvtfByte), 99})
        capture.SetTimeFormat(unsupported);
    EXPECT_EQ(capture.GetDuration(), 10);
    capture.SetTimeFormat(0x80 | kvtfMediaTime);
    EXPECT_EQ(capture.GetDuration(), 10'000'000);

    // Paused, nothing comes but the frames stepped to, and those a move shows.
    capture.Pause();
    EXPECT_EQ(capture.GetState(), kvcsPaused);
    ASSERT_TRUE(capture.FrameStep(1));
    EXPECT_EQ(posts.Frames(), 1);
    EXPECT_LE(DifferenceFromFrame(capture, path, 0), 2);
    ASSERT_TRUE(capture.FrameStep(3));
    EXPECT_EQ(posts.Frames(), 2);
    EXPECT_LE(DifferenceFromFrame(capture, path, 3), 2);
    capture.SetTimeFormat(kvtfFrame);
    capture.SetPosition(7);
    EXPECT_EQ(posts.Frames(), 3);
    EXPECT_LE(DifferenceFromFrame(capture, path, 7), 2);
    capture.SetTimeFormat(kvtfMediaTime);
    capture.SetPosition(2'000'000);  // 0.2 s: frame 2
    EXPECT_EQ(posts.Frames(), 4);
    EXPECT_LE(DifferenceFromFrame(capture, path, 2), 2);
    EXPECT_EQ(capture.GetState(), kvcsPaused);

    // Running goes on from there to the end; the state stays as it was given.
    capture.Run();
    EXPECT_EQ(capture.GetState(), kvcsRunning);
    ASSERT_TRUE(posts.WaitForEvents(1));
    EXPECT_EQ(posts.Frames(), 4 + 7);
    EXPECT_LE(DifferenceFromFrame(capture, path, 9), 2);
    EXPECT_EQ(capture.GetState(), kvcsRunning);
    EXPECT_FALSE(capture.FrameStep(1));

    // After the end, a move starts the file again from there.
    capture.SetTimeFormat(kvtfFrame);
    capture.SetPosition(5);
    ASSERT_TRUE(posts.WaitForEvents(2));
    EXPECT_EQ(posts.Frames(), 11 + 5);
    capture.Disconnect();
    EXPECT_EQ(capture.GetState(), kvcsStopped);
}

// A move while stopped only moves: the run that follows starts there.
TEST_F(CaptureControlsTest, AMoveWhileStoppedIsWhereTheRunStarts) {
    const std::string path = MakeClip(folder, "clip.avi", 10, 10, "-c:v mjpeg");
    TKVCapture capture;
    TCaptureWatch posts(capture);
    ASSERT_TRUE(capture.BuildGraph("", path)) << capture.Problem();
    capture.SetTimeFormat(kvtfFrame);
    capture.SetPosition(6);
    EXPECT_EQ(posts.Frames(), 0);
    capture.Pause();
    ASSERT_TRUE(capture.FrameStep(1));
    EXPECT_LE(DifferenceFromFrame(capture, path, 6), 2);
    capture.Run();
    ASSERT_TRUE(posts.WaitForEvents(1));
    EXPECT_EQ(posts.Frames(), 4);
}

// A device has no length and cannot move, but it pauses, steps and runs on.
TEST_F(CaptureControlsTest, ADevicePausesAndStepsButDoesNotMove) {
    TKVCapture capture;
    TCaptureWatch posts(capture);
    ASSERT_TRUE(capture.BuildGraph("lavfi", "testsrc=size=32x24:rate=25")) << capture.Problem();
    capture.Run();
    ASSERT_TRUE(posts.WaitForFrames(2));
    ASSERT_TRUE(capture.FrameStep(1));
    EXPECT_EQ(capture.GetState(), kvcsPaused);
    const int stepped = posts.Frames();
    ASSERT_TRUE(capture.FrameStep(2));
    EXPECT_EQ(posts.Frames(), stepped + 1);
    capture.SetTimeFormat(kvtfFrame);
    EXPECT_EQ(capture.GetDuration(), 0);
    capture.SetPosition(0);
    EXPECT_EQ(posts.Frames(), stepped + 1);
    EXPECT_EQ(capture.GetState(), kvcsPaused);
    capture.Run();
    ASSERT_TRUE(posts.WaitForFrames(stepped + 3));
    capture.Disconnect();
    EXPECT_EQ(capture.GetState(), kvcsStopped);
    EXPECT_FALSE(capture.FrameStep(1));
}
