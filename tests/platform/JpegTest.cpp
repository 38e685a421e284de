#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "TestSupport.h"
#include "platform/Jpeg.h"
#include "platform/PictureLimits.h"

namespace {

std::vector<uint8_t> SmallJpeg() {
    TBitmap bitmap;
    bitmap.SetSize(16, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) bitmap.SetPixel(x, y, RGB(x * 15, y * 30, 128));
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    return jpeg.Data();
}

// The same data with the frame header claiming another size.
std::vector<uint8_t> WithFrameSize(std::vector<uint8_t> data, int width, int height) {
    const uint8_t frame[] = {0xFF, 0xC0};
    const auto at = std::search(data.begin(), data.end(), std::begin(frame), std::end(frame)) - data.begin();
    data.at(size_t(at) + 5) = uint8_t(height >> 8), data.at(size_t(at) + 6) = uint8_t(height);
    data.at(size_t(at) + 7) = uint8_t(width >> 8), data.at(size_t(at) + 8) = uint8_t(width);
    return data;
}

}  // namespace

// A frame header is a claim of a few bytes: the size is checked against the picture limits before
// the bitmap for it is allocated.
TEST(JpegImage, DecodingChecksTheFrameSizeAgainstThePictureLimits) {
    TPictureLimits smallSides;
    smallSides.maxSide = 10;
    const struct {
        const char* name;
        std::vector<uint8_t> data;
        std::optional<TPictureLimits> limits;
        const char* problem;  // empty when the picture decodes
    } cases[] = {
        {"within the limits", SmallJpeg(), {}, ""},
        {"more pixels than the limit", WithFrameSize(SmallJpeg(), 64528, 16641), {}, "exceeds 536870912 pixels"},
        {"more than the data can hold", WithFrameSize(SmallJpeg(), 20000, 20000), {}, "cannot come from"},
        {"a side beyond lowered limits", SmallJpeg(), smallSides, "largest side of 10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<TPictureLimitsOverride> lowered;
        if (c.limits) lowered.emplace(*c.limits);
        TMemoryStream stream;
        stream.WriteBuffer(c.data.data(), int64_t(c.data.size()));
        stream.SetPosition(0);
        TJPEGImage jpeg;
        jpeg.LoadFromStream(stream);
        TBitmap decoded;
        decoded.SetSize(3, 2);
        const std::string message = MessageOf([&] { jpeg.AssignTo(decoded); });
        if (*c.problem == 0) {
            EXPECT_EQ(message, "(no exception)");
            EXPECT_EQ(decoded.Width(), 16);
            EXPECT_EQ(decoded.Height(), 8);
        } else {
            EXPECT_TRUE(Contains(message, c.problem)) << message;
            EXPECT_EQ(decoded.Width(), 3);  // left as it was
        }
    }
}
