#include "imaging/acquire/CaptureFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

extern "C" {
#include <libavutil/mem.h>
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

// The layout the encoder takes: the rows as grabbed when it can, else its first own.
AVPixelFormat EncoderLayout(const AVCodec& codec) {
    if (!codec.pix_fmts) return AV_PIX_FMT_BGR24;
    for (const AVPixelFormat* layout = codec.pix_fmts; *layout != AV_PIX_FMT_NONE; ++layout)
        if (*layout == AV_PIX_FMT_BGR24) return AV_PIX_FMT_BGR24;
    return codec.pix_fmts[0];
}

}  // namespace

struct TCaptureFile::TState {
    std::string fileName;
    std::unique_ptr<TFileOutput> output;
    std::unique_ptr<AVIOContext, TIOCloser> io;
    std::unique_ptr<AVFormatContext, TOutputCloser> format;
    std::unique_ptr<AVCodecContext, TFFmpegCodecCloser> encoder;
    std::unique_ptr<AVFrame, TFFmpegFrameCloser> scaled;
    std::unique_ptr<AVPacket, TFFmpegPacketCloser> packet;
    std::unique_ptr<SwsContext, TScalerCloser> scaler;
    AVStream* stream = nullptr;
    int64_t frames = 0;

    // Fails with the file output's own reason when it has one.
    void Check(int result, const std::string& doing) const {
        if (result >= 0) return;
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(result, text, sizeof text);
        throw EWriteError("Cannot write the capture file \"" + fileName + "\": " +
                          (output->failure.empty() ? doing + " (" + text + ")" : output->failure));
    }
    // Sends the frame, or the end of the frames when null, and muxes every packet it yields.
    void Encode(const AVFrame* frame) {
        Check(avcodec_send_frame(encoder.get(), frame), "encoding failed");
        for (;;) {
            const int received = avcodec_receive_packet(encoder.get(), packet.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return;
            Check(received, "encoding failed");
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            Check(av_interleaved_write_frame(format.get(), packet.get()), "writing failed");
        }
    }
};

bool TCaptureFile::IsCaptureFileName(const std::string& fileName) {
    const std::string extension = LowerExtension(fileName);
    return extension == ".avi" || extension == ".asf";
}

TCaptureFile::TCaptureFile(const std::string& fileName, const std::string& encoder, int width, int height,
                           AVRational rate)
    : state_(std::make_unique<TState>()) {
    TState& state = *state_;
    state.fileName = fileName;
    const bool asf = LowerExtension(fileName) == ".asf";
    const std::string encoderName = !encoder.empty() ? encoder : asf ? "wmv2" : "rawvideo";
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        throw EInvalidOperation("No video compressor named \"" + encoderName + "\"");
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};

    AVFormatContext* format = nullptr;
    avformat_alloc_output_context2(&format, nullptr, asf ? "asf" : "avi", nullptr);
    state.format.reset(format);
    state.encoder.reset(avcodec_alloc_context3(codec));
    state.scaled.reset(av_frame_alloc());
    state.packet.reset(av_packet_alloc());
    if (!format || !state.encoder || !state.scaled || !state.packet) throw EOutOfMemory("Out of memory");

    AVCodecContext& context = *state.encoder;
    context.width = width;
    context.height = height;
    context.pix_fmt = EncoderLayout(*codec);
    context.time_base = av_inv_q(rate);
    context.framerate = rate;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    state.output = std::make_unique<TFileOutput>(fileName);
    state.Check(avcodec_open2(&context, codec, nullptr), "the video compressor refused the frames");
    state.stream = avformat_new_stream(format, nullptr);
    if (!state.stream) throw EOutOfMemory("Out of memory");
    state.stream->time_base = context.time_base;
    state.Check(avcodec_parameters_from_context(state.stream->codecpar, &context), "the compressor's settings");

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
    state.Check(avformat_write_header(format, nullptr), "the container refused the video");

    state.scaled->format = context.pix_fmt;
    state.scaled->width = width;
    state.scaled->height = height;
    state.Check(av_frame_get_buffer(state.scaled.get(), 0), "no memory for a frame");
}

TCaptureFile::~TCaptureFile() = default;

void TCaptureFile::Write(const AVFrame& frame) {
    TState& state = *state_;
    AVFrame& scaled = *state.scaled;
    state.scaler.reset(sws_getCachedContext(state.scaler.release(), frame.width, frame.height,
                                            AVPixelFormat(frame.format), scaled.width, scaled.height,
                                            AVPixelFormat(scaled.format), SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!state.scaler) throw EInvalidGraphic("Unsupported video pixel format");
    // The encoder may still hold the previous frame's buffer.
    state.Check(av_frame_make_writable(&scaled), "no memory for a frame");
    sws_scale(state.scaler.get(), frame.data, frame.linesize, 0, frame.height, scaled.data, scaled.linesize);
    scaled.pts = state.frames++;
    state.Encode(&scaled);
}

void TCaptureFile::Finish() {
    TState& state = *state_;
    state.Encode(nullptr);
    state.Check(av_write_trailer(state.format.get()), "writing the index failed");
    avio_flush(state.io.get());
    state.Check(state.io->error, "writing failed");
    state.output->file.Commit();
}
