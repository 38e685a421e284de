#include "imaging/view/KVViewport.h"

#include <gtest/gtest.h>

namespace {

TKVViewport Make(int bw, int bh, int client, int outer, double zoom, bool center = true) {
    TKVViewport v;
    v.x.bitmapSize = bw;
    v.y.bitmapSize = bh;
    v.x.clientSize = v.y.clientSize = client;
    v.x.outerSize = v.y.outerSize = outer;
    v.zoom = zoom;
    v.center = center;
    v.Recompute();
    return v;
}

}  // namespace

TEST(KVViewport, MaxOriginCoversTheLastPixelOnlyBeyondTenPixels) {
    struct Case {
        int bw, bh, client, outer;
        double zoom;
        int maxX, maxY;
    } cases[] = {
        {100, 100, 95, 99, 100, 5, 5},       // 5 pixels over: exactly the image
        {200, 100, 100, 104, 100, 101, 1},   // over by more: one extra bitmap pixel on both axes
        {200, 100, 100, 104, 50, 0, 0},      // fits
        {10, 10, 29, 33, 400, 15, 15},       // 40 zoomed, over by 11: 44 pixels to scroll over
        {10, 10, 37, 39, 400, 0, 0},         // 3 zoomed pixels are less than one bitmap pixel
        {100, 100, 95, 100, 100, 0, 0},      // the outer size holds the image
        {0, 0, 95, 99, 100, 0, 0},           // nothing to show
    };
    for (const Case& c : cases) {
        TKVViewport v = Make(c.bw, c.bh, c.client, c.outer, c.zoom);
        int maxX, maxY;
        v.GetMaxOrigin(maxX, maxY);
        EXPECT_EQ(maxX, c.maxX) << c.bw << "x" << c.bh << " in " << c.client << " at " << c.zoom;
        EXPECT_EQ(maxY, c.maxY) << c.bw << "x" << c.bh << " in " << c.client << " at " << c.zoom;
        EXPECT_EQ(v.CanScroll(), c.maxX > 0 || c.maxY > 0);
    }
}

TEST(KVViewport, AutomaticFittingShrinksOrStretchesAsAllowed) {
    struct Case {
        int bw, bh, avail;
        bool stretch, shrink;
        double zoom;
    } cases[] = {
        {50, 50, 100, false, true, 100},    // small image, shrink only: stays
        {50, 50, 100, true, false, 200},    // stretched to the outer size less the margins
        {400, 200, 100, false, true, 25},   // width decides
        {200, 400, 100, false, true, 25},   // height decides
        {400, 200, 100, true, false, 100},  // large image, stretch only: stays
        {1, 1, 100, true, true, 100},       // blank
        {50, 50, 0, true, true, 100},       // no room
        {100000, 10, 100, false, true, 1},  // never below 1 %
    };
    for (const Case& c : cases) {
        TKVViewport v = Make(c.bw, c.bh, 100, 104, 100);
        EXPECT_DOUBLE_EQ(v.AutoFitZoom(c.avail, c.avail, c.stretch, c.shrink, 2, 2), c.zoom)
            << c.bw << "x" << c.bh << " stretch " << c.stretch << " shrink " << c.shrink;
    }
}

TEST(KVViewport, ZoomKeepsThePointUnderTheCentre) {
    TKVViewport v = Make(1000, 1000, 100, 104, 100);
    v.x.origin = 300;
    v.Recompute();
    v.ApplyZoom(200);  // bitmap x 350 under the centre becomes zoomed 700, centred at 650
    v.Recompute();
    EXPECT_EQ(v.x.origin, 650);
    EXPECT_EQ(v.y.origin, 50);
    EXPECT_EQ(v.ClientToBitmapX(50), 350);
    v.ApplyZoom(150);
    v.Recompute();
    EXPECT_EQ(v.x.origin, 475);
    v.ApplyZoom(10);  // the whole image fits: no origin left
    v.Recompute();
    EXPECT_EQ(v.x.origin, 0);
    EXPECT_EQ(v.x.imageStart, 0);
}

TEST(KVViewport, ZoomAroundKeepsTheCursorPoint) {
    TKVViewport v = Make(100, 100, 40, 44, 200);
    int ox, oy;
    v.OriginForZoomAround(50, 10, 20, 4, false, ox, oy);
    EXPECT_EQ(ox, 82);
    EXPECT_EQ(oy, 18);
    v.OriginForZoomAround(50, 10, 20, 4, true, ox, oy);
    EXPECT_EQ(ox, 80);
    EXPECT_EQ(oy, 0);
}

