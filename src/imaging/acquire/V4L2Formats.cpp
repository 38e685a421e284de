#include "imaging/acquire/V4L2Formats.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "imaging/acquire/V4L2Device.h"

namespace {

// A driver that never ends a list must not keep us asking.
constexpr uint32_t MostEntries = 256;

struct TSubtype {
    uint32_t pixelFormat;
    const char* name;
    int bitsPerPixel;  // 0: compressed
};

// The V4L2 layouts that have a subtype of the same bytes.
constexpr TSubtype Subtypes[] = {
    {V4L2_PIX_FMT_YUYV, "YUY2", 16},      {V4L2_PIX_FMT_YVYU, "YVYU", 16},     {V4L2_PIX_FMT_UYVY, "UYVY", 16},
    {V4L2_PIX_FMT_Y41P, "Y41P", 12},      {V4L2_PIX_FMT_YUV420, "IYUV", 12},   {V4L2_PIX_FMT_YVU420, "YV12", 12},
    {V4L2_PIX_FMT_YVU410, "YVU9", 9},     {V4L2_PIX_FMT_VUYA32, "AYUV", 32},   {V4L2_PIX_FMT_MJPEG, "MJPG", 0},
    {V4L2_PIX_FMT_JPEG, "MJPG", 0},       {V4L2_PIX_FMT_DV, "DVSD", 0},        {V4L2_PIX_FMT_RGB555, "RGB555", 16},
    {V4L2_PIX_FMT_RGB565, "RGB565", 16},  {V4L2_PIX_FMT_BGR24, "RGB24", 24},   {V4L2_PIX_FMT_BGR32, "RGB32", 32},
    {V4L2_PIX_FMT_XBGR32, "RGB32", 32},   {V4L2_PIX_FMT_ABGR32, "ARGB32", 32}, {V4L2_PIX_FMT_ARGB555, "ARGB1555", 16},
    {V4L2_PIX_FMT_ARGB444, "ARGB4444", 16},
};

const TSubtype* SubtypeOf(uint32_t pixelFormat) {
    for (const TSubtype& subtype : Subtypes)
        if (subtype.pixelFormat == pixelFormat) return &subtype;
    return nullptr;
}

// In the order their names are listed.
struct TStandard {
    v4l2_std_id bits;
    const char* name;
};
constexpr TStandard Standards[] = {
    {V4L2_STD_NTSC_M | V4L2_STD_NTSC_M_KR, "NTSC_M"},
    {V4L2_STD_NTSC_M_JP, "NTSC_M_J"},
    {V4L2_STD_NTSC_443, "NTSC_433"},
    {V4L2_STD_PAL_B | V4L2_STD_PAL_B1, "PAL_B"},
    {V4L2_STD_PAL_D | V4L2_STD_PAL_D1 | V4L2_STD_PAL_K, "PAL_D"},
    {V4L2_STD_PAL_H, "PAL_H"},
    {V4L2_STD_PAL_I, "PAL_I"},
    {V4L2_STD_PAL_M, "PAL_M"},
    {V4L2_STD_PAL_N, "PAL_N"},
    {V4L2_STD_PAL_60, "PAL_60"},
    {V4L2_STD_SECAM_B, "SECAM_B"},
    {V4L2_STD_SECAM_D, "SECAM_D"},
    {V4L2_STD_SECAM_G, "SECAM_G"},
    {V4L2_STD_SECAM_H, "SECAM_H"},
    {V4L2_STD_SECAM_K, "SECAM_K"},
    {V4L2_STD_SECAM_K1, "SECAM_K1"},
    {V4L2_STD_SECAM_L, "SECAM_L"},
    {V4L2_STD_SECAM_LC, "SECAM_L1"},
    {V4L2_STD_PAL_Nc, "PAL_N_COMBO"},
};

// Frames per second of the shortest interval; 0 when none is usable.
double FastestRate(const std::vector<v4l2_frmivalenum>& intervals) {
    double fastest = 0;
    for (const v4l2_frmivalenum& interval : intervals) {
        const v4l2_fract shortest = interval.type == V4L2_FRMIVAL_TYPE_DISCRETE ? interval.discrete : interval.stepwise.min;
        if (shortest.numerator > 0 && shortest.denominator > 0)
            fastest = std::max(fastest, double(shortest.denominator) / shortest.numerator);
    }
    return fastest;
}

int32_t BitRate(const TSubtype* subtype, uint32_t width, uint32_t height, double rate) {
    if (!subtype) return 0;
    const double bits = double(subtype->bitsPerPixel) * width * height * rate;
    return int32_t(std::min<double>(bits, INT32_MAX));
}

int32_t Side(uint32_t value) { return int32_t(std::min<uint32_t>(value, INT32_MAX)); }

TKVVideoFormat Listed(const TSubtype* subtype, const std::string& standards, const TV4L2FrameSize& size) {
    TKVVideoFormat format;
    format.FormatName = subtype ? subtype->name : "";
    format.VideoStandards = standards;
    const v4l2_frmsizeenum& s = size.size;
    if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        format.MinWidth = format.MaxWidth = Side(s.discrete.width);
        format.MinHeight = format.MaxHeight = Side(s.discrete.height);
    } else {
        format.MinWidth = Side(s.stepwise.min_width);
        format.MaxWidth = Side(s.stepwise.max_width);
        format.MinHeight = Side(s.stepwise.min_height);
        format.MaxHeight = Side(s.stepwise.max_height);
        format.WidthStep = Side(s.stepwise.step_width);
        format.HeightStep = Side(s.stepwise.step_height);
    }
    format.BitRate = BitRate(subtype, uint32_t(format.MaxWidth), uint32_t(format.MaxHeight), FastestRate(size.intervals));
    return format;
}

