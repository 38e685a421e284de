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
    // Every frame is also written to this file from the next BuildGraph on: ".avi" and ".asf"
    // choose the container, any other name writes nothing. The file gets its name when the source
    // ends or Disconnect stops the capture; a failure leaves no file (Problem says why).
    void SetCaptureFile(const std::string& fileName) { captureFileName_ = fileName; }
    // The FFmpeg encoder of the capture file ("mjpeg", "wmv2", ...); empty: the container's own
    // choice, uncompressed rows for AVI.
    void SetVideoCompressor(const std::string& encoder) { videoCompressor_ = encoder; }
    // Opens the device through the input format ("v4l2", "lavfi"), reads its formats and starts the
    // capture file; false, with Problem set, when either cannot be opened.
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
    void Work(const TKVCapturePost& notify);
    bool StartCaptureFile();
    // Names the capture file when the capture ended well, else removes it.
    void EndCaptureFile(bool endedWell);
    void SetProblem(const std::string& problem);
    std::unique_ptr<TState> state_;
    TKVCaptureHandle handle_;
    TKVCapturePost post_;
    std::string captureFileName_, videoCompressor_;
    std::vector<TKVVideoFormat> formats_;
};
