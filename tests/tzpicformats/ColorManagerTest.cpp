#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "TestSupport.h"
#include "tzpicformats/ColorManager.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TConversionCase {
    const char* name;
    TColorManagerScheme source;
    uint8_t sourceDepth;
    TColorManagerScheme target;
    uint8_t targetDepth;
    TConversionOptions sourceOptions, targetOptions;
    Bytes input;
    int count;
    Bytes targetBefore;  // the target row before the call (untouched bytes must stay)
    Bytes expected;
    uint8_t mask = 0xFF;
};

TEST(ColorManager, ConvertsEverySchemeAndDepthToExactPixels) {
    const TConversionCase cases[] = {
        {"rgb8 to bgr8", smRGB, 8, smBGR, 8, 0, 0, {10, 20, 30}, 1, Bytes(3), {30, 20, 10}},
        {"rgb8 to rgb8", smRGB, 8, smRGB, 8, 0, 0, {10, 20, 30}, 1, Bytes(3), {10, 20, 30}},
        {"bgr8 to rgb8", smBGR, 8, smRGB, 8, 0, 0, {10, 20, 30}, 1, Bytes(3), {30, 20, 10}},
        {"rgba8 to bgra8 keeps alpha", smRGBA, 8, smBGRA, 8, 0, 0, {10, 20, 30, 40}, 1, Bytes(4), {30, 20, 10, 40}},
        {"rgb8 to bgra8 leaves alpha", smRGB, 8, smBGRA, 8, 0, 0, {10, 20, 30}, 1, {7, 7, 7, 7}, {30, 20, 10, 7}},
        {"bgr8 gamma", smBGR, 8, smBGR, 8, 0, cvoApplyGamma, {0, 64, 128}, 1, Bytes(3), {0, 136, 186}},
        {"rgb16 big-endian to bgr8", smRGB, 16, smBGR, 8, cvoSwapBytes, 0, {0xFF, 0xFF, 0x80, 0x00, 0, 0}, 1,
         Bytes(3), {0, 127, 255}},
        {"rgb16 to bgr16", smRGB, 16, smBGR, 16, 0, 0, {1, 2, 3, 4, 5, 6}, 1, Bytes(6), {5, 6, 3, 4, 1, 2}},
        {"rgb16 big-endian to rgb16", smRGB, 16, smRGB, 16, cvoSwapBytes, 0, {1, 2, 3, 4, 5, 6}, 1, Bytes(6),
         {2, 1, 4, 3, 6, 5}},
        {"rgb8 to rgb16", smRGB, 8, smRGB, 16, 0, 0, {255, 1, 0}, 1, Bytes(6), {0xFF, 0xFF, 1, 1, 0, 0}},
        {"rgba16 to bgra8 scales alpha", smRGBA, 16, smBGRA, 8, 0, 0, {0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x80}, 1,
         Bytes(4), {255, 0, 0, 127}},
        {"gray16 to gray8", smGray, 16, smGray, 8, 0, 0, {0x00, 0x80}, 1, Bytes(1), {127}},
        {"gray16 big-endian to gray16", smGray, 16, smGray, 16, cvoSwapBytes, 0, {0x12, 0x34}, 1, Bytes(2),
         {0x34, 0x12}},
        {"gray8 to gray16", smGray, 8, smGray, 16, 0, 0, {2}, 1, Bytes(2), {2, 2}},
        {"gray+alpha8 to gray8 drops alpha", smGrayAlpha, 8, smGray, 8, 0, 0, {100, 7, 200, 9}, 2, Bytes(2),
         {100, 200}},
        {"gray1 to gray8", smGray, 1, smGray, 8, 0, 0, {0b10100000}, 3, Bytes(3), {255, 0, 255}},
        {"indexed4 to indexed8 scales 17v", smIndexed, 4, smIndexed, 8, 0, 0, {0x1F}, 2, Bytes(2), {17, 255}},
        {"indexed8 to indexed4", smIndexed, 8, smIndexed, 4, 0, 0, {255, 17, 0}, 3, Bytes(2), {0xF1, 0x00}},
        {"indexed1 copied whole", smIndexed, 1, smIndexed, 1, 0, 0, {0xA5, 0x80}, 9, Bytes(2), {0xA5, 0x80}},
        {"indexed16 to indexed8", smIndexed, 16, smIndexed, 8, 0, 0, {0xFF, 0xFF, 0x01, 0x01}, 2, Bytes(2),
         {255, 1}},
        {"indexed8 to indexed16", smIndexed, 8, smIndexed, 16, 0, 0, {1}, 1, Bytes(2), {1, 1}},
        {"indexed16 swapped", smIndexed, 16, smIndexed, 16, cvoSwapBytes, 0, {1, 2}, 1, Bytes(2), {2, 1}},
        {"indexed8 mask 0xAA", smIndexed, 8, smIndexed, 8, 0, 0, {1, 2, 3, 4}, 8, Bytes(8, 9),
         {1, 9, 2, 9, 3, 9, 4, 9}, 0xAA},
        {"indexed4 mask 0xAA keeps other nibbles", smIndexed, 4, smIndexed, 4, 0, 0, {0x12}, 4, {0xFF, 0xFF},
         {0x1F, 0x2F}, 0xAA},
        {"cmyk8 to bgr8", smCMYK, 8, smBGR, 8, 0, 0, {0, 255, 128, 0, 100, 0, 0, 128}, 2, Bytes(6),
         {127, 0, 255, 127, 127, 77}},
        {"cmyk8 black", smCMYK, 8, smRGB, 8, 0, 0, {0, 0, 0, 255}, 1, Bytes(3), {0, 0, 0}},
        {"cmyk16 to rgb8", smCMYK, 16, smRGB, 8, 0, 0, {0, 0, 0xFF, 0xFF, 0, 0, 0, 0}, 1, Bytes(3), {255, 0, 255}},
        {"cmyk16 to rgb16", smCMYK, 16, smRGB, 16, 0, 0, {0, 0, 0xFF, 0xFF, 0, 0, 0, 0}, 1, Bytes(6),
         {0xFF, 0xFF, 0, 0, 0xFF, 0xFF}},
        {"lab8 white", smLab, 8, smBGR, 8, cvoLabByteRange | cvoLabChromaOffset, 0, {255, 128, 128}, 1, Bytes(3),
         {255, 255, 255}},
        {"lab8 L 7 takes the linear branch", smLab, 8, smRGB, 8, cvoLabChromaOffset, 0, {7, 128, 128}, 1, Bytes(3),
         {2, 2, 2}},
        {"lab8 signed chroma", smLab, 8, smRGB, 8, 0, 0, {0, 0, 0}, 1, Bytes(3), {0, 0, 0}},
        {"ycbcr8 to rgb8", smYCbCr, 8, smRGB, 8, 0, 0, {100, 128, 128, 100, 128, 228}, 2, Bytes(6),
         {100, 100, 100, 240, 29, 100}},
        {"ycbcr8 to bgr16", smYCbCr, 8, smBGR, 16, 0, 0, {1, 128, 128}, 1, Bytes(6), {1, 1, 1, 1, 1, 1}},
        {"photoycc8 neutral", smPhotoYCC, 8, smBGR, 8, 0, 0, {100, 156, 137}, 1, Bytes(3), {100, 100, 100}},
        // 1.3584 x 65535 and its chroma sums: red and blue above the range, green 49959.
        {"photoycc16 clipped", smPhotoYCC, 16, smRGB, 16, 0, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1, Bytes(6),
         {0xFF, 0xFF, 0x27, 0xC3, 0xFF, 0xFF}},
    };
    for (const TConversionCase& c : cases) {
        SCOPED_TRACE(c.name);
        TColorManager manager;
        manager.SetSourceScheme(c.source);
        manager.SetSourceDepth(c.sourceDepth);
        manager.SetTargetScheme(c.target);
        manager.SetTargetDepth(c.targetDepth);
        manager.SourceOptions = c.sourceOptions;
        manager.TargetOptions = c.targetOptions;
        Bytes target = c.targetBefore;
        const uint8_t* sources[] = {c.input.data()};
        manager.TransformRow(sources, target.data(), c.count, c.mask);
        EXPECT_EQ(target, c.expected);
    }
}