std::vector<v4l2_frmivalenum> IntervalsOf(TV4L2Device& device, uint32_t pixelFormat, uint32_t width, uint32_t height) {
    std::vector<v4l2_frmivalenum> intervals;
    for (uint32_t index = 0; index < MostEntries; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = pixelFormat;
        interval.width = width;
        interval.height = height;
        if (device.Ask(VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) break;
        intervals.push_back(interval);
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;  // a range is the only entry
    }
    return intervals;
}

std::vector<TV4L2FrameSize> SizesOf(TV4L2Device& device, uint32_t pixelFormat) {
    std::vector<TV4L2FrameSize> sizes;
    for (uint32_t index = 0; index < MostEntries; ++index) {
        TV4L2FrameSize size;
        size.size.index = index;
        size.size.pixel_format = pixelFormat;
        if (device.Ask(VIDIOC_ENUM_FRAMESIZES, &size.size) < 0) break;
        const bool discrete = size.size.type == V4L2_FRMSIZE_TYPE_DISCRETE;
        size.intervals = IntervalsOf(device, pixelFormat, discrete ? size.size.discrete.width : size.size.stepwise.max_width,
                                     discrete ? size.size.discrete.height : size.size.stepwise.max_height);
        sizes.push_back(size);
        if (!discrete) break;  // a range is the only entry
    }
    return sizes;
}

}  // namespace

TV4L2Enumeration EnumerateV4L2(TV4L2Device& device) {
    TV4L2Enumeration enumeration;
    for (uint32_t index = 0; index < MostEntries; ++index) {
        TV4L2Format format;
        format.description.index = index;
        format.description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (device.Ask(VIDIOC_ENUM_FMT, &format.description) < 0) break;
        format.sizes = SizesOf(device, format.description.pixelformat);
        enumeration.formats.push_back(format);
    }
    for (uint32_t index = 0; index < MostEntries; ++index) {
        v4l2_standard standard{};
        standard.index = index;
        if (device.Ask(VIDIOC_ENUMSTD, &standard) < 0) break;
        enumeration.standards |= standard.id;
    }
    return enumeration;
}

std::vector<TKVVideoFormat> ListV4L2DeviceFormats(TV4L2Device& device) {
    return ListV4L2Formats(EnumerateV4L2(device));
}

std::vector<TKVVideoFormat> ListV4L2Formats(const TV4L2Enumeration& enumeration) {
    const std::string standards = V4L2StandardNames(enumeration.standards);
    std::vector<TKVVideoFormat> listed;
    for (const TV4L2Format& format : enumeration.formats) {
        const TSubtype* subtype = SubtypeOf(format.description.pixelformat);
        if (format.sizes.empty()) listed.push_back(Listed(subtype, standards, TV4L2FrameSize{}));
        for (const TV4L2FrameSize& size : format.sizes) listed.push_back(Listed(subtype, standards, size));
    }
    return listed;
}

std::string V4L2StandardNames(v4l2_std_id standards) {
    std::string names;
    for (const TStandard& standard : Standards)
        if (standards & standard.bits) {
            if (!names.empty()) names += ' ';
            names += standard.name;
        }
    return names;
}
