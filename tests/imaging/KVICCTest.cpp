#include <gtest/gtest.h>

#include <cstdlib>

#include "imaging/core/KVICC.h"

namespace {

// Pixels in red, green, blue order covering the corners and the middle of the cube.
std::vector<uint8_t> SampleRGB() {
    std::vector<uint8_t> rgb;
    for (int r : {0, 1, 64, 128, 200, 255})
        for (int g : {0, 77, 128, 254, 255})
            for (int b : {0, 33, 128, 255}) rgb.insert(rgb.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
    return rgb;
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

std::vector<uint8_t> SwapRB(std::vector<uint8_t> pixels) {
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
    return pixels;
}

}  // namespace

TEST(KVICC, SRGBToSRGBIsIdentity) {
    TKVICC in, out;
    ASSERT_TRUE(in.LoadSRGB());
    ASSERT_TRUE(out.LoadSRGB());
    const std::vector<uint8_t> rgb = SampleRGB();
    const int64_t count = int64_t(rgb.size() / 3);
    const std::vector<uint8_t> bgr = SwapRB(rgb);

    std::vector<uint8_t> result(rgb.size());
    ASSERT_TRUE(in.Transform(out, kvICC_RGB, count, result.data(), rgb.data(), 0, 0, kvICC_BGR));
    EXPECT_LE(MaxDifference(result, bgr), 1);
    EXPECT_TRUE(in.Used());

    const std::vector<uint8_t> sourceCopy = bgr;
    ASSERT_TRUE(in.Transform(out, kvICC_BGR, count, result.data(), bgr.data(), 0, 0, kvICC_BGR));
    EXPECT_LE(MaxDifference(result, bgr), 1);
    EXPECT_EQ(bgr, sourceCopy);  // the source row stays as it was

    // Big-endian 16-bit samples, value v stored as v * 257.
    std::vector<uint8_t> wide;
    for (uint8_t v : rgb) wide.insert(wide.end(), {v, v});
    ASSERT_TRUE(in.Transform(out, kvICC_RGB16BE, count, result.data(), wide.data(), 0, 0, kvICC_BGR));
    EXPECT_LE(MaxDifference(result, bgr), 1);

    in.Clear();
    EXPECT_FALSE(in.Used());
    EXPECT_FALSE(in.IsValid());
}

TEST(KVICC, UnusableProfilesAndLayoutsReportFailure) {
    TKVICC srgb;
    ASSERT_TRUE(srgb.LoadSRGB());

    TKVICC bad;
    const std::string notAProfile(200, 'x');
    EXPECT_FALSE(bad.LoadFromBuffer(notAProfile.data(), int64_t(notAProfile.size())));
    EXPECT_FALSE(bad.IsValid());
    EXPECT_TRUE(bad.Data().empty());

    const std::vector<uint8_t>& bytes = srgb.Data();
    ASSERT_GT(bytes.size(), 200u);
    for (size_t cut : {size_t(0), size_t(60), size_t(128), bytes.size() / 2, bytes.size() - 1}) {
        std::vector<uint8_t> truncated(bytes.begin(), bytes.begin() + long(cut));
        EXPECT_FALSE(bad.LoadFromBuffer(truncated.data(), int64_t(truncated.size()))) << cut;
        EXPECT_FALSE(bad.IsValid()) << cut;
    }

    std::vector<uint8_t> pixel = {10, 20, 30, 40, 50, 60}, out(6, 0xAA);
    EXPECT_FALSE(bad.Transform(srgb, kvICC_RGB, 2, out.data(), pixel.data(), 0, 0, kvICC_BGR));
    EXPECT_FALSE(srgb.Transform(bad, kvICC_RGB, 2, out.data(), pixel.data(), 0, 0, kvICC_BGR));
    TKVICC other;
    ASSERT_TRUE(other.LoadSRGB());
    EXPECT_FALSE(srgb.Transform(other, kvICC_RGB, 2, out.data(), pixel.data(), 0, 0, kvICC_RGB));
    EXPECT_FALSE(srgb.Transform(other, 42, 2, out.data(), pixel.data(), 0, 0, kvICC_BGR));
    // A gray layout does not fit an RGB profile.
    EXPECT_FALSE(srgb.Transform(other, kvICC_Gray, 2, out.data(), pixel.data(), 0, 0, kvICC_BGR));
    EXPECT_EQ(out, std::vector<uint8_t>(6, 0xAA));
    EXPECT_FALSE(srgb.Used());
    // After the failures the cache is rebuilt for a layout that fits.
    EXPECT_TRUE(srgb.Transform(other, kvICC_RGB, 2, out.data(), pixel.data(), 0, 0, kvICC_BGR));
}

TEST(KVICC, AssignCopiesTheProfile) {
    TKVICC srgb, copy, empty;
    ASSERT_TRUE(srgb.LoadSRGB());
    EXPECT_TRUE(copy.Assign(srgb));
    EXPECT_TRUE(copy.IsValid());
    EXPECT_EQ(copy.Data(), srgb.Data());

    EXPECT_FALSE(copy.Assign(empty));
    EXPECT_FALSE(copy.IsValid());

    TKVICC fromBytes;
    EXPECT_TRUE(fromBytes.LoadFromBuffer(srgb.Data().data(), int64_t(srgb.Data().size())));
}