TEST(ColorManager, GathersPlanarSamples) {
    TColorManager manager;
    manager.SetSourceScheme(smRGB);
    const Bytes red{1, 2}, green{3, 4}, blue{5, 6};
    const uint8_t* planes[] = {red.data(), green.data(), blue.data()};
    Bytes target(6);
    manager.TransformRow(planes, target.data(), 2);
    EXPECT_EQ(target, (Bytes{5, 3, 1, 6, 4, 2}));

    manager.SetSourceScheme(smCMYK);
    const Bytes k{255, 0};
    const uint8_t* inks[] = {red.data(), green.data(), blue.data(), k.data()};
    manager.TransformRow(inks, target.data(), 2);
    EXPECT_EQ(target, (Bytes{0, 0, 0, 249, 251, 253}));
}

TEST(ColorManager, RefusesWhatItCannotConvert) {
    struct TRefusal {
        TColorManagerScheme source;
        uint8_t sourceDepth;
        TColorManagerScheme target;
        uint8_t targetDepth;
        const char* message;
    };
    const char* const mixed = "Conversion between indexed and non-indexed pixel formats is not supported.";
    const char* const none = "Color conversion failed. Could not find a proper method.";
    const TRefusal refusals[] = {
        {smIndexed, 8, smRGB, 8, mixed},
        {smRGB, 8, smIndexed, 8, mixed},
        {smGray, 8, smGrayAlpha, 8, mixed},
        {smCMY, 8, smBGR, 8, none},
        {smNone, 8, smBGR, 8, none},
        {smRGB, 8, smCMYK, 8, none},
        {smRGB, 4, smBGR, 8, none},
        {smRGB, 8, smBGR, 12, none},
        {smLab, 5, smBGR, 8, none},
        {smGray, 4, smGray, 16, none},
        {smGrayAlpha, 4, smGray, 8, none},
        {smIndexed, 12, smIndexed, 8, none},
    };
    for (const TRefusal& r : refusals) {
        SCOPED_TRACE(testing::Message() << int(r.source) << "/" << int(r.sourceDepth) << " to " << int(r.target)
                                        << "/" << int(r.targetDepth));
        TColorManager manager;
        manager.SetSourceScheme(r.source);
        manager.SetSourceDepth(r.sourceDepth);
        manager.SetTargetScheme(r.target);
        manager.SetTargetDepth(r.targetDepth);
        Bytes row(16), target(16, 0x5A);
        const uint8_t* sources[] = {row.data()};
        EXPECT_EQ(MessageOf([&] { manager.TransformRow(sources, target.data(), 2); }), r.message);
        EXPECT_EQ(target, Bytes(16, 0x5A));
    }
    TColorManager accepting;
    accepting.SetSourceScheme(smGrayAlpha);
    accepting.SetTargetScheme(smGray);
    Bytes row(4), target(2);
    const uint8_t* sources[] = {row.data()};
    EXPECT_EQ(MessageOf([&] { accepting.TransformRow(sources, target.data(), 2); }), "(no exception)");
}

