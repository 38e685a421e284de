#include "imaging/acquire/AudioOutput.h"

#include <cstring>

extern "C" {
#include <libswresample/swresample.h>
}

#include "imaging/acquire/FFmpegSupport.h"

namespace {

struct TDeviceCloser {
    void operator()(AVFormatContext* device) const {
        av_write_trailer(device);
        avformat_free_context(device);
    }
};

class TDeviceAudioOutput : public TKVAudioOutput {
public:
    void Play(int sampleRate, int channels, const int16_t* samples, size_t count) override {
        if (!tried_) {
            tried_ = true;
            Open(sampleRate, channels);
        }
        if (!device_ || count == 0) return;
        std::unique_ptr<AVPacket, TFFmpegPacketCloser> packet(av_packet_alloc());
        const size_t bytes = count * size_t(channels) * sizeof(int16_t);
        if (!packet || bytes > INT_MAX || av_new_packet(packet.get(), int(bytes)) < 0) return;
        std::memcpy(packet->data, samples, bytes);
        packet->pts = packet->dts = played_;
        packet->duration = int64_t(count);
        played_ += int64_t(count);
        // A device that goes away stays silent from then on.
        if (av_write_frame(device_.get(), packet.get()) < 0) device_.reset();
    }

private:
    void Open(int sampleRate, int channels) {
        RegisterFFmpegDevices();
        for (const char* name : {"pulse", "alsa"}) {
            AVFormatContext* device = nullptr;
            if (avformat_alloc_output_context2(&device, nullptr, name, "default") < 0) continue;
            AVStream* stream = avformat_new_stream(device, nullptr);
            if (stream) {
                stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
                stream->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
                stream->codecpar->sample_rate = sampleRate;
                av_channel_layout_default(&stream->codecpar->ch_layout, channels);
                stream->time_base = AVRational{1, sampleRate};
            }
            if (stream && avformat_write_header(device, nullptr) >= 0) {
                device_.reset(device);
                return;
            }
            avformat_free_context(device);
        }
    }
    std::unique_ptr<AVFormatContext, TDeviceCloser> device_;
    bool tried_ = false;
    int64_t played_ = 0;
};

}  // namespace

std::unique_ptr<TKVAudioOutput> DefaultAudioOutput() { return std::make_unique<TDeviceAudioOutput>(); }

TAudioPlayer::~TAudioPlayer() { swr_free(&resampler_); }

void TAudioPlayer::Play(const AVFrame& frame) {
    const int channels = frame.ch_layout.nb_channels;
    if (channels <= 0 || frame.sample_rate <= 0 || frame.nb_samples <= 0) return;
    // The frame's own layout, as plain signed 16-bit samples. (The call takes layouts it never changes.)
    auto* layout = const_cast<AVChannelLayout*>(&frame.ch_layout);
    if (swr_alloc_set_opts2(&resampler_, layout, AV_SAMPLE_FMT_S16, frame.sample_rate, layout,
                            AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr) < 0 ||
        swr_init(resampler_) < 0)
        return;
    samples_.resize(size_t(frame.nb_samples) * size_t(channels));
    auto* target = reinterpret_cast<uint8_t*>(samples_.data());
    const int count = swr_convert(resampler_, &target, frame.nb_samples,
                                  const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    if (count > 0) output_.Play(frame.sample_rate, channels, samples_.data(), size_t(count));
}