TEST(KVViewport, CoordinatesAboveAndBelowOneHundredPercent) {
    // 200 %: each bitmap pixel covers two client pixels; scrolled by 5 the window starts at
    // bitmap pixel 2, half of it hidden.
    TKVViewport up = Make(10, 10, 15, 17, 200);
    EXPECT_EQ(up.x.first, 0);
    EXPECT_EQ(up.x.count, 8);
    EXPECT_EQ(up.x.drawSize, 16);
    for (int c = 0; c < 15; ++c) EXPECT_EQ(up.ClientToBitmapX(c), c / 2) << c;
    EXPECT_EQ(up.BitmapToClientX(3), 6);
    up.x.origin = 5;
    up.Recompute();
    EXPECT_EQ(up.x.origin, 5);
    EXPECT_EQ(up.x.first, 2);
    EXPECT_EQ(up.ClientToBitmapX(0), 2);
    EXPECT_EQ(up.ClientToBitmapX(1), 3);
    EXPECT_EQ(up.BitmapToClientX(3), 1);
    EXPECT_EQ(up.BitmapToClientX(2), -1);

    // 50 %, centred: the image starts 15 pixels in, every second bitmap pixel shown.
    TKVViewport down = Make(100, 100, 80, 84, 50);
    EXPECT_EQ(down.x.imageStart, 15);
    EXPECT_EQ(down.x.drawSize, 50);
    EXPECT_EQ(down.ClientToBitmapX(15), 0);
    EXPECT_EQ(down.ClientToBitmapX(16), 2);
    EXPECT_EQ(down.ClientToBitmapX(64), 98);
    EXPECT_EQ(down.BitmapToClientX(4), 17);
    EXPECT_EQ(down.ClientToBitmapX(10), -10);  // left of the image: by the formula

    // Not centred the image sits at the left.
    EXPECT_EQ(Make(100, 100, 80, 84, 50, false).x.imageStart, 0);
}

TEST(KVViewport, ScrollStepsAndScale) {
    EXPECT_EQ(KVScrollLineStep(0.5, -1), 1);
    EXPECT_EQ(KVScrollLineStep(3.7, -1), 3);
    EXPECT_EQ(KVScrollLineStep(2.0, 5), 10);
    EXPECT_EQ(KVScrollPageStep(2.0, -1, 300), 300);
    EXPECT_EQ(KVScrollPageStep(2.0, 4, 300), 8);
    EXPECT_DOUBLE_EQ(KVScrollScale(300, 65236), 1.0);
}

TEST(KVViewport, MouseWheel) {
    const TKVMouseWheelParams defaults;
    TKVMouseWheelParams absolute;
    absolute.Variation = kvwvAbsolute;
    TKVMouseWheelParams inverted;
    inverted.InvertDirection = true;
    struct Case {
        const TKVMouseWheelParams* params;
        double zoom;
        int delta;
        double expected;
    } zooms[] = {
        {&defaults, 100, 120, 92},  // forward zooms out by 8 %
        {&defaults, 100, -120, 108},
        {&defaults, 10, 120, 9},    // at least 1
        {&absolute, 50, 120, 42},
        {&inverted, 100, 120, 108},
    };
    for (const Case& c : zooms) EXPECT_DOUBLE_EQ(KVWheelZoom(c.zoom, c.delta, *c.params), c.expected);
    EXPECT_EQ(KVWheelScroll(1.0, 200, 120, defaults), -16);
    EXPECT_EQ(KVWheelScroll(1.0, 5, -120, defaults), 1);
    EXPECT_EQ(KVWheelScroll(3.0, 200, -120, absolute), 24);
}

TEST(KVViewport, ChessboardStartsWithTheBackground) {
    struct Case {
        int x, y, size;
        bool background;
    } cases[] = {{0, 0, 16, true},  {15, 15, 16, true}, {16, 0, 16, false}, {0, 16, 16, false},
                 {16, 16, 16, true}, {3, 0, 1, false},  {3, 1, 1, true}};
    for (const Case& c : cases)
        EXPECT_EQ(KVChessboardIsBackground(c.x, c.y, c.size), c.background) << c.x << "," << c.y;
}
