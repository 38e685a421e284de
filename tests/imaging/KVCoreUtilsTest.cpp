#include <gtest/gtest.h>

#include <cmath>

#include "imaging/core/KVCoreUtils.h"

TEST(KVCoreUtils, CIELabConversions) {
    EXPECT_EQ(KVRGBToCIELab(0x000000), (TKVCIELab{0, 0, 0}));
    EXPECT_EQ(KVCIELabToRGB(0x0000FF), (TKVRGB{255, 255, 254}));  // blue, green, red
    // No white point is applied, so white keeps a tint.
    EXPECT_EQ(KVRGBToCIELab(0xFFFFFF), (TKVCIELab{242, -24, -6}));
    const TKVCIELab red = KVRGBToCIELab(0xFF0000), blue = KVRGBToCIELab(0x0000FF);
    EXPECT_GT(red.a, 50);
    EXPECT_LT(blue.b, -50);
    // a = -128 is read as +128: far to the red side, not to the green one.
    const TKVRGB reddish = KVCIELabToRGB(0x008080);
    EXPECT_GT(reddish.r, 200);
    EXPECT_EQ(reddish.g, 0);
}

TEST(KVCoreUtils, StrToFloatDefTakesPointOrComma) {
    struct Case {
        const char* text;
        double expected;
    } cases[] = {{"1,5", 1.5}, {"1.5", 1.5}, {" -2.25 ", -2.25}, {"+3", 3}, {"1e3", 1000},
                 {"", 7},      {"abc", 7},   {"1.5x", 7},       {"1,5,5", 7}, {"1.2,5", 7}};
    for (const Case& c : cases) EXPECT_EQ(KVStrToFloatDef(c.text, 7), c.expected) << c.text;
}

TEST(KVCoreUtils, GUIDText) {
    const TGUID guid{0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
    const std::string text = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
    EXPECT_EQ(KVGUIDToString(guid), text);
    EXPECT_EQ(KVStringToGUID(text), guid);
    EXPECT_EQ(KVStringToGUID("{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"), guid);
    for (const char* bad : {"", "{6bdd1fc6-810f-11d0-bec7-08002be2092}", "{6bdd1fc6-810f-11d0-bec7-08002be2092g}",
                            "(6bdd1fc6-810f-11d0-bec7-08002be2092f)", "{6bdd1fc6+810f-11d0-bec7-08002be2092f}"})
        EXPECT_THROW(KVStringToGUID(bad), EConvertError) << bad;
}

TEST(KVCoreUtils, Distances) {
    EXPECT_DOUBLE_EQ(KVPointLineDistance(0, 5, -10, 0, 10, 0), 5);
    EXPECT_DOUBLE_EQ(KVPointSegmentDistance(0, 5, -10, 0, 10, 0), 5);
    EXPECT_DOUBLE_EQ(KVPointSegmentDistance(13, 4, 0, 0, 10, 0), 5);   // beyond the end
    EXPECT_DOUBLE_EQ(KVPointSegmentDistance(-3, -4, 0, 0, 10, 0), 5);  // before the start
    EXPECT_DOUBLE_EQ(KVPointSegmentDistance(3, 4, 0, 0, 0, 0), 5);     // degenerate segment
    EXPECT_DOUBLE_EQ(KVPointSegmentDistance(50010, 0, 0, 0, 10, 0), 1000000);
    EXPECT_DOUBLE_EQ(KVPointSegmentDistance(-20, 45001, 0, 0, 10, 0), 1000000);
}

TEST(KVCoreUtils, BezierPoints) {
    const TPoint p0{0, 0}, p1{0, 100}, p2{100, 100}, p3{100, 0};
    EXPECT_EQ(KVBezierPoints(p0, p1, p2, p3, 1), std::vector<TPoint>{p3});
    const std::vector<TPoint> four = KVBezierPoints(p0, p1, p2, p3, 4);
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(four[1], (TPoint{50, 75}));  // t = 1/2
    EXPECT_EQ(four[0], (TPoint{16, 56}));  // t = 1/4: x 15.625, y 56.25
    EXPECT_EQ(four[3], p3);
    EXPECT_TRUE(KVBezierPoints(p0, p1, p2, p3, 0).empty());
}

TEST(KVCoreUtils, FitSize) {
    struct Case {
        int w, h, boxW, boxH, expectedW, expectedH;
    } cases[] = {{400, 100, 50, 50, 50, 12}, {100, 400, 50, 50, 12, 50}, {10, 10, 100, 50, 50, 50},
                 {10000, 1, 100, 100, 100, 1}, {0, 10, 50, 50, -1, -1}};
    for (const Case& c : cases) {
        int w = -1, h = -1;
        KVFitSize(c.w, c.h, c.boxW, c.boxH, w, h);
        EXPECT_EQ(w, c.expectedW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.expectedH) << c.w << "x" << c.h;
    }
}

TEST(KVCoreUtils, InterpolationTableAndSwaps) {
    EXPECT_EQ(KVInterpolationTable[0], 0);
    EXPECT_EQ(KVInterpolationTable[255], 128);
    EXPECT_EQ(KVInterpolationTable[128], 64);
    for (size_t i = 1; i < 256; ++i) EXPECT_LE(KVInterpolationTable[i - 1], KVInterpolationTable[i]);

    EXPECT_EQ(KVSwapWordIf(0x1234, true), 0x3412);
    EXPECT_EQ(KVSwapWordIf(0x1234, false), 0x1234);
    EXPECT_EQ(KVSwapDWordIf(0x12345678, true), 0x78563412u);
    EXPECT_EQ(KVSwapDWordIf(0x12345678, false), 0x12345678u);
}

TEST(KVCoreUtils, NoWindowsGeneration) { EXPECT_FALSE(KVIsWinMeOr2000()); }

TEST(KVCoreUtils, SettingsRecordsDefaults) {
    const TKVScrollBarParams scroll;
    EXPECT_EQ(scroll.LineStep, -1);
    EXPECT_EQ(scroll.PageStep, -1);
    EXPECT_TRUE(scroll.Tracking);
    const TKVMouseWheelParams wheel;
    EXPECT_FALSE(wheel.InvertDirection);
    EXPECT_EQ(wheel.Action, kvwaZoom);
    EXPECT_EQ(wheel.Variation, kvwvPercent);
    EXPECT_EQ(wheel.Value, 8);
    EXPECT_FALSE(wheel.ZoomAtCursor);
}
