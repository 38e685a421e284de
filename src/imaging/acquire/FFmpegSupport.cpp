#include "imaging/acquire/FFmpegSupport.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/log.h>
}

#include "imaging/core/KVBitmap.h"
#include "platform/Exception.h"
#include "platform/PictureLimits.h"

void QuietFFmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

void RegisterFFmpegDevices() {
    static std::once_flag once;
    std::call_once(once, avdevice_register_all);
}

void TFFmpegDeadline::Attach(AVFormatContext& context) {
    context.interrupt_callback.callback = [](void* self) {
        return static_cast<TFFmpegDeadline*>(self)->Expired() ? 1 : 0;
    };
    context.interrupt_callback.opaque = this;
}

TBgrConverter::~TBgrConverter() { sws_freeContext(scaler_); }

void TBgrConverter::Convert(const AVFrame& frame, TBgrFrame& target) {
    CheckPictureSize(frame.width, frame.height, 24, -1);
    scaler_ = sws_getCachedContext(scaler_, frame.width, frame.height, AVPixelFormat(frame.format), frame.width,
                                   frame.height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler_) throw EInvalidGraphic("Unsupported video pixel format");
    const int stride = frame.width * 3;
    target.width = frame.width;
    target.height = frame.height;
    target.rows.resize(size_t(stride) * size_t(frame.height) + ScalerOverrun);
    uint8_t* planes[4] = {target.rows.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    if (sws_scale(scaler_, frame.data, frame.linesize, 0, frame.height, planes, strides) != frame.height)
        throw EInvalidGraphic("Video frame conversion failed");
}

void CopyToBitmap(const TBgrFrame& frame, TKVBitmap& bitmap) {
    if (bitmap.GetPixelFormat() != kv24RGB || bitmap.GetWidth() != frame.width || bitmap.GetHeight() != frame.height)
        bitmap.Allocate(frame.width, frame.height, kv24RGB);
    const size_t stride = size_t(frame.width) * 3;
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(bitmap.GetScanline(y), frame.rows.data() + stride * size_t(y), stride);
}

int64_t AvgTimePerFrameOf(const AVStream& stream) {
    AVRational rate = stream.avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = stream.r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_rescale(10'000'000, rate.den, rate.num) : 0;
}

AVCodecContext* OpenDecoder(const AVStream& stream) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (!codec) return nullptr;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context) return nullptr;
    // One thread: frames are wanted one at a time, and a hostile stream stays on our time bound.
    context->thread_count = 1;
    // The decoder refuses frames beyond the picture limits before it allocates them.
    context->max_pixels = std::min<int64_t>(PictureLimits().maxPixels, INT_MAX);
    if (avcodec_parameters_to_context(context, stream.codecpar) < 0 || avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return nullptr;
    }
    return context;
}

bool FindStreamInfo(AVFormatContext& format) {
    std::vector<AVDictionary*> options(format.nb_streams, nullptr);
    const std::string maxPixels = std::to_string(std::min<int64_t>(PictureLimits().maxPixels, INT_MAX));
    for (AVDictionary*& streamOptions : options) {
        av_dict_set(&streamOptions, "max_pixels", maxPixels.c_str(), 0);
        av_dict_set(&streamOptions, "threads", "1", 0);
    }
    const bool found = avformat_find_stream_info(&format, options.data()) >= 0;
    for (AVDictionary*& streamOptions : options) av_dict_free(&streamOptions);
    return found;
}