TEST(ColorManager, SettersValidateDepthsCountsAndSubsampling) {
    TColorManager manager;
    const std::string depth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
    EXPECT_EQ(MessageOf([&] { manager.SetSourceDepth(0); }), depth);
    EXPECT_EQ(MessageOf([&] { manager.SetTargetDepth(17); }), depth);
    EXPECT_EQ(MessageOf([&] { manager.SetSourceDepth(3); }), "(no exception)");
    EXPECT_EQ(MessageOf([&] { manager.SetTargetSampleCount(5); }),
              "Sample count per pixel does not correspond to the given color scheme.");
    EXPECT_EQ(MessageOf([&] { manager.SetSourceSampleCount(0); }),
              "Sample count per pixel does not correspond to the given color scheme.");
    const float none[] = {0.299f};
    EXPECT_EQ(MessageOf([&] { manager.SetYCbCrLayout(none, 3, 1); }),
              "Subsampling value is invalid. Allowed are 1, 2 and 4.");
    EXPECT_EQ(MessageOf([&] { manager.SetYCbCrLayout(none, 2, 4); }),
              "Vertical subsampling value must be <= horizontal subsampling value.");

    // Refused layouts still store the coefficients: red's weight 0.5 makes Cr count once.
    TColorManager ycbcr;
    const float coefficients[] = {0.5f, 0.25f, 0.25f};
    EXPECT_ANY_THROW(ycbcr.SetYCbCrLayout(coefficients, 2, 4));
    ycbcr.SetSourceScheme(smYCbCr);
    ycbcr.SetTargetScheme(smRGB);
    const Bytes row{100, 128, 228};
    Bytes target(3);
    const uint8_t* sources[] = {row.data()};
    ycbcr.TransformRow(sources, target.data(), 1);
    EXPECT_EQ(target[0], 200);
}

