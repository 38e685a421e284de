#include <gtest/gtest.h>

#include "imaging/core/KVBlend.h"

TEST(KVBlend, ChannelResults) {
    struct Case {
        TKVBlendOperation op;
        int s, d, expected;
    } cases[] = {
        {kvbCopy, 7, 200, 7},           {kvbAdd, 200, 100, 255},        {kvbDifference, 10, 250, 240},
        {kvbDivide, 0, 200, 200},       {kvbDivide, 3, 200, 66},        {kvbMultiply, 255, 255, 254},
        {kvbOr, 0x0F, 0xF0, 0xFF},      {kvbAnd, 0x3C, 0xF0, 0x30},     {kvbXor, 0xFF, 0x0F, 0xF0},
        {kvbMax, 3, 9, 9},              {kvbMin, 3, 9, 3},              {kvbAverage, 255, 0, 127},
        {kvbScreen, 0, 0, 1},           {kvbScreen, 255, 255, 255},     {kvbNegation, 100, 100, 200},
        {kvbNegation, 200, 200, 110},   {kvbExclusion, 255, 255, 2},    {kvbOverlay, 100, 200, 189},
        {kvbOverlay, 50, 100, 39},      {kvbHardLight, 200, 100, 189},  {kvbSoftLight, 255, 64, 127},
        {kvbSoftLight, 0, 128, 64},     {kvbSoftLightScreen, 128, 128, 128},
        {kvbColorDodge, 255, 0, 255},   {kvbColorDodge, 127, 100, 200}, {kvbColorBurn, 0, 255, 0},
        {kvbColorBurn, 128, 200, 145},  {kvbInverseDodge, 0, 255, 255}, {kvbInverseDodge, 100, 127, 200},
        {kvbInverseBurn, 255, 0, 0},    {kvbInverseBurn, 200, 128, 145}, {kvbSoftDodge, 100, 100, 82},
        {kvbSoftDodge, 200, 200, 220},  {kvbSoftBurn, 100, 100, 82},    {kvbSoftBurn, 200, 200, 220},
        {kvbReflect, 255, 3, 255},      {kvbReflect, 155, 100, 100},    {kvbGlow, 0, 255, 255},
        {kvbGlow, 100, 155, 100},       {kvbFreeze, 0, 200, 0},         {kvbFreeze, 100, 155, 155},
        {kvbHeat, 200, 0, 0},           {kvbHeat, 155, 100, 155},       {kvbSubtractive, 200, 100, 44},
        {kvbSubtractive, 10, 10, 0},    {kvbInterpolation, 255, 255, 255}, {kvbInterpolation, 0, 0, 0},
        {kvbStamp, 200, 100, 244},      {kvbStamp, 10, 10, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KVBlendChannel(c.op, c.s, c.d), c.expected) << int(c.op) << " s=" << c.s << " d=" << c.d;
        TKVRGB source{uint8_t(c.s), uint8_t(c.s), uint8_t(c.s)}, dest{uint8_t(c.d), uint8_t(c.d), uint8_t(c.d)};
        KVBlendPixel(c.op, source, dest);
        EXPECT_EQ(dest, (TKVRGB{uint8_t(c.expected), uint8_t(c.expected), uint8_t(c.expected)})) << int(c.op);
    }
}

TEST(KVBlend, WholePixelResults) {
    const TKVRGB red{0, 0, 255}, blue{255, 0, 0}, gray{128, 128, 128}, pinkish{100, 100, 200};
    struct Case {
        TKVBlendOperation op;
        TKVRGB s, d, expected;
    } cases[] = {
        {kvbRed, {1, 2, 3}, {10, 20, 30}, {10, 20, 3}},
        {kvbGreen, {1, 2, 3}, {10, 20, 30}, {10, 2, 30}},
        {kvbBlue, {1, 2, 3}, {10, 20, 30}, {1, 20, 30}},
        {kvbHue, red, gray, gray},                 // no saturation in the destination: stays gray
        {kvbColor, blue, gray, {255, 1, 1}},       // hue and saturation of blue, lightness 128/255
        {kvbHueLightness, red, gray, gray},        // lightness 0.5 gives 127.5, rounded to even
        {kvbSaturation, blue, pinkish, {45, 45, 255}},
        {TKVBlendOperation(38), red, gray, gray},  // unknown operations leave the destination
        {TKVBlendOperation(255), red, gray, gray},
    };
    for (const Case& c : cases) {
        TKVRGB dest = c.d;
        KVBlendPixel(c.op, c.s, dest);
        EXPECT_EQ(dest, c.expected) << int(c.op);
    }
    TKVRGB row[2] = {gray, gray};
    const TKVRGB sources[2] = {red, blue};
    KVBlendRow(kvbMax, sources, row, 2);
    EXPECT_EQ(row[0], (TKVRGB{128, 128, 255}));
    EXPECT_EQ(row[1], (TKVRGB{255, 128, 128}));
}

TEST(KVBlend, Opacity) {
    struct Case {
        int s, d, a, expected;
    } cases[] = {{255, 0, 255, 255}, {0, 255, 255, 0}, {255, 0, 0, 0}, {7, 200, 0, 200},
                 {255, 0, 128, 128}, {0, 255, 128, 127}, {100, 50, 51, 60}};
    for (const Case& c : cases) EXPECT_EQ(KVBlendOpacity(c.s, c.d, c.a), c.expected) << c.s << " " << c.d << " " << c.a;
}
