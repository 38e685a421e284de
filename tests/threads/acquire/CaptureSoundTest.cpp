// Sound in captures and in played video files, the video compressor's settings, and what the
// receiver gets while a compressor takes the frames; judged by ffprobe and ffmpeg's own decoding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "VideoFixtures.h"
#include "imaging/acquire/AudioOutput.h"
#include "imaging/acquire/Capture.h"
#include "imaging/core/KVBitmap.h"

namespace {

const std::string Video = "testsrc=size=64x48:rate=25:duration=0.4";

std::string ProbeStream(const std::string& path, const std::string& stream, const std::string& entries) {
    return RunTool("ffprobe -v error -count_frames -select_streams " + stream + " -show_entries stream=" + entries +
                       " -of default=noprint_wrappers=1 " + Quoted(path),
                   false)
        .output;
}

// Where two runs of samples first differ, with their lengths; empty when they are equal.
std::string Mismatch(const std::string& got, const std::string& expected) {
    if (got == expected) return {};
    const size_t common = std::min(got.size(), expected.size());
    size_t at = 0;
    while (at < common && got[at] == expected[at]) ++at;
    return "first difference at byte " + std::to_string(at) + " of " + std::to_string(got.size()) + " against " +
           std::to_string(expected.size());
}

// A stream's sound as ffmpeg decodes it: interleaved signed 16-bit samples.
std::string FfmpegSound(const std::string& input) {
    return RunTool("ffmpeg -v error " + input + " -map 0:a:0 -f s16le -", false).output;
}

TEST(CaptureSoundTest, TheSoundDeviceIsWrittenBesideTheFramesForAsLongAsTheVideo) {
    const struct {
        const char* name;
        const char* sound;
        const char* compressor;
        const char* probed;  // codec, rate and channels of the written sound
        bool exact;          // uncompressed: the samples are the source's own
    } cases[] = {
        {"pcm.avi", "sine=frequency=440:sample_rate=22050:duration=0.4", "", "codec_name=pcm_s16le\nsample_rate=22050\nchannels=1\n", true},
        // An endless source stops where the video does.
        {"endless.avi", "sine=frequency=300:sample_rate=44100", "", "codec_name=pcm_s16le\nsample_rate=44100\nchannels=1\n", true},
        {"media.asf", "sine=frequency=440:sample_rate=44100:duration=0.4", "", "codec_name=wmav2\nsample_rate=44100\nchannels=1\n", false},
        {"stereo.avi", "aevalsrc=sin(440*2*PI*t)|cos(330*2*PI*t):s=32000:d=0.4", "mp2", "codec_name=mp2\nsample_rate=32000\nchannels=2\n", false},
        {"wma.AVI", "sine=sample_rate=44100:duration=0.4", "wmav2", "codec_name=wmav2\nsample_rate=44100\nchannels=1\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScratchFolder folder;
        const std::string path = folder.Path(c.name);
        TKVCapture capture;
        TCaptureWatch watch(capture);
        capture.SetCaptureFile(path);
        capture.SetAudioCapture("lavfi", c.sound);
        capture.SetAudioCompressor(c.compressor);
        ASSERT_TRUE(watch.RunToEnd(capture, "lavfi", Video));
        capture.Disconnect();
        EXPECT_EQ(capture.Problem(), "");
        EXPECT_EQ(ProbeStream(path, "a:0", "codec_name,sample_rate,channels"), c.probed);
        EXPECT_EQ(ProbeStream(path, "v:0", "nb_read_frames"), "nb_read_frames=10\n");
        // The length of the decoded sound, since AVI declares none for uncompressed sound.
        const std::string written = FfmpegSound("-i " + Quoted(path) + " -ac 1 -ar 8000");
        EXPECT_NEAR(double(written.size()) / 2 / 8000, 0.4, 0.06);
        if (c.exact) {
            const std::string copied = FfmpegSound("-i " + Quoted(path));
            const std::string source = FfmpegSound("-t 1 -f lavfi -i " + Quoted(c.sound));
            ASSERT_FALSE(copied.empty());
            EXPECT_EQ(Mismatch(copied, source.substr(0, copied.size())), "");
        }
    }
}

TEST(CaptureSoundTest, AStoppedCaptureKeepsTheSoundItTookBesideTheFrames) {
    TScratchFolder folder;
    const std::string path = folder.Path("endless.avi");
    TKVCapture capture;
    TCaptureWatch watch(capture);
    capture.SetCaptureFile(path);
    // Both at the pace of live devices.
    capture.SetAudioCapture("lavfi", "sine=sample_rate=44100,arealtime");
    ASSERT_TRUE(capture.BuildGraph("lavfi", "testsrc=size=64x48:rate=25,realtime")) << capture.Problem();
    capture.Run();
    ASSERT_TRUE(watch.WaitForFrames(5));
    capture.Disconnect();
    EXPECT_EQ(capture.Problem(), "");
    const std::string frames = ProbeStream(path, "v:0", "nb_read_frames");
    ASSERT_TRUE(Contains(frames, "nb_read_frames=")) << frames;
    const double video = std::atof(frames.c_str() + frames.find('=') + 1) / 25;
    EXPECT_GE(video, 0.2);
    // The sound keeps up with the frames, within a few blocks of 1024 samples (more on a busy
    // machine, where the sound's thread may start a little late).
    const std::string sound = FfmpegSound("-i " + Quoted(path));
    EXPECT_NEAR(double(sound.size()) / 2 / 44100, video, 0.15) << frames;
}

TEST(CaptureSoundTest, ASoundThatCannotBeCapturedOrCompressedBuildsNoGraphAndNoFile) {
    const struct {
        const char* input;
        const char* device;
        const char* compressor;
        const char* problem;
    } cases[] = {
        {"lavfi", "sine", "mjpeg", "No audio compressor named \"mjpeg\""},
        {"lavfi", "sine", "no-such-codec", "No audio compressor named \"no-such-codec\""},
        {"no-such-input", "sine", "", "No capture input no-such-input"},
        {"lavfi", "no_such_filter", "", "No sound from capture device no_such_filter"},
        {"lavfi", "testsrc", "", "No sound from capture device testsrc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        TScratchFolder folder;
        TKVCapture capture;
        capture.SetCaptureFile(folder.Path("clip.avi"));
        capture.SetAudioCapture(c.input, c.device);
        capture.SetAudioCompressor(c.compressor);
        EXPECT_FALSE(capture.BuildGraph("lavfi", Video));
        EXPECT_EQ(capture.Problem(), c.problem);
        EXPECT_FALSE(capture.IsConnected());
        EXPECT_TRUE(folder.Files().empty());
    }
}

// The key frames of the written video, as ffprobe reports them: "1" for a key frame, "0" else.
std::string KeyFrames(const std::string& path) {
    std::string keys;
    const std::string text =
        RunTool("ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 " + Quoted(path), false)
            .output;
    for (char c : text)
        if (c == '0' || c == '1') keys += c;
    return keys;
}

TEST(CaptureSoundTest, TheCompressorKeepsTheKeyFrameRateAndQualityAskedFor) {
    const struct {
        const char* name;
        const char* compressor;
        TKVVideoCompression compression;
        const char* keys;
    } cases[] = {
        {"every4.asf", "wmv2", {4, -1}, "1000100010"},
        {"first.asf", "wmv2", {0, -1}, "1000000000"},
        {"every3.avi", "mpeg4", {3, -1}, "1001001001"},
        {"coarse.avi", "mjpeg", {-1, 0}, "1111111111"},
        {"fine.avi", "mjpeg", {-1, 1}, "1111111111"},
    };
    TScratchFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TKVCapture capture;
        TCaptureWatch watch(capture);
        capture.SetCaptureFile(folder.Path(c.name));
        capture.SetVideoCompressor(c.compressor);
        capture.SetVideoCompression(c.compression);
        ASSERT_TRUE(watch.RunToEnd(capture, "lavfi", Video));
        capture.Disconnect();
        EXPECT_EQ(KeyFrames(folder.Path(c.name)), c.keys);
    }
    // The finest quality keeps much more of the picture than the coarsest.
    const size_t coarse = ReadFile(folder.Path("coarse.avi")).size(), fine = ReadFile(folder.Path("fine.avi")).size();
    EXPECT_GT(fine, coarse * 3 / 2) << coarse << " " << fine;
}

TEST(CaptureSoundTest, FramesThatACompressorTakesAreNeitherPostedNorKept) {
    for (const char* compressor : {"", "mjpeg"}) {
        SCOPED_TRACE(compressor);
        TScratchFolder folder;
        TKVCapture capture;
        TCaptureWatch watch(capture);
        capture.SetCaptureFile(folder.Path("clip.avi"));
        capture.SetVideoCompressor(compressor);
        ASSERT_TRUE(watch.RunToEnd(capture, "lavfi", Video));
        TKVBitmap bitmap;
        const bool grabbing = *compressor == 0;
        EXPECT_EQ(watch.Frames(), grabbing ? 10 : 0);
        EXPECT_EQ(capture.GetSample(bitmap), grabbing);
        capture.Disconnect();
        EXPECT_EQ(ProbeStream(folder.Path("clip.avi"), "v:0", "nb_read_frames"), "nb_read_frames=10\n");
    }
}

// Keeps what is played, for the test to read after the capture owns the output.
struct TRecording {
    int sampleRate = 0, channels = 0;
    std::string samples;  // as signed 16-bit little-endian bytes
};

class TRecordingOutput : public TKVAudioOutput {
public:
    explicit TRecordingOutput(std::shared_ptr<TRecording> recording) : recording_(std::move(recording)) {}
    void Play(int sampleRate, int channels, const int16_t* samples, size_t count) override {
        recording_->sampleRate = sampleRate;
        recording_->channels = channels;
        recording_->samples.append(reinterpret_cast<const char*>(samples), count * size_t(channels) * 2);
    }

private:
    std::shared_ptr<TRecording> recording_;
};

// A clip of 10 frames with sound of the given codec.
std::string MakeClipWithSound(const TScratchFolder& folder, const std::string& name, const std::string& codec) {
    const std::string path = folder.Path(name);
    const TCommandResult made =
        RunTool("ffmpeg -v error -y -f lavfi -i " + Video + " -f lavfi -i " +
                Quoted("aevalsrc=0.5*sin(440*2*PI*t)|0.3*sin(660*2*PI*t):s=44100:d=0.4") + " -c:v mjpeg -c:a " +
                codec + " " + Quoted(path));
    EXPECT_EQ(made.status, 0) << made.output;
    return path;
}

TEST(CaptureSoundTest, AVideoFilesSoundIsPlayedWhileItsFramesAreGrabbed) {
    const struct {
        const char* name;
        const char* codec;
    } cases[] = {{"pcm.avi", "pcm_s16le"}, {"mp2.avi", "mp2"}, {"wma.asf", "wmav2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScratchFolder folder;
        const std::string clip = MakeClipWithSound(folder, c.name, c.codec);
        auto recording = std::make_shared<TRecording>();
        TKVCapture capture;
        TCaptureWatch watch(capture);
        capture.SetRenderFileAudio(true);
        capture.SetAudioOutput(std::make_unique<TRecordingOutput>(recording));
        ASSERT_TRUE(watch.RunToEnd(capture, "", clip));
        capture.Disconnect();
        EXPECT_EQ(capture.Problem(), "");
        EXPECT_EQ(watch.Frames(), 10);
        EXPECT_EQ(recording->sampleRate, 44100);
        EXPECT_EQ(recording->channels, 2);
        const std::string expected = FfmpegSound("-i " + Quoted(clip));
        ASSERT_GT(expected.size(), 2 * 2 * 0.3 * 44100);
        EXPECT_EQ(Mismatch(recording->samples, expected), "");
    }
}

TEST(CaptureSoundTest, AMachineWithoutASoundDeviceStillGrabsTheFrames) {
    TScratchFolder folder;
    const std::string clip = MakeClipWithSound(folder, "clip.avi", "pcm_s16le");
    TKVCapture capture;
    TCaptureWatch watch(capture);
    capture.SetRenderFileAudio(true);
    ASSERT_TRUE(watch.RunToEnd(capture, "", clip));
    EXPECT_EQ(watch.Frames(), 10);
    EXPECT_EQ(capture.Problem(), "");
}

TEST(CaptureSoundTest, AVideoFilesSoundReachesTheCaptureFileOnlyThroughAnAudioCompressor) {
    const struct {
        const char* compressor;
        const char* probed;
    } cases[] = {
        {"", ""},
        {"pcm_s16le", "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\n"},
        {"mp2", "codec_name=mp2\nsample_rate=44100\nchannels=2\n"},
    };
    TScratchFolder folder;
    const std::string clip = MakeClipWithSound(folder, "source.avi", "pcm_s16le");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compressor);
        const std::string path = folder.Path("copy.avi");
        TKVCapture capture;
        TCaptureWatch watch(capture);
        capture.SetCaptureFile(path);
        capture.SetAudioCompressor(c.compressor);
        ASSERT_TRUE(watch.RunToEnd(capture, "", clip));
        capture.Disconnect();
        EXPECT_EQ(capture.Problem(), "");
        EXPECT_EQ(ProbeStream(path, "v:0", "nb_read_frames"), "nb_read_frames=10\n");
        EXPECT_EQ(ProbeStream(path, "a:0", "codec_name,sample_rate,channels"), c.probed);
        if (std::string(c.compressor) == "pcm_s16le") {
            EXPECT_EQ(Mismatch(FfmpegSound("-i " + Quoted(path)), FfmpegSound("-i " + Quoted(clip))), "");
        }
    }
}

}  // namespace