TEST(ColorManager, RefusesYCbCrCoefficientsNoPictureUses) {
    const std::string refused = "YCbCr coefficients are invalid. Each must lie between 0 and 1, green at least 0.1.";
    const struct {
        const char* name;
        std::vector<float> coefficients;
        bool accepted;
    } cases[] = {
        {"the default weights", {0.299f, 0.587f, 0.114f}, true},
        {"another standard's weights", {0.2126f, 0.7152f, 0.0722f}, true},
        {"red alone", {0.3f}, true},
        {"red of 4218887420/918", {4218887420.0f / 918, 0.587f, 0.114f}, false},
        {"negative blue", {0.299f, 0.587f, -0.114f}, false},
        {"green of 0", {0.299f, 0.0f, 0.114f}, false},
        {"green of 0.01", {0.5f, 0.01f, 0.49f}, false},
        {"red not a number", {std::nanf(""), 0.587f, 0.114f}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TColorManager manager;
        EXPECT_EQ(MessageOf([&] { manager.SetYCbCrLayout(c.coefficients, 1, 1); }), c.accepted ? "(no exception)" : refused);
        // A refused layout leaves the weights as they were: Cr 100 above the centre adds
        // 2 - 2 x red of it to red.
        if (c.accepted) continue;
        manager.SetSourceScheme(smYCbCr);
        manager.SetTargetScheme(smRGB);
        const Bytes row{100, 128, 228};
        Bytes target(3);
        const uint8_t* sources[] = {row.data()};
        manager.TransformRow(sources, target.data(), 1);
        EXPECT_EQ(target[0], 240);
    }
}

TEST(ColorManager, PixelFormatPerSide) {
    struct TFormatCase { uint8_t samples, bits; TPixelFormat format; };
    const TFormatCase cases[] = {
        {1, 1, TPixelFormat::pf1bit}, {1, 2, TPixelFormat::pf4bit}, {1, 4, TPixelFormat::pf4bit},
        {1, 5, TPixelFormat::pfCustom}, {1, 8, TPixelFormat::pf8bit}, {1, 16, TPixelFormat::pf8bit},
        {2, 8, TPixelFormat::pfCustom}, {3, 5, TPixelFormat::pf15bit}, {3, 8, TPixelFormat::pf24bit},
        {3, 16, TPixelFormat::pf24bit}, {4, 4, TPixelFormat::pfCustom}, {4, 8, TPixelFormat::pf32bit},
    };
    for (const TFormatCase& c : cases) {
        TColorManager manager;
        manager.SetTargetSampleCount(c.samples);
        manager.SetTargetDepth(c.bits);
        EXPECT_EQ(manager.PixelFormatOf(1), c.format) << int(c.samples) << " x " << int(c.bits);
        EXPECT_EQ(manager.PixelFormatOf(0), TPixelFormat::pf24bit);
    }
}

TEST(ColorManager, BuildsGrayAndFilePalettes) {
    TColorManager manager;
    manager.SetTargetSampleCount(1);
    manager.SetTargetDepth(2);
    const auto inverted = manager.BuildGrayPalette(true);
    ASSERT_EQ(inverted.size(), 4u);
    EXPECT_EQ(inverted[0], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(inverted[1], (TPaletteEntry{170, 170, 170, 0}));
    EXPECT_EQ(inverted[3], (TPaletteEntry{0, 0, 0, 0}));

    // A 4-bit palette for an 8-bit target: entry 17 v is file entry v.
    manager.SetSourceDepth(4);
    manager.SetTargetDepth(8);
    Bytes bgr;
    for (int i = 0; i < 16; ++i) bgr.insert(bgr.end(), {uint8_t(i), uint8_t(2 * i), uint8_t(3 * i)});
    const std::span<const uint8_t> block[] = {bgr};
    const auto resampled = manager.BuildFilePalette(block, true, 16, 0);
    ASSERT_EQ(resampled.size(), 256u);
    EXPECT_EQ(resampled[17], (TPaletteEntry{3, 2, 1, 0}));
    EXPECT_EQ(resampled[16], (TPaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(resampled[255], (TPaletteEntry{45, 30, 15, 0}));

    // Three big-endian 16-bit planes (a TIFF colour map) that hold fewer entries than claimed.
    TColorManager wide;
    wide.SourceOptions = cvoSwapBytes;
    const Bytes red{0xFF, 0xFF, 0x80, 0x00}, green{0, 0, 0, 0}, blue{0x01, 0x01, 0xFF, 0xFF};
    const std::span<const uint8_t> planes[] = {red, green, blue};
    const auto map = wide.BuildFilePalette(planes, false, 3, 6);
    ASSERT_EQ(map.size(), 3u);
    EXPECT_EQ(map[0], (TPaletteEntry{255, 0, 1, 0}));
    EXPECT_EQ(map[1], (TPaletteEntry{127, 0, 255, 0}));
    EXPECT_EQ(map[2], (TPaletteEntry{0, 0, 0, 0}));
}

}  // namespace
