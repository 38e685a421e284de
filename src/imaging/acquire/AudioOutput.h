#pragma once
// Where the sound of a video file goes while the capture graph plays the file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct AVFrame;
struct SwrContext;

class TKVAudioOutput {
public:
    virtual ~TKVAudioOutput() = default;
    // Interleaved signed 16-bit samples, count per channel.
    virtual void Play(int sampleRate, int channels, const int16_t* samples, size_t count) = 0;
};

// The machine's default sound device: PulseAudio, else ALSA's "default". Without either, the sound
// is dropped and nothing else fails.
std::unique_ptr<TKVAudioOutput> DefaultAudioOutput();

// Turns decoded sound into the output's samples, at the frame's own rate and channels.
class TAudioPlayer {
public:
    explicit TAudioPlayer(TKVAudioOutput& output) : output_(output) {}
    ~TAudioPlayer();
    TAudioPlayer(const TAudioPlayer&) = delete;
    TAudioPlayer& operator=(const TAudioPlayer&) = delete;
    // Frames that cannot be converted are skipped.
    void Play(const AVFrame& frame);

private:
    TKVAudioOutput& output_;
    SwrContext* resampler_ = nullptr;
    std::vector<int16_t> samples_;
};
