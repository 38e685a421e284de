#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "imaging/core/KVICC.h"
#include "TestSupport.h"

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

// A version 2 matrix-shaper RGB profile with sRGB's primaries (adapted to D50) and one gamma
// for all three channels, built byte by byte so that the test needs no profile files.
std::vector<uint8_t> MatrixShaperProfile(double gamma) {
    std::vector<uint8_t> p(128, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) p[at + size_t(k)] = uint8_t(v >> (24 - 8 * k));
    };
    auto putText = [&](size_t at, const char* text) { std::copy(text, text + 4, p.begin() + long(at)); };
    auto fixed = [](double v) { return uint32_t(int32_t(std::lround(v * 65536))); };
    put32(8, 0x02100000);
    putText(12, "mntr");
    putText(16, "RGB ");
    putText(20, "XYZ ");
    putText(36, "acsp");
    put32(68, fixed(0.9642));
    put32(72, fixed(1.0));
    put32(76, fixed(0.8249));
    struct Tag {
        const char* signature;
        std::vector<double> xyz;  // empty for the tone curve
    };
    const Tag tags[] = {{"wtpt", {0.9642, 1.0, 0.8249}}, {"rXYZ", {0.4361, 0.2225, 0.0139}},
                        {"gXYZ", {0.3851, 0.7169, 0.0971}}, {"bXYZ", {0.1431, 0.0606, 0.7141}},
                        {"rTRC", {}}, {"gTRC", {}}, {"bTRC", {}}};
    const size_t count = std::size(tags);
    p.resize(132 + 12 * count, 0);
    put32(128, uint32_t(count));
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = 132 + 12 * i, at = p.size();
        if (!tags[i].xyz.empty()) {
            p.resize(at + 20, 0);
            putText(at, "XYZ ");
            for (size_t k = 0; k < 3; ++k) put32(at + 8 + 4 * k, fixed(tags[i].xyz[k]));
        } else {
            p.resize(at + 16, 0);
            putText(at, "curv");
            put32(at + 8, 1);
            const auto g = uint16_t(std::lround(gamma * 256));
            p[at + 12] = uint8_t(g >> 8);
            p[at + 13] = uint8_t(g);
        }
        putText(entry, tags[i].signature);
        put32(entry + 4, uint32_t(at));
        put32(entry + 8, tags[i].xyz.empty() ? 14 : 20);
    }
    put32(0, uint32_t(p.size()));
    return p;
}

// The pixels as ImageMagick converts them from the sRGB profile into the target profile.
std::vector<uint8_t> ConvertedByImageMagick(const std::vector<uint8_t>& rgb, const TKVICC& source,
                                            const std::vector<uint8_t>& target) {
    TScratchFolder folder;
    const int count = int(rgb.size() / 3);
    WriteFile(folder.Path("in.ppm"), "P6\n" + std::to_string(count) + " 1\n255\n" + std::string(rgb.begin(), rgb.end()));
    WriteFile(folder.Path("source.icc"), std::string(source.Data().begin(), source.Data().end()));
    WriteFile(folder.Path("target.icc"), std::string(target.begin(), target.end()));
    const TCommandResult result =
        RunTool("convert " + Quoted(folder.Path("in.ppm")) + " -profile " + Quoted(folder.Path("source.icc")) +
                    " -profile " + Quoted(folder.Path("target.icc")) + " -depth 8 ppm:-",
                false);
    const TRgbImage image = ParsePpm(result.output);
    EXPECT_EQ(image.width, count) << result.output;
    return image.pixels;
}

}  // namespace

// The transform cache must follow the profile loaded into the target, not the target object.
TEST(KVICC, EachTargetProfileGetsItsOwnTransform) {
    TKVICC source, target;
    ASSERT_TRUE(source.LoadSRGB());
    const std::vector<uint8_t> rgb = SampleRGB();
    const int64_t count = int64_t(rgb.size() / 3);
    std::vector<uint8_t> previous;
    for (double gamma : {1.0, 1.8, 1.0}) {
        SCOPED_TRACE(gamma);
        const std::vector<uint8_t> profile = MatrixShaperProfile(gamma);
        ASSERT_TRUE(target.LoadFromBuffer(profile.data(), int64_t(profile.size())));
        std::vector<uint8_t> bgr(rgb.size());
        ASSERT_TRUE(source.Transform(target, kvICC_RGB, count, bgr.data(), rgb.data(), 0, 0, kvICC_BGR));
        const std::vector<uint8_t> expected = ConvertedByImageMagick(rgb, source, profile);
        ASSERT_EQ(expected.size(), rgb.size());
        EXPECT_LE(MaxDifference(SwapRB(bgr), expected), 2);
        EXPECT_NE(bgr, previous);
        previous = bgr;
    }
}

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
