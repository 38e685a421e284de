#include "imaging/acquire/CaptureFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include "imaging/acquire/FFmpegSupport.h"
#include "platform/Exception.h"
#include "platform/Files.h"

namespace {

std::string LowerExtension(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = fileName.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

// The muxer's output, sent through the all-or-nothing file; the first failure is kept for the
// message, since FFmpeg only passes on an error number.
struct TFileOutput {
    TAtomicFile file;
    std::string failure;

    explicit TFileOutput(const std::string& fileName) : file(fileName) {}

    static int Write(void* opaque, uint8_t* buffer, int count) {
        auto& self = *static_cast<TFileOutput*>(opaque);
        try {
            self.file.Stream().WriteBuffer(buffer, count);
            return count;
        } catch (const Exception& error) {
            if (self.failure.empty()) self.failure = error.what();
            return AVERROR(EIO);
        }
    }
    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto& self = *static_cast<TFileOutput*>(opaque);
        TStream& stream = self.file.Stream();
        try {
            switch (whence & ~AVSEEK_FORCE) {
                case AVSEEK_SIZE: return stream.Size();
                case SEEK_SET: return stream.Seek(offset, TSeekOrigin::soBeginning);
                case SEEK_CUR: return stream.Seek(offset, TSeekOrigin::soCurrent);
                case SEEK_END: return stream.Seek(offset, TSeekOrigin::soEnd);
                default: return AVERROR(EINVAL);
            }
        } catch (const Exception& error) {
            if (self.failure.empty()) self.failure = error.what();
            return AVERROR(EIO);
        }
    }
};

struct TOutputCloser {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct TIOCloser {
    void operator()(AVIOContext* io) const {
        if (io) av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct TScalerCloser {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

struct TResamplerCloser {
    void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};
struct TFifoCloser {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

// The layout the encoder takes: the rows as grabbed when it can, else its first own.
AVPixelFormat EncoderLayout(const AVCodec& codec) {
    if (!codec.pix_fmts) return AV_PIX_FMT_BGR24;
    for (const AVPixelFormat* layout = codec.pix_fmts; *layout != AV_PIX_FMT_NONE; ++layout)
        if (*layout == AV_PIX_FMT_BGR24) return AV_PIX_FMT_BGR24;
    return codec.pix_fmts[0];
}

// The source's rate when the encoder takes it, else the encoder's nearest.
int EncoderRate(const AVCodec& codec, int rate) {
    if (!codec.supported_samplerates) return rate;
    int nearest = codec.supported_samplerates[0];
    for (const int* supported = codec.supported_samplerates; *supported; ++supported)
        if (std::abs(*supported - rate) < std::abs(nearest - rate)) nearest = *supported;
    return nearest;
}

// Maps the client's wishes to the encoder's own settings: quality to a fixed quantiser from 31
// (coarsest) to 1 (finest).
void ApplyCompression(const TKVVideoCompression& compression, AVCodecContext& context) {
    if (compression.KeyFrameRate > 0) context.gop_size = compression.KeyFrameRate;
    if (compression.KeyFrameRate == 0) context.gop_size = INT_MAX;
    if (compression.Quality >= 0) {
        const double quantiser = 31 - 30 * std::min(compression.Quality, 1.0);
        context.flags |= AV_CODEC_FLAG_QSCALE;
        context.global_quality = int(FF_QP2LAMBDA * quantiser + 0.5);
    }
}

}  // namespace

struct TCaptureFile::TState {
    std::mutex lock;  // the video and the sound come from different threads
    std::string fileName;
    std::unique_ptr<TFileOutput> output;
    std::unique_ptr<AVIOContext, TIOCloser> io;
    std::unique_ptr<AVFormatContext, TOutputCloser> format;
    std::unique_ptr<AVPacket, TFFmpegPacketCloser> packet;
    std::unique_ptr<AVCodecContext, TFFmpegCodecCloser> encoder;
    std::unique_ptr<AVFrame, TFFmpegFrameCloser> scaled;
    std::unique_ptr<SwsContext, TScalerCloser> scaler;
    AVStream* stream = nullptr;
    int64_t frames = 0;
    std::unique_ptr<AVCodecContext, TFFmpegCodecCloser> audioEncoder;
    std::unique_ptr<SwrContext, TResamplerCloser> resampler;
    AVChannelLayout resampledLayout{};  // what the resampler was set up for
    int resampledFormat = -1, resampledRate = 0;
    std::unique_ptr<AVAudioFifo, TFifoCloser> fifo;
    AVStream* audioStream = nullptr;
    int audioFrameSize = 0;
    int64_t samples = 0;

    // Fails with the file output's own reason when it has one.
    void Check(int result, const std::string& doing) const {
        if (result >= 0) return;
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(result, text, sizeof text);
        throw EWriteError("Cannot write the capture file \"" + fileName + "\": " +
                          (output->failure.empty() ? doing + " (" + text + ")" : output->failure));
    }
    // Sends the frame, or the end of the frames when null, and muxes every packet it yields.
    void Encode(AVCodecContext& codec, const AVStream& target, const AVFrame* frame) {
        Check(avcodec_send_frame(&codec, frame), "encoding failed");
        for (;;) {
            const int received = avcodec_receive_packet(&codec, packet.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return;
            Check(received, "encoding failed");
            av_packet_rescale_ts(packet.get(), codec.time_base, target.time_base);
            packet->stream_index = target.index;
            Check(av_interleaved_write_frame(format.get(), packet.get()), "writing failed");
        }
    }
    AVStream& AddStream(const AVCodecContext& codec) {
        AVStream* added = avformat_new_stream(format.get(), nullptr);
        if (!added) throw EOutOfMemory("Out of memory");
        added->time_base = codec.time_base;
        Check(avcodec_parameters_from_context(added->codecpar, &codec), "the compressor's settings");
        return *added;
    }
    void OpenVideo(const TCaptureFileStreams& streams, bool asf);
    void OpenAudio(const TCaptureFileStreams& streams, bool asf);
    // Converts the samples to the encoder's format onto the queue; no input drains the resampler.
    void QueueAudio(const uint8_t** input, int count);
    // Encodes count samples from the queue, padded with silence to a whole frame when the
    // encoder takes no shorter one.
    void EncodeQueuedAudio(int count);
};

void TCaptureFile::TState::OpenVideo(const TCaptureFileStreams& streams, bool asf) {
    const std::string name = !streams.videoEncoder.empty() ? streams.videoEncoder : asf ? "wmv2" : "rawvideo";
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) throw EInvalidOperation("No video compressor named \"" + name + "\"");
    const AVRational rate = streams.rate.num > 0 && streams.rate.den > 0 ? streams.rate : AVRational{25, 1};
    encoder.reset(avcodec_alloc_context3(codec));
    scaled.reset(av_frame_alloc());
    if (!encoder || !scaled) throw EOutOfMemory("Out of memory");
    AVCodecContext& context = *encoder;
    context.width = streams.width;
    context.height = streams.height;
    context.pix_fmt = EncoderLayout(*codec);
    context.time_base = av_inv_q(rate);
    context.framerate = rate;
    ApplyCompression(streams.compression, context);
    if (format->oformat->flags & AVFMT_GLOBALHEADER) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(&context, codec, nullptr), "the video compressor refused the frames");
    stream = &AddStream(context);
    scaled->format = context.pix_fmt;
    scaled->width = streams.width;
    scaled->height = streams.height;
    Check(av_frame_get_buffer(scaled.get(), 0), "no memory for a frame");
}

void TCaptureFile::TState::OpenAudio(const TCaptureFileStreams& streams, bool asf) {
    const std::string name = !streams.audioEncoder.empty() ? streams.audioEncoder : asf ? "wmav2" : "pcm_s16le";
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_AUDIO) throw EInvalidOperation("No audio compressor named \"" + name + "\"");
    audioEncoder.reset(avcodec_alloc_context3(codec));
    if (!audioEncoder) throw EOutOfMemory("Out of memory");
    AVCodecContext& context = *audioEncoder;
    context.sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    context.sample_rate = EncoderRate(*codec, streams.audioRate);
    // Capture compressors take mono or stereo.
    av_channel_layout_default(&context.ch_layout, std::min(streams.audioChannels, 2));
    context.time_base = AVRational{1, context.sample_rate};
    if (format->oformat->flags & AVFMT_GLOBALHEADER) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(&context, codec, nullptr), "the audio compressor refused the sound");
    audioStream = &AddStream(context);
    const bool anySize = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE || context.frame_size <= 0;
    audioFrameSize = anySize ? 1024 : context.frame_size;
    fifo.reset(av_audio_fifo_alloc(context.sample_fmt, context.ch_layout.nb_channels, audioFrameSize));
    if (!fifo) throw EOutOfMemory("Out of memory");
}

void TCaptureFile::TState::QueueAudio(const uint8_t** input, int count) {
    const AVCodecContext& context = *audioEncoder;
    const int room = swr_get_out_samples(resampler.get(), count);
    if (room <= 0) return;
    uint8_t** converted = nullptr;
    Check(av_samples_alloc_array_and_samples(&converted, nullptr, context.ch_layout.nb_channels, room,
                                             context.sample_fmt, 0),
          "no memory for sound");
    const int made = swr_convert(resampler.get(), converted, room, input, count);
    const int queued = made > 0 ? av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(converted), made) : 0;
    av_freep(&converted[0]);
    av_freep(&converted);
    if (made < 0) throw EInvalidGraphic("Sound conversion failed");
    Check(queued, "no memory for sound");
}

void TCaptureFile::TState::EncodeQueuedAudio(int count) {
    const AVCodecContext& context = *audioEncoder;
    std::unique_ptr<AVFrame, TFFmpegFrameCloser> frame(av_frame_alloc());
    if (!frame) throw EOutOfMemory("Out of memory");
    const bool shortAllowed = context.codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME ||
                              context.codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE ||
                              context.frame_size <= 0;
    frame->nb_samples = shortAllowed ? count : audioFrameSize;
    frame->format = context.sample_fmt;
    frame->sample_rate = context.sample_rate;
    Check(av_channel_layout_copy(&frame->ch_layout, &context.ch_layout), "no memory for sound");
    Check(av_frame_get_buffer(frame.get(), 0), "no memory for sound");
    av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, context.ch_layout.nb_channels,
                           context.sample_fmt);
    if (av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->extended_data), count) != count)
        throw EOutOfMemory("Out of memory");
    frame->pts = samples;
    samples += frame->nb_samples;
    Encode(*audioEncoder, *audioStream, frame.get());
}

