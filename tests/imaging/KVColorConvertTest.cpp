#include <gtest/gtest.h>

#include <vector>

#include "imaging/core/KVICC.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVColorConvert.h"

TEST(KVColorConvert, RowsBetweenColourSpaces) {
    struct Case {
        const char* what;
        int space, format;
        std::vector<uint8_t> source, expected;
    };
    const Case cases[] = {
        {"RGB to BGR", kvICC_RGB, kvccBGR, {10, 20, 30, 1, 2, 3}, {30, 20, 10, 3, 2, 1}},
        {"BGR to weighted gray", kvICC_BGR, kvccGray, {100, 0, 0, 0, 100, 0, 0, 0, 100}, {8, 71, 21}},
        {"BGR to CMYK", kvICC_BGR, kvccCMYK, {0, 0, 128}, {255, 0, 0, 128}},
        // Adobe's inverted CMYK: each colour byte times K.
        {"inverted CMYK to BGR", kvICC_CMYKInverted, kvccBGR, {255, 128, 0, 255, 255, 255, 255, 128}, {0, 128, 255, 128, 128, 128}},
        {"16-bit little-endian RGB", kvICC_RGB16LE, kvccBGR, {0x11, 0xA0, 0x22, 0xB0, 0x33, 0xC0}, {0xC0, 0xB0, 0xA0}},
        {"16-bit big-endian RGB", kvICC_RGB16BE, kvccBGR, {0xA0, 0x11, 0xB0, 0x22, 0xC0, 0x33}, {0xC0, 0xB0, 0xA0}},
        {"unknown pair untouched", kvICC_RGB, kvccGray, {1, 2, 3}, {7}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(c.expected.size(), 7);
        const int64_t pixels = int64_t(c.expected.size()) / (c.format == kvccGray ? 1 : c.format == kvccCMYK ? 4 : 3);
        KVDefaultColorConvert(c.source.data(), c.space, out.data(), nullptr, pixels, c.format);
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(KVColorConvert, ProfilesApplyOnlyWithColourManagement) {
    TIOParamsVals params(nullptr);
    params.GetInputICC().LoadSRGB();
    params.GetOutputICC();
    const std::vector<uint8_t> rgb = {200, 100, 50};
    std::vector<uint8_t> out(3);
    KVDefaultColorConvert(rgb.data(), kvICC_RGB, out.data(), &params, 1, kvccBGR);
    EXPECT_FALSE(params.InputICC()->Used());
    EXPECT_EQ(out, (std::vector<uint8_t>{50, 100, 200}));
    KVColorManagement = true;
    KVDefaultColorConvert(rgb.data(), kvICC_RGB, out.data(), &params, 1, kvccBGR);
    KVColorManagement = false;
    EXPECT_TRUE(params.InputICC()->Used());
    EXPECT_NEAR(out[0], 50, 1);  // sRGB to sRGB
    EXPECT_NEAR(out[2], 200, 1);
}
