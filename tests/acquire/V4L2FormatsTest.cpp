// A V4L2 device's enumeration, as its ioctls answer it, turned into the listed capture formats.
#include <gtest/gtest.h>

#include <climits>

#include "imaging/acquire/V4L2Device.h"
#include "imaging/acquire/V4L2Formats.h"

namespace {

v4l2_frmivalenum Interval(uint32_t numerator, uint32_t denominator) {
    v4l2_frmivalenum interval{};
    interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
    interval.discrete = {numerator, denominator};
    return interval;
}

v4l2_frmivalenum IntervalRange(v4l2_fract fastest, v4l2_fract slowest) {
    v4l2_frmivalenum interval{};
    interval.type = V4L2_FRMIVAL_TYPE_CONTINUOUS;
    interval.stepwise = {fastest, slowest, {1, 1}};
    return interval;
}

TV4L2FrameSize Size(uint32_t width, uint32_t height, std::vector<v4l2_frmivalenum> intervals = {}) {
    TV4L2FrameSize size;
    size.size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    size.size.discrete = {width, height};
    size.intervals = std::move(intervals);
    return size;
}

TV4L2FrameSize SizeRange(uint32_t type, v4l2_frmsize_stepwise range, std::vector<v4l2_frmivalenum> intervals = {}) {
    TV4L2FrameSize size;
    size.size.type = type;
    size.size.stepwise = range;
    size.intervals = std::move(intervals);
    return size;
}

TV4L2Format Format(uint32_t pixelFormat, std::vector<TV4L2FrameSize> sizes) {
    TV4L2Format format;
    format.description.pixelformat = pixelFormat;
    format.sizes = std::move(sizes);
    return format;
}

std::string Describe(const TKVVideoFormat& f) {
    return "\"" + f.FormatName + "\" " + std::to_string(f.BitRate) + " [" + f.VideoStandards + "] " +
           std::to_string(f.MinWidth) + "x" + std::to_string(f.MinHeight) + ".." + std::to_string(f.MaxWidth) + "x" +
           std::to_string(f.MaxHeight) + " step " + std::to_string(f.WidthStep) + "x" + std::to_string(f.HeightStep);
}

TEST(V4L2FormatsTest, EnumerationsBecomeListedFormats) {
    const struct {
        const char* what;
        TV4L2Enumeration enumeration;
        std::vector<std::string> listed;
    } cases[] = {
        {"a camera's discrete sizes: one entry each, the bit rate at the fastest interval",
         {{Format(V4L2_PIX_FMT_YUYV, {Size(640, 480, {Interval(1, 30)}), Size(320, 240, {Interval(1, 15), Interval(1, 30)})}),
           Format(V4L2_PIX_FMT_MJPEG, {Size(1280, 720, {Interval(1, 30)})})},
          0},
         {"\"YUY2\" 147456000 [] 640x480..640x480 step 0x0", "\"YUY2\" 36864000 [] 320x240..320x240 step 0x0",
          "\"MJPG\" 0 [] 1280x720..1280x720 step 0x0"}},
        {"ranges of sizes keep their steps; a range of intervals counts from its shortest",
         {{Format(V4L2_PIX_FMT_YUV420,
                  {SizeRange(V4L2_FRMSIZE_TYPE_STEPWISE, {48, 352, 16, 32, 288, 8}, {IntervalRange({1, 25}, {1, 1})})}),
           Format(V4L2_PIX_FMT_BGR24, {SizeRange(V4L2_FRMSIZE_TYPE_CONTINUOUS, {1, 100, 1, 1, 50, 1})})},
          0},
         {"\"IYUV\" 30412800 [] 48x32..352x288 step 16x8", "\"RGB24\" 0 [] 1x1..100x50 step 1x1"}},
        {"layouts: the subtype of the same bytes, or no name",
         {{Format(V4L2_PIX_FMT_UYVY, {Size(2, 2)}), Format(V4L2_PIX_FMT_YVYU, {Size(2, 2)}),
           Format(V4L2_PIX_FMT_YVU420, {Size(2, 2)}), Format(V4L2_PIX_FMT_YVU410, {Size(2, 2)}),
           Format(V4L2_PIX_FMT_XBGR32, {Size(2, 2)}), Format(V4L2_PIX_FMT_ABGR32, {Size(2, 2)}),
           Format(V4L2_PIX_FMT_RGB565, {Size(2, 2)}), Format(V4L2_PIX_FMT_VUYA32, {Size(2, 2)}),
           Format(V4L2_PIX_FMT_GREY, {Size(2, 2)}), Format(V4L2_PIX_FMT_YUV410, {Size(2, 2)})},
          0},
         {"\"UYVY\" 0 [] 2x2..2x2 step 0x0", "\"YVYU\" 0 [] 2x2..2x2 step 0x0", "\"YV12\" 0 [] 2x2..2x2 step 0x0",
          "\"YVU9\" 0 [] 2x2..2x2 step 0x0", "\"RGB32\" 0 [] 2x2..2x2 step 0x0", "\"ARGB32\" 0 [] 2x2..2x2 step 0x0",
          "\"RGB565\" 0 [] 2x2..2x2 step 0x0", "\"AYUV\" 0 [] 2x2..2x2 step 0x0", "\"\" 0 [] 2x2..2x2 step 0x0",
          "\"\" 0 [] 2x2..2x2 step 0x0"}},
        {"intervals of zero never divide; huge rates stop at the field's largest; a format without sizes is listed",
         {{Format(V4L2_PIX_FMT_YUYV, {Size(64, 48, {Interval(0, 30), Interval(1, 0)})}),
           Format(V4L2_PIX_FMT_XBGR32, {Size(4096, 2160, {Interval(1, 120)})}), Format(V4L2_PIX_FMT_MJPEG, {})},
          0},
         {"\"YUY2\" 0 [] 64x48..64x48 step 0x0", "\"RGB32\" " + std::to_string(INT32_MAX) + " [] 4096x2160..4096x2160 step 0x0",
          "\"MJPG\" 0 [] 0x0..0x0 step 0x0"}},
        {"a tuner card's standards go with every format",
         {{Format(V4L2_PIX_FMT_UYVY, {Size(720, 576, {Interval(1, 25)})})}, V4L2_STD_PAL_BG | V4L2_STD_PAL_DK | V4L2_STD_SECAM_L},
         {"\"UYVY\" 165888000 [PAL_B PAL_D SECAM_L] 720x576..720x576 step 0x0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> listed;
        for (const TKVVideoFormat& format : ListV4L2Formats(c.enumeration)) listed.push_back(Describe(format));
        EXPECT_EQ(listed, c.listed);
    }
}

TEST(V4L2FormatsTest, StandardsAreNamedInTheirOrder) {
    const struct {
        v4l2_std_id standards;
        const char* names;
    } cases[] = {
        {0, ""},
        {V4L2_STD_PAL_G, ""},  // a standard without a name adds nothing
        {V4L2_STD_NTSC_M | V4L2_STD_NTSC_M_JP | V4L2_STD_NTSC_443 | V4L2_STD_PAL_Nc, "NTSC_M NTSC_M_J NTSC_433 PAL_N_COMBO"},
        {V4L2_STD_NTSC_M_KR, "NTSC_M"},
        {V4L2_STD_PAL_60 | V4L2_STD_PAL_N | V4L2_STD_PAL_M | V4L2_STD_PAL_I | V4L2_STD_PAL_H, "PAL_H PAL_I PAL_M PAL_N PAL_60"},
        {V4L2_STD_SECAM, "SECAM_B SECAM_D SECAM_G SECAM_H SECAM_K SECAM_K1 SECAM_L SECAM_L1"},
        {V4L2_STD_PAL_B1 | V4L2_STD_PAL_D1 | V4L2_STD_PAL_K, "PAL_B PAL_D"},
    };
    for (const auto& c : cases) EXPECT_EQ(V4L2StandardNames(c.standards), c.names) << std::hex << c.standards;
}

TEST(V4L2FormatsTest, WhatIsNoCaptureDeviceListsNothing) {
    const std::unique_ptr<TV4L2Device> notADevice = OpenV4L2Device("/dev/null");
    ASSERT_NE(notADevice, nullptr);
    const TV4L2Enumeration enumeration = EnumerateV4L2(*notADevice);
    EXPECT_TRUE(enumeration.formats.empty());
    EXPECT_EQ(enumeration.standards, 0u);
    EXPECT_TRUE(ListV4L2DeviceFormats(*notADevice).empty());
    EXPECT_EQ(OpenV4L2Device("/dev/no-such-camera"), nullptr);
}

}  // namespace
