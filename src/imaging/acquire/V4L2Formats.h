#pragma once
// The output formats of a V4L2 device: what its ioctls enumerate, and that enumeration turned into
// the listed formats of a capture.
#include <linux/videodev2.h>

#include <string>
#include <vector>

#include "imaging/acquire/Capture.h"

class TV4L2Device;

struct TV4L2FrameSize {
    v4l2_frmsizeenum size{};
    // The intervals of the size (of its largest size when it is a range).
    std::vector<v4l2_frmivalenum> intervals;
};

struct TV4L2Format {
    v4l2_fmtdesc description{};
    std::vector<TV4L2FrameSize> sizes;
};

struct TV4L2Enumeration {
    std::vector<TV4L2Format> formats;
    // The standards of the current input; 0 for a camera.
    v4l2_std_id standards = 0;
};

// Asks the device for its formats, their sizes and intervals, and its standards; empty when it is
// no V4L2 capture device.
TV4L2Enumeration EnumerateV4L2(TV4L2Device& device);

// The listed formats of the device.
std::vector<TKVVideoFormat> ListV4L2DeviceFormats(TV4L2Device& device);

// One listed format per discrete size and one per range of sizes; a format whose sizes the device
// does not tell is listed without sizes. The bit rate is that of the fastest interval at the
// largest size, 0 for compressed formats and where no interval is known.
std::vector<TKVVideoFormat> ListV4L2Formats(const TV4L2Enumeration& enumeration);

// The names of the analogue standards, separated by one blank.
std::string V4L2StandardNames(v4l2_std_id standards);
