#pragma once
// Live capture from a device (V4L2 cameras, or FFmpeg's lavfi test sources), or a video file
// played through, on a worker thread. The worker only keeps the newest frame and posts a message
// per frame; the receiver resolves the message's handle on its own thread and copies the frame
// with GetSample.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/acquire/VideoCompression.h"

class TKVAudioOutput;
class TKVBitmap;

// One output format of a capture device.
struct TKVVideoFormat {
    // The subtype's four-character or RGB name; empty when it has none.
    std::string FormatName;
    int32_t BitRate = 0;
    // Analogue standards; none through FFmpeg's devices.
    std::string VideoStandards;
    int32_t MinWidth = 0, MinHeight = 0, MaxWidth = 0, MaxHeight = 0;
    int32_t WidthStep = 0, HeightStep = 0;
};

using TKVCaptureHandle = uint64_t;
// The numbers the image view listens to.
enum TKVCaptureMessage : uint32_t { kvcmNewFrame = 8025, kvcmGraphEvent = 8026 };
// Called on the worker thread; must only queue the message for the receiving thread.
using TKVCapturePost = std::function<void(TKVCaptureMessage message, TKVCaptureHandle handle)>;

class TKVCapture {
public:
    TKVCapture();
    ~TKVCapture();
    TKVCapture(const TKVCapture&) = delete;
    TKVCapture& operator=(const TKVCapture&) = delete;

    // The capture a message names, or nullptr once it was disconnected or destroyed.
    static TKVCapture* FromHandle(TKVCaptureHandle handle);
    TKVCaptureHandle Handle() const { return handle_; }

    // Takes effect at the next Run.
    void SetNotify(TKVCapturePost post);
    // Every frame is also written to this file from the next BuildGraph on: ".avi" and ".asf"
    // choose the container, any other name writes nothing. The file gets its name when the source
    // ends or Disconnect stops the capture; a failure leaves no file (Problem says why).
    void SetCaptureFile(const std::string& fileName) { captureFileName_ = fileName; }
    // The FFmpeg encoder of the capture file ("mjpeg", "wmv2", ...); empty: the container's own
    // choice, uncompressed rows for AVI. While one is set, frames are only written: none is
    // posted or kept for GetSample.
    void SetVideoCompressor(const std::string& encoder) { videoCompressor_ = encoder; }
    // Key-frame rate and quality of the video compressor; nothing without one.
    void SetVideoCompression(const TKVVideoCompression& compression) { compression_ = compression; }
    // A sound device, opened through its input format ("pulse", "alsa", "lavfi") by BuildGraph;
    // its sound goes to the capture file. An empty format: none.
    void SetAudioCapture(const std::string& inputFormat, const std::string& device);
    // The FFmpeg encoder of the sound in the capture file ("pcm_s16le", "wmav2", ...); empty: the
    // container's own choice. A video file's sound is written only through one that is set.
    void SetAudioCompressor(const std::string& encoder) { audioCompressor_ = encoder; }
    // When on, the sound of a video file is played while it runs.
    void SetRenderFileAudio(bool render) { renderFileAudio_ = render; }
    // Where the sound is played; the machine's default device unless replaced.
    void SetAudioOutput(std::unique_ptr<TKVAudioOutput> output);
    // Opens the device through the input format ("v4l2", "lavfi"), or the video file of that name
    // when the format is empty, then the sound device, reads the formats and starts the capture
    // file; false, with Problem set, when any of them cannot be opened.
    bool BuildGraph(const std::string& inputFormat, const std::string& device);
    // Starts delivering frames; a graph event is posted when the device ends or fails, or when the
    // capture file cannot be written.
    void Run();
    // Stops the worker and closes the device.
    void Disconnect();
    bool IsConnected() const;
    // Why the device or the capture file failed; empty while nothing did.
    std::string Problem() const;

    int Width() const;
    int Height() const;
    // Units of 100 ns; 0 when the device declares no rate.
    int64_t GetAvgTimePerFrame() const;
    // Copies the newest frame into a kv24RGB bitmap; false before the first frame.
    bool GetSample(TKVBitmap& bitmap);
    // The device's output formats, refilled by BuildGraph: every format, size range and discrete
    // size of a V4L2 device; for other inputs, the one they were opened with.
    const std::vector<TKVVideoFormat>& VideoFormats() const { return formats_; }
    // Size and subtype name of the open format; the outputs stay when nothing is open.
    void GetVideoFormat(int& width, int& height, std::string& name) const;
    // The input pins of a capture card's switch: none on this platform.
    std::vector<std::string> CrossbarInputs() const { return {}; }
    // Capture cards' input switch and tuner: none on this platform.
    bool HasCrossbar() const { return false; }
    bool HasTuner() const { return false; }

private:
    struct TState;
    void Work(const TKVCapturePost& notify, bool grab);
    // Writes the sound device's sound to the capture file until the video has ended and the sound
    // has reached the video's length, or until the capture is stopped; false when it failed.
    bool WorkAudio();
    bool OpenVideoSource(const std::string& inputFormat, const std::string& device);
    bool OpenAudioCapture();
    bool StartCaptureFile();
    // Names the capture file when the capture ended well, else removes it.
    void EndCaptureFile(bool endedWell);
    void SetProblem(const std::string& problem);
    std::unique_ptr<TState> state_;
    TKVCaptureHandle handle_;
    TKVCapturePost post_;
    std::string captureFileName_, videoCompressor_, audioCompressor_;
    std::string audioInputFormat_, audioDevice_;
    TKVVideoCompression compression_;
    bool renderFileAudio_ = false;
    std::unique_ptr<TKVAudioOutput> audioOutput_;
    std::vector<TKVVideoFormat> formats_;
};
