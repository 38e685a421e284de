#pragma once
// What the media file and the capture share inside the FFmpeg layer: time-bounded demuxing and
// frames turned into 24-bit blue-green-red rows.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

class TKVBitmap;

// FFmpeg's own messages stay quiet: failures reach the user as frame counts and our messages.
void QuietFFmpegLog();
// Makes libavdevice's inputs and outputs known to libavformat.
void RegisterFFmpegDevices();

// Lets a blocking FFmpeg call give up once its time is over or a stop is asked for.
class TFFmpegDeadline {
public:
    void Start(std::chrono::milliseconds limit) {
        end_ = std::chrono::steady_clock::now() + limit;
        stopped_ = false;
    }
    void Stop() { stopped_ = true; }
    bool Expired() const { return stopped_ || std::chrono::steady_clock::now() > end_; }
    // Installs the check as the context's interrupt callback.
    void Attach(AVFormatContext& context);

private:
    std::chrono::steady_clock::time_point end_ = std::chrono::steady_clock::time_point::max();
    std::atomic<bool> stopped_{false};
};

struct TFFmpegFormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct TFFmpegCodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TFFmpegPacketCloser {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct TFFmpegFrameCloser {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// swscale's vector code stores whole blocks of pixels and can write past the last pixel of its
// output (45 bytes seen); converted rows are followed by this much room for it.
constexpr size_t ScalerOverrun = 128;

// A frame as top-down rows of blue, green and red bytes, tightly packed, then ScalerOverrun spare.
struct TBgrFrame {
    int width = 0, height = 0;
    std::vector<uint8_t> rows;
};

// Converts decoded frames to 24-bit rows, keeping one scaler for frames of the same shape.
class TBgrConverter {
public:
    ~TBgrConverter();
    // Throws EInvalidGraphic for a frame beyond the picture limits or of an unknown format.
    void Convert(const AVFrame& frame, TBgrFrame& target);

private:
    SwsContext* scaler_ = nullptr;
};

// Copies the rows into a kv24RGB bitmap of the frame's size, allocating only when it differs.
void CopyToBitmap(const TBgrFrame& frame, TKVBitmap& bitmap);

// The stream's time per frame in units of 100 ns, from its average or its base frame rate; 0
// when it declares neither.
int64_t AvgTimePerFrameOf(const AVStream& stream);

// The stream's decoder, opened; nullptr when there is none or it cannot be opened.
AVCodecContext* OpenDecoder(const AVStream& stream);

// Reads the streams' parameters, decoding a little where the container does not declare them.
// The decoders opened for it refuse sizes beyond the picture limits before allocating for them.
bool FindStreamInfo(AVFormatContext& format);
