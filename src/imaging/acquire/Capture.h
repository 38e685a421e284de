#pragma once
// Live capture from a device (V4L2 cameras, or FFmpeg's lavfi test sources) on a worker thread.
// The worker only keeps the newest frame and posts a message per frame; the receiver resolves the
// message's handle on its own thread and copies the frame with GetSample.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <vector>

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
    // Opens the device through the input format ("v4l2", "lavfi") and reads its format; false,
    // with Problem set, when it cannot be opened.
    bool BuildGraph(const std::string& inputFormat, const std::string& device);
    // Starts delivering frames; a graph event is posted when the device ends or fails.
    void Run();
    // Stops the worker and closes the device.
    void Disconnect();
    bool IsConnected() const;
    const std::string& Problem() const { return problem_; }

    int Width() const;
    int Height() const;
    // Units of 100 ns; 0 when the device declares no rate.
    int64_t GetAvgTimePerFrame() const;
    // Copies the newest frame into a kv24RGB bitmap; false before the first frame.
    bool GetSample(TKVBitmap& bitmap);
    // The device's output formats, refilled by BuildGraph: the one it was opened with.
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
    void Work(const TKVCapturePost& notify);
    std::unique_ptr<TState> state_;
    TKVCaptureHandle handle_;
    TKVCapturePost post_;
    std::string problem_;
    std::vector<TKVVideoFormat> formats_;
};
