// Frames of video files through the input/output component, against ffmpeg's own decoding.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "VideoFixtures.h"
#include "imaging/acquire/MediaFile.h"
#include "imaging/acquire/MediaProvider.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/io/KestovaIO.h"

namespace {

class MediaFileTest : public testing::Test {
protected:
    MediaFileTest() { InstallMediaProvider(); }
    TScratchFolder folder;
    TKestovaIO io;
};

struct TClipCase {
    const char* name;
    const char* options;
    int rate, frames;
    bool indexed;  // the container counts its frames
    int delay;     // hundredths of a second
    int aviDelay;  // milliseconds, for files that count their frames
};

TEST_F(MediaFileTest, FramesMatchFfmpegInEveryContainer) {
    const TClipCase cases[] = {
        {"raw.avi", "-c:v rawvideo -pix_fmt bgr24", 15, 20, true, 7, 66},
        {"mjpeg.avi", "-c:v mjpeg", 25, 12, true, 4, 40},
        {"clip.mpg", "-c:v mpeg1video", 25, 50, false, 4, 0},
        {"clip.wmv", "-c:v wmv2", 25, 30, false, 4, 0},
    };
    for (const TClipCase& clip : cases) {
        SCOPED_TRACE(clip.name);
        const std::string path = MakeClip(folder, clip.name, clip.rate, clip.frames, clip.options);
        EXPECT_EQ(TKVMediaFile(path).IndexedFrameCount() > 0, clip.indexed);
        ASSERT_EQ(io.OpenMediaFile(path), clip.frames);
        EXPECT_EQ(io.Params().MediaFrameCount, clip.frames);
        EXPECT_EQ(io.Params().MediaFrameTime, clip.delay);
        EXPECT_EQ(io.Params().Width, 64);
        EXPECT_EQ(io.Params().Height, 48);
        // Forwards, backwards across the start and the end, and the same frame twice.
        for (int index : {3, clip.frames - 1, 0, clip.frames / 2, clip.frames / 2}) {
            SCOPED_TRACE(index);
            io.LoadMediaFrame(index);
            ASSERT_FALSE(io.AbortFlag);
            EXPECT_EQ(io.Params().ImageIndex(), index);
            EXPECT_EQ(io.Params().AviFrameDelay, clip.aviDelay);
            EXPECT_LE(LargestDifference(io.WorkBitmap(), FfmpegFrame(path, index), 64, 48), 2);
        }
        io.LoadMediaFrame(clip.frames);
        EXPECT_TRUE(io.AbortFlag);
        io.CloseMediaFile();
        EXPECT_FALSE(io.IsMediaFileOpen());
    }
}

// ffmpeg's own count of the frames it decodes from the file.
int FfprobeFrameCount(const std::string& path) {
    const std::string counted = RunTool("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                        "stream=nb_read_frames -of csv=p=0 " + Quoted(path)).output;
    return counted.empty() || !std::isdigit(static_cast<unsigned char>(counted[0])) ? -1 : std::stoi(counted);
}

// Every container ffmpeg writes, with one frame and with a hundred, at a constant rate and at a
// variable one: the count is ffmpeg's, the last frame is ffmpeg's last, the one past it is refused.
TEST_F(MediaFileTest, CountsTheFramesFfmpegDecodesInEveryContainer) {
    // Frames 0 to 19 every 40 ms, then 10 frames 160 ms apart, then 70 every 40 ms again.
    const std::string variable = "-vf \"select='not(between(n,20,59))+not(mod(n,4))'\" -fps_mode vfr -c:v mpeg4";
    const struct {
        const char* name;
        std::string options;
    } containers[] = {
        {"program.mpg", "-c:v mpeg1video"},
        {"elementary.mpg", "-c:v mpeg1video -f mpeg1video"},  // no container: no timestamps but the first
        {"clip.avi", "-c:v mpeg4"},
        {"clip.wmv", "-c:v wmv2"},
        {"clip.mov", "-c:v mpeg4"},
        {"clip.mp4", "-c:v mpeg4 -bf 2"},
        {"clip.mkv", "-c:v mpeg4"},
        {"clip.ts", "-c:v mpeg2video -bf 2"},
        {"variable.mkv", variable},
        {"variable.mp4", variable},
    };
    for (const auto& container : containers) {
        for (int frames : {1, 100}) {
            const std::string name = std::to_string(frames) + "-" + container.name;
            SCOPED_TRACE(name);
            const std::string path = MakeClip(folder, name, 25, frames, container.options);
            ASSERT_EQ(FfprobeFrameCount(path), frames);
            ASSERT_EQ(io.OpenMediaFile(path), frames);
            EXPECT_EQ(io.Params().MediaFrameCount, frames);
            // The last, and one of the sparse frames of the variable rate.
            for (int index : {frames - 1, frames / 4}) {
                SCOPED_TRACE(index);
                io.LoadMediaFrame(index);
                ASSERT_FALSE(io.AbortFlag);
                EXPECT_LE(LargestDifference(io.WorkBitmap(), FfmpegFrame(path, index), 64, 48), 2);
            }
            io.LoadMediaFrame(frames);
            EXPECT_TRUE(io.AbortFlag);
            EXPECT_TRUE(io.WorkBitmap().IsEmpty());
            io.CloseMediaFile();
        }
    }
}

// Of a file longer than the part read to count its frames, the count is the index's where the
// container keeps a true one, else the frames read and the rest at their rate; each file read
// whole counts exactly.
TEST_F(MediaFileTest, ALongFileIsCountedFromItsFirstPart) {
    const struct {
        const char* name;
        const char* options;
        bool exact;
    } cases[] = {
        {"long.avi", "-c:v mpeg4", true},
        {"long.mpg", "-c:v mpeg1video", false},
        {"long.wmv", "-c:v wmv2", false},
    };
    for (const auto& clip : cases) {
        SCOPED_TRACE(clip.name);
        const std::string path = MakeClip(folder, clip.name, 25, 250, clip.options);
        EXPECT_EQ(TKVMediaFile(path).FrameCount(), 250);
        TKVMediaFile partly(path, int64_t(std::filesystem::file_size(path) / 3));
        if (clip.exact) {
            EXPECT_EQ(partly.FrameCount(), 250);
        } else {
            EXPECT_NEAR(double(partly.FrameCount()), 250, 5);
        }
        TKVBitmap last;
        ASSERT_TRUE(partly.GetFrame(partly.FrameCount() - 1, last));
        EXPECT_FALSE(partly.GetFrame(partly.FrameCount(), last));
    }
}

// Streams whose first timestamp is not 0, large enough that a search by time for it lands a key
// frame later: every frame is the one ffmpeg decodes at that index.
TEST_F(MediaFileTest, StreamsThatStartLateGiveEveryFrameFromTheFirst) {
    const struct {
        const char* name;
        const char* options;
    } cases[] = {
        {"late.mpg", "-c:v mpeg1video -bf 2 -b:v 2M -s 352x288"},
        {"late.ts", "-c:v mpeg2video -bf 2 -b:v 2M -s 352x288 -output_ts_offset 3"},
    };
    for (const auto& clip : cases) {
        SCOPED_TRACE(clip.name);
        const std::string path = MakeClip(folder, clip.name, 25, 40, clip.options);
        const std::string start =
            RunTool("ffprobe -v error -select_streams v -show_entries stream=start_time -of csv=p=0 " + Quoted(path)).output;
        ASSERT_GT(std::stod(start), 0.5) << start;
        ASSERT_EQ(io.OpenMediaFile(path), 40);
        for (int index : {0, 1, 2, 6, 11, 12, 13, 14, 25, 39, 0}) {
            SCOPED_TRACE(index);
            io.LoadMediaFrame(index);
            ASSERT_FALSE(io.AbortFlag);
            EXPECT_LE(LargestDifference(io.WorkBitmap(), FfmpegFrame(path, index), 352, 288), 2);
        }
        io.CloseMediaFile();
    }
}

TEST_F(MediaFileTest, AnAviNameLoadsTheFirstFrame) {
    const std::string path = MakeClip(folder, "first.avi", 10, 5, "-c:v mjpeg");
    io.LoadFromFile(path);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.Params().FileType, kvftAVI);
    EXPECT_LE(LargestDifference(io.WorkBitmap(), FfmpegFrame(path, 0), 64, 48), 2);
    EXPECT_FALSE(io.IsMediaFileOpen());
}

TEST_F(MediaFileTest, AviOperationsCountDelayAndGrabWithinTheLength) {
    const std::string path = MakeClip(folder, "ops.avi", 15, 6, "-c:v rawvideo -pix_fmt bgr24");
    int finished = 0;
    io.OnFinishWork = [&](TObject*) { ++finished; };
    ASSERT_EQ(io.OpenAVIFile(path), 6);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_TRUE(io.IsAVIFileOpen());
    EXPECT_EQ(io.Params().ImageCount(), 6);
    EXPECT_EQ(io.Params().AviFrameDelay, 0);
    io.LoadAVIFrame(3);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(io.Params().AviFrameDelay, 66);
    EXPECT_EQ(io.Params().DpiX(), DefaultDpiX);
    EXPECT_LE(LargestDifference(io.WorkBitmap(), FfmpegFrame(path, 3), 64, 48), 2);
    // Past the length, or before the start: nothing but the end of the work.
    for (int index : {6, -1, 1000}) {
        io.LoadAVIFrame(index);
        EXPECT_FALSE(io.AbortFlag);
        EXPECT_LE(LargestDifference(io.WorkBitmap(), FfmpegFrame(path, 3), 64, 48), 2);
    }
    EXPECT_EQ(finished, 4);
    io.CloseAVIFile();
    EXPECT_FALSE(io.IsAVIFileOpen());
    io.LoadAVIFrame(0);
    EXPECT_EQ(finished, 5);
    EXPECT_LE(LargestDifference(io.WorkBitmap(), FfmpegFrame(path, 3), 64, 48), 2);

    const std::string picture = folder.Path("picture.avi");
    ASSERT_EQ(RunTool("convert -size 20x10 xc:red " + Quoted("png:" + picture)).status, 0);
    EXPECT_EQ(io.OpenAVIFile(picture), 0);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_FALSE(io.IsAVIFileOpen());
    // A picture named .avi does not pass the previous frame off as its own.
    io.LoadFromFile(picture);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_TRUE(io.WorkBitmap().IsEmpty());
}

TEST_F(MediaFileTest, WhatIsNoVideoGivesNoFramesAndLeavesTheOpenFileAlone) {
    const std::string clip = MakeClip(folder, "good.avi", 10, 5, "-c:v mjpeg");
    const std::string picture = folder.Path("picture.avi");
    ASSERT_EQ(RunTool("convert -size 20x10 xc:red " + Quoted("png:" + picture)).status, 0);
    const std::string truncated = folder.Path("truncated.mpg");
    WriteFile(truncated, ReadFile(MakeClip(folder, "whole.mpg", 25, 10, "-c:v mpeg1video")).substr(0, 60));
    const std::string noise = folder.Path("noise.wmv");
    WriteFile(noise, std::string(3000, '\x5A'));
    const std::string empty = folder.Path("empty.avi");
    WriteFile(empty, "");
    // A playlist leads nowhere: only the file itself is read.
    const std::string playlist = folder.Path("playlist.avi");
    WriteFile(playlist, "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nhttp://127.0.0.1:9/a.ts\n" + clip + "\n");
    for (const std::string& path : {picture, truncated, noise, empty, playlist, folder.Path("missing.avi")}) {
        SCOPED_TRACE(path);
        TKVMediaFile file(path);
        EXPECT_FALSE(file.IsConnected() && file.Duration() > 0);
        EXPECT_EQ(io.OpenMediaFile(path), 0);
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_FALSE(io.IsMediaFileOpen());
        io.LoadMediaFrame(0);
        EXPECT_TRUE(io.AbortFlag);
    }
    EXPECT_EQ(TKVMediaFile(picture).Problem(), "Not a video file");
    // A damaged file does not spoil the next.
    EXPECT_EQ(io.OpenMediaFile(clip), 5);
}

TEST_F(MediaFileTest, FramesComeFromMemoryAsFromAFile) {
    const std::string bytes = ReadFile(MakeClip(folder, "memory.avi", 10, 4, "-c:v mjpeg"));
    TKVMediaFile file(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ASSERT_TRUE(file.IsConnected());
    EXPECT_EQ(file.IndexedFrameCount(), 4);
    EXPECT_EQ(file.AvgTimePerFrame(), TKVMediaFile::Second / 10);
    TKVBitmap bitmap;
    ASSERT_TRUE(file.GetFrameAt(2 * file.AvgTimePerFrame(), bitmap));
    EXPECT_LE(LargestDifference(bitmap, FfmpegFrame(folder.Path("memory.avi"), 2), 64, 48), 2);
}

}  // namespace