bool TCaptureFile::IsCaptureFileName(const std::string& fileName) {
    const std::string extension = LowerExtension(fileName);
    return extension == ".avi" || extension == ".asf";
}

TCaptureFile::TCaptureFile(const std::string& fileName, const TCaptureFileStreams& streams)
    : state_(std::make_unique<TState>()) {
    TState& state = *state_;
    state.fileName = fileName;
    const bool asf = LowerExtension(fileName) == ".asf";
    AVFormatContext* format = nullptr;
    avformat_alloc_output_context2(&format, nullptr, asf ? "asf" : "avi", nullptr);
    state.format.reset(format);
    state.packet.reset(av_packet_alloc());
    if (!format || !state.packet) throw EOutOfMemory("Out of memory");
    state.output = std::make_unique<TFileOutput>(fileName);
    state.OpenVideo(streams, asf);
    if (streams.audioChannels > 0) state.OpenAudio(streams, asf);

    constexpr int bufferSize = 64 * 1024;
    auto* buffer = static_cast<uint8_t*>(av_malloc(bufferSize));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, bufferSize, 1, state.output.get(), nullptr,
                                                  TFileOutput::Write, TFileOutput::Seek)
                             : nullptr;
    if (!io) {
        av_free(buffer);
        throw EOutOfMemory("Out of memory");
    }
    state.io.reset(io);
    format->pb = io;
    state.Check(avformat_write_header(format, nullptr), "the container refused the streams");
}

