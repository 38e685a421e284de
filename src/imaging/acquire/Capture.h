#pragma once
// Live capture from a device (V4L2 cameras, or FFmpeg's lavfi test sources), or a video file
// played through, on a worker thread. The worker only keeps the newest frame and posts a message
// per frame it delivers; the receiver resolves the message's handle on its own thread and copies
// the frame with GetSample. A capture runs, pauses, steps frame by frame, and a video file also
// moves to a position.
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

enum TKVCaptureState : int { kvcsStopped, kvcsPaused, kvcsRunning };
// The units of durations and positions, as numbered by SetTimeFormat.
enum TKVTimeFormat : int { kvtfNone, kvtfFrame, kvtfSample, kvtfField, kvtfByte, kvtfMediaTime };

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
    // Starts delivering frames, or goes on after a pause; a graph event is posted when the device
    // ends or fails, or when the capture file cannot be written.
    void Run();
    // No frame is delivered until Run or FrameStep; the device is read no further meanwhile. From
    // stopped, the capture is made ready without delivering. Nothing without a graph.
    void Pause();
    // Stopped (built but neither run nor paused, or disconnected), paused or running. A source
    // that has ended keeps the state it was given.
    TKVCaptureState GetState() const;
    // Delivers the frame `frames` further on, the ones between passing undelivered, and is paused
    // afterwards; waits for it up to a few seconds. False when stopped, or when the source ends or
    // the time runs out first.
    bool FrameStep(int frames);
    // The low 7 bits choose the unit: kvtfMediaTime (100 ns, the unit at first) or, for a video
    // file with a known rate, kvtfFrame. Other units and a device leave it as it is.
    void SetTimeFormat(int format);
    // The video file's length in the current unit; 0 for a device, whose length is not known.
    int64_t GetDuration() const;
    // Moves a video file to the position, in the current unit, and waits (a few seconds at most)
    // until the frame there was delivered; stopped, it only moves. A device cannot move: nothing.
    void SetPosition(int64_t position);
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
    // A V4L2 device's inputs, when it has several, are a crossbar's inputs, and the tuner of its
    // tuner input a tuner; both are refilled by BuildGraph. Other inputs have neither.
    bool HasCrossbar() const;
    std::vector<std::string> CrossbarInputs() const;
    // The crossbar's input in use; -1 without a crossbar.
    int CrossbarInput() const;
    // False when the device refuses the input; some refuse while they stream.
    bool RouteCrossbar(int input);
    bool HasTuner() const;
    // In Hz; 0 without a tuner.
    int64_t TunerFrequency() const;
    // False without a tuner, outside its range or when it refuses.
    bool SetTunerFrequency(int64_t hertz);

private:
    struct TState;
    void StartWorker(TKVCaptureState mode);
    // Until the worker may read on: false when the capture stops. Performs a move asked for.
    bool AwaitTurn();
    // Moves the file to the stream time, before the frames at it.
    void Seek(int64_t time);
    // The stream time of a position in the current unit.
    int64_t StreamTime(int64_t position) const;
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
    TKVTimeFormat timeFormat_ = kvtfMediaTime;
};
