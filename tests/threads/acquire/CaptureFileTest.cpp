// Captures written to AVI and ASF files, judged by ffprobe and by ffmpeg's own frames of the source.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>

#include "VideoFixtures.h"
#include "imaging/acquire/Capture.h"

namespace {

const std::string Source = "testsrc=size=64x48:rate=25:duration=0.4";

std::string Probe(const std::string& path) {
    return RunTool("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                   "format=format_name:stream=codec_name,width,height,nb_read_frames -of default=noprint_wrappers=1 " +
                       Quoted(path),
                   false)
        .output;
}

// The mean difference of two frames of top-down bgr24 rows; 256 when their sizes differ.
double MeanDifference(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return 256;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
    return sum / double(a.size());
}

std::string SourceFrame(int index) {
    return RunTool("ffmpeg -v error -f lavfi -i " + Source + " -vf " + Quoted("select=eq(n\\," + std::to_string(index) + ")") +
                       " -frames:v 1 -pix_fmt bgr24 -f rawvideo -",
                   false)
        .output;
}

TEST(CaptureFileTest, EveryFrameOfTheSourceIsWrittenInTheChosenContainer) {
    const struct {
        const char* name;
        const char* compressor;
        const char* container;
        const char* codec;
        double meanTolerance;  // of frame 5 against the source's; lossy ones only look alike
    } cases[] = {
        {"raw.avi", "", "avi", "rawvideo", 0},
        {"motion.AVI", "mjpeg", "avi", "mjpeg", 10},
        {"media.asf", "", "asf", "wmv2", 10},
        {"media1.Asf", "wmv1", "asf", "wmv1", 10},
    };
    const std::string expectedFrame = SourceFrame(5);
    ASSERT_EQ(expectedFrame.size(), 64u * 48 * 3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScratchFolder folder;
        const std::string path = folder.Path(c.name);
        TKVCapture capture;
        TCaptureWatch watch(capture);
        capture.SetCaptureFile(path);
        capture.SetVideoCompressor(c.compressor);
        ASSERT_TRUE(watch.RunToEnd(capture, "lavfi", Source));
        EXPECT_EQ(capture.Problem(), "");
        EXPECT_EQ(folder.Files(), std::vector<std::string>{c.name});
        EXPECT_EQ(Probe(path), std::string("codec_name=") + c.codec +
                                   "\nwidth=64\nheight=48\nnb_read_frames=10\nformat_name=" + c.container + "\n");
        const std::string written = FfmpegFrame(path, 5);
        EXPECT_LE(MeanDifference(written, expectedFrame), c.meanTolerance);
        if (c.meanTolerance == 0) {
            EXPECT_EQ(written, expectedFrame);
        }
        capture.Disconnect();
        EXPECT_EQ(folder.Files(), std::vector<std::string>{c.name});
    }
}

TEST(CaptureFileTest, TheFileIsNamedOnlyWhenTheCaptureIsStopped) {
    TScratchFolder folder;
    const std::string path = folder.Path("endless.avi");
    TKVCapture capture;
    TCaptureWatch watch(capture);
    capture.SetCaptureFile(path);
    ASSERT_TRUE(capture.BuildGraph("lavfi", "testsrc=size=64x48:rate=25")) << capture.Problem();
    capture.Run();
    ASSERT_TRUE(watch.WaitForFrames(3));
    // While frames arrive they go to a temporary file beside the target.
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(folder.Files().size(), 1u);
    capture.Disconnect();
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"endless.avi"});
    const std::string probed = Probe(path);
    EXPECT_TRUE(Contains(probed, "codec_name=rawvideo\nwidth=64\nheight=48\n")) << probed;
    const size_t count = probed.find("nb_read_frames=");
    ASSERT_NE(count, std::string::npos);
    EXPECT_GE(std::atoi(probed.c_str() + count + 15), 3);
}

TEST(CaptureFileTest, AFileThatCannotBeWrittenIsNeverLeftBehind) {
    const struct {
        const char* name;
        const char* compressor;
        bool builds;
        const char* problem;
    } cases[] = {
        {"clip.mp4", "", true, ""},  // not a capture file: nothing is written
        {"clip.avi", "no-such-codec", false, "No video compressor named \"no-such-codec\""},
        {"clip.avi", "pcm_s16le", false, "No video compressor named \"pcm_s16le\""},
        {"missing/clip.avi", "", false, "missing/clip.avi"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScratchFolder folder;
        TKVCapture capture;
        TCaptureWatch watch(capture);
        capture.SetCaptureFile(folder.Path(c.name));
        capture.SetVideoCompressor(c.compressor);
        EXPECT_EQ(capture.BuildGraph("lavfi", Source), c.builds);
        EXPECT_TRUE(Contains(capture.Problem(), c.problem)) << capture.Problem();
        EXPECT_EQ(capture.IsConnected(), c.builds);
        if (c.builds) {
            capture.Run();
            EXPECT_TRUE(watch.WaitForEnd());
        }
        capture.Disconnect();
        EXPECT_TRUE(folder.Files().empty());
    }
}

// Restores the file size limit and the signal a process gets for passing it.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    sighandler_t oldHandler_;
};

TEST(CaptureFileTest, AWriteFailureMidwayKeepsTheOlderFileAndLeavesNoPartialOne) {
    TScratchFolder folder;
    const std::string path = folder.Path("clip.avi");
    WriteFile(path, "the older capture");
    TKVCapture capture;
    TCaptureWatch watch(capture);
    capture.SetCaptureFile(path);
    {
        // Room for the header and about two uncompressed frames of 9216 bytes.
        const TFileSizeLimit limit(30000);
        ASSERT_TRUE(watch.RunToEnd(capture, "lavfi", Source));
    }
    EXPECT_TRUE(Contains(capture.Problem(), "Cannot write the capture file \"" + path + "\"")) << capture.Problem();
    capture.Disconnect();
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"clip.avi"});
    EXPECT_EQ(ReadFile(path), "the older capture");
}

}  // namespace