TCaptureFile::~TCaptureFile() { av_channel_layout_uninit(&state_->resampledLayout); }

void TCaptureFile::Write(const AVFrame& frame) {
    TState& state = *state_;
    std::lock_guard guard(state.lock);
    AVFrame& scaled = *state.scaled;
    state.scaler.reset(sws_getCachedContext(state.scaler.release(), frame.width, frame.height,
                                            AVPixelFormat(frame.format), scaled.width, scaled.height,
                                            AVPixelFormat(scaled.format), SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!state.scaler) throw EInvalidGraphic("Unsupported video pixel format");
    // The encoder may still hold the previous frame's buffer.
    state.Check(av_frame_make_writable(&scaled), "no memory for a frame");
    sws_scale(state.scaler.get(), frame.data, frame.linesize, 0, frame.height, scaled.data, scaled.linesize);
    scaled.pts = state.frames++;
    // A fixed quality is asked for frame by frame.
    scaled.quality = state.encoder->global_quality;
    state.Encode(*state.encoder, *state.stream, &scaled);
}

void TCaptureFile::WriteAudio(const AVFrame& frame) {
    TState& state = *state_;
    std::lock_guard guard(state.lock);
    if (!state.audioEncoder || frame.nb_samples <= 0) return;
    const AVCodecContext& context = *state.audioEncoder;
    // Set up again whenever the source changes its sound format, which a damaged file may do.
    if (!state.resampler || frame.format != state.resampledFormat || frame.sample_rate != state.resampledRate ||
        av_channel_layout_compare(&frame.ch_layout, &state.resampledLayout) != 0) {
        SwrContext* resampler = nullptr;
        // The call takes layouts it never changes.
        if (swr_alloc_set_opts2(&resampler, const_cast<AVChannelLayout*>(&context.ch_layout), context.sample_fmt,
                                context.sample_rate, const_cast<AVChannelLayout*>(&frame.ch_layout),
                                AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr) < 0 ||
            swr_init(resampler) < 0) {
            swr_free(&resampler);
            throw EInvalidGraphic("Unsupported sound format");
        }
        state.resampler.reset(resampler);
        state.Check(av_channel_layout_copy(&state.resampledLayout, &frame.ch_layout), "no memory for sound");
        state.resampledFormat = frame.format;
        state.resampledRate = frame.sample_rate;
    }
    state.QueueAudio(const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    while (av_audio_fifo_size(state.fifo.get()) >= state.audioFrameSize) state.EncodeQueuedAudio(state.audioFrameSize);
}

void TCaptureFile::Finish() {
    TState& state = *state_;
    std::lock_guard guard(state.lock);
    state.Encode(*state.encoder, *state.stream, nullptr);
    if (state.audioEncoder) {
        // A resampler keeps a few samples back until its end.
        if (state.resampler) state.QueueAudio(nullptr, 0);
        for (int left; (left = av_audio_fifo_size(state.fifo.get())) > 0;)
            state.EncodeQueuedAudio(std::min(left, state.audioFrameSize));
        state.Encode(*state.audioEncoder, *state.audioStream, nullptr);
    }
    state.Check(av_write_trailer(state.format.get()), "writing the index failed");
    avio_flush(state.io.get());
    state.Check(state.io->error, "writing failed");
    state.output->file.Commit();
}
