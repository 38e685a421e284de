// swscale's stores past the end of its output, measured against the room converted rows leave.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "imaging/acquire/FFmpegSupport.h"

namespace {

// How many bytes past width x height x 3 one conversion to bgr24 writes, of `guard` watched.
size_t Overrun(AVPixelFormat source, int width, int height, size_t guard) {
    uint8_t* planes[4];
    int strides[4];
    if (av_image_alloc(planes, strides, width, height, source, 64) < 0) return 0;
    std::memset(planes[0], 0x80, size_t(av_image_get_buffer_size(source, width, height, 64)));
    SwsContext* scaler =
        sws_getContext(width, height, source, width, height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    size_t written = 0;
    if (scaler) {
        const size_t size = size_t(width) * 3 * size_t(height);
        std::vector<uint8_t> target(size + guard, 0xAA);
        uint8_t* targetPlanes[4] = {target.data(), nullptr, nullptr, nullptr};
        const int targetStrides[4] = {width * 3, 0, 0, 0};
        sws_scale(scaler, planes, strides, 0, height, targetPlanes, targetStrides);
        for (size_t i = guard; i > 0; --i)
            if (target[size + i - 1] != 0xAA) {
                written = i;
                break;
            }
        sws_freeContext(scaler);
    }
    av_freep(&planes[0]);
    return written;
}

TEST(ScalerOverrunTest, ConvertedRowsLeaveRoomForTheScalersLastStores) {
    QuietFFmpegLog();
    const AVPixelFormat sources[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUYV422, AV_PIX_FMT_UYVY422,
                                     AV_PIX_FMT_NV12,    AV_PIX_FMT_YUV410P,  AV_PIX_FMT_RGB24,   AV_PIX_FMT_GRAY8,
                                     AV_PIX_FMT_PAL8,    AV_PIX_FMT_BGR0,     AV_PIX_FMT_YUV444P, AV_PIX_FMT_MONOWHITE};
    size_t largest = 0;
    for (AVPixelFormat source : sources)
        for (int width = 1; width <= 96; ++width)
            for (int height = 1; height <= 3; ++height) largest = std::max(largest, Overrun(source, width, height, 4 * ScalerOverrun));
    // With vector code (45 bytes on x86-64 with AVX2) the stores run past the end; the room covers them.
    EXPECT_LE(largest, ScalerOverrun);
}

}  // namespace
