// The built-in effects' frames on a 64 x 48 pair against values worked out by hand from their
// formulas: blends per byte, wipe boundaries, and where moved pixels come from.
#include "imaging/view/KVBuiltinTransitions.h"

#include <gtest/gtest.h>

#include "TransitionFixtures.h"

namespace {

constexpr int W = 64, H = 48;
constexpr TBgr From{10, 100, 200}, To{250, 50, 0}, Red{0, 0, 255};
constexpr TColor Background = RGB(64, 128, 192);  // bytes 192, 128, 64

// The effect's frame at progress, after the first frame at progress 0 as the engine draws it.
TBitmap FrameAt(TKVTransitionType effect, int progress, TKVFrames frames) {
    int randomCount = 0;
    KVDrawBuiltinEffect(effect, 0, frames, Background, randomCount);
    KVDrawBuiltinEffect(effect, progress, frames, Background, randomCount);
    return frames.current;
}

TKVFrames SolidPair() { return {SolidFrame(W, H, From), SolidFrame(W, H, To), SolidFrame(W, H, {1, 2, 3})}; }

TEST(KVBuiltinTransitions, BlendsGiveTheFormulaInEveryByte) {
    struct Case {
        TKVTransitionType effect;
        int progress;
        TBgr expected;
    };
    const Case cases[] = {
        {kvttCrossDissolve, 512, {130, 75, 100}}, {kvttCrossDissolve, 256, {70, 87, 150}},
        {kvttFadeOut, 512, {101, 114, 132}},      {kvttFadeIn, 256, {206, 108, 48}},
        {kvttFadeOutIn, 256, {101, 114, 132}},    {kvttFadeOutIn, 512, {192, 128, 64}},  // the background exactly
        {kvttFadeOutIn, 768, {221, 89, 32}},
    };
    for (const Case& c : cases) {
        const TBitmap frame = FrameAt(c.effect, c.progress, SolidPair());
        EXPECT_EQ(CountPixels(frame, c.expected), W * H) << int(c.effect) << " at " << c.progress;
    }
}

TEST(KVBuiltinTransitions, WipesRevealTheComputedRectangle) {
    struct Case {
        TKVTransitionType effect;
        int progress;
        TRect revealed;  // to-frame pixels inside (outside when inverted)
        bool inverted;
        int redColumn, redRow;  // -1: none
    };
    const Case cases[] = {
        {kvttLeftRight1, 512, Rect(0, 0, 32, H), false, -1, -1},
        {kvttLeftRight1, 300, Rect(0, 0, 18, H), false, -1, -1},
        {kvttLeftRight2, 512, Rect(0, 0, 32, H), false, 32, -1},
        {kvttRightLeft1, 512, Rect(32, 0, W, H), false, -1, -1},
        {kvttRightLeft1, 300, Rect(45, 0, W, H), false, -1, -1},
        {kvttRightLeft2, 300, Rect(45, 0, W, H), false, 45, -1},
        {kvttRightLeft2, 1024, Rect(0, 0, W, H), false, 0, -1},  // the line ends on the first column
        {kvttLeftRight2, 0, Rect(0, 0, 0, 0), false, 0, -1},     // and starts there the other way
        {kvttUpDown1, 300, Rect(0, 0, W, 14), false, -1, -1},
        {kvttUpDown2, 300, Rect(0, 0, W, 14), false, -1, 14},
        {kvttDownUp1, 300, Rect(0, 34, W, H), false, -1, -1},
        {kvttDownUp2, 300, Rect(0, 34, W, H), false, -1, 34},
        {kvttCenter1, 512, Rect(16, 12, 48, 36), false, -1, -1},
        {kvttCenter1, 300, Rect(23, 17, 41, 31), false, -1, -1},
        {kvttCenter2, 300, Rect(10, 8, 55, 41), true, -1, -1},
        {kvttFromUpLeft, 300, Rect(0, 0, 19, 15), false, -1, -1},
        {kvttFromBottomRight, 512, Rect(32, 24, W, H), false, -1, -1},
    };
    for (const Case& c : cases) {
        const TBitmap frame = FrameAt(c.effect, c.progress, SolidPair());
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool inside =
                    x >= c.revealed.Left && x < c.revealed.Right && y >= c.revealed.Top && y < c.revealed.Bottom;
                const TBgr expected = x == c.redColumn || y == c.redRow ? Red : (inside != c.inverted ? To : From);
                ASSERT_EQ(PixelAt(frame, x, y), expected)
                    << int(c.effect) << " at " << c.progress << ": " << x << ", " << y;
            }
    }
}

TEST(KVBuiltinTransitions, MovedPixelsComeFromTheComputedPlace) {
    constexpr uint8_t FromTag = 11, ToTag = 22;
    struct Probe {
        int x, y;
        uint8_t tag;
        int sx, sy;
    };
    struct Case {
        TKVTransitionType effect;
        int progress;
        std::vector<Probe> probes;
    };
    const Case cases[] = {
        {kvttFromUpLeft, 512, {{0, 0, ToTag, 32, 24}, {31, 23, ToTag, 63, 47}, {32, 0, FromTag, 32, 0}}},
        {kvttFromUpRight, 512, {{32, 0, ToTag, 0, 24}, {63, 23, ToTag, 31, 47}, {0, 0, FromTag, 0, 0}}},
        {kvttMoveLeftRight1,
         512,
         {{0, 5, ToTag, 32, 5}, {31, 5, ToTag, 63, 5}, {32, 5, FromTag, 0, 5}, {63, 5, FromTag, 31, 5}}},
        {kvttMoveLeftRight2, 512, {{0, 5, ToTag, 0, 5}, {32, 5, FromTag, 0, 5}}},
        {kvttMoveRightLeft1, 256, {{0, 5, FromTag, 16, 5}, {47, 5, FromTag, 63, 5}, {48, 5, ToTag, 0, 5}}},
        {kvttMoveRightLeft2, 256, {{47, 5, FromTag, 47, 5}, {48, 5, ToTag, 0, 5}, {63, 5, ToTag, 15, 5}}},
        {kvttMoveUpDown1, 512, {{5, 0, ToTag, 5, 24}, {5, 24, FromTag, 5, 0}}},
        {kvttMoveUpDown2, 512, {{5, 0, ToTag, 5, 0}, {5, 24, FromTag, 5, 0}}},
        {kvttMoveDownUp1, 256, {{5, 0, FromTag, 5, 12}, {5, 36, ToTag, 5, 0}}},
        {kvttMoveDownUp2, 256, {{5, 0, FromTag, 5, 12}, {5, 35, FromTag, 5, 47}, {5, 36, ToTag, 5, 36}}},
        {kvttCenter2, 512, {{16, 12, FromTag, 16, 12}, {15, 12, ToTag, 15, 12}}},
    };
    for (const Case& c : cases) {
        const TBitmap frame =
            FrameAt(c.effect, c.progress, {RampFrame(W, H, FromTag), RampFrame(W, H, ToTag), SolidFrame(W, H, {})});
        for (const Probe& p : c.probes)
            EXPECT_EQ(PixelAt(frame, p.x, p.y), (TBgr{uint8_t(p.sx), uint8_t(p.sy), p.tag}))
                << int(c.effect) << " at " << p.x << ", " << p.y;
    }
}

// n = R(p x W x (p / 180) / 1024) points per row, 91 at 512 and 364 at 1024; boxes
// n = R(p x (W x H div 64) x (p / 180) / 1024), 68 at 512. Each tick adds only the growth of n.
TEST(KVBuiltinTransitions, RandomEffectsAddOnlyTheGrowthOfTheirCount) {
    TKVFrames frames = SolidPair();
    int count = 0;
    KVDrawBuiltinEffect(kvttRandomPoints, 0, frames, Background, count);
    KVDrawBuiltinEffect(kvttRandomPoints, 512, frames, Background, count);
    EXPECT_EQ(count, 91);
    std::vector<int> perRow(H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) perRow[y] += PixelAt(frames.current, x, y) == To;
        EXPECT_GE(perRow[y], 1);
        EXPECT_LE(perRow[y], 91);
    }
    KVDrawBuiltinEffect(kvttRandomPoints, 1024, frames, Background, count);
    EXPECT_EQ(count, 364);

    frames = SolidPair();
    count = 0;
    KVDrawBuiltinEffect(kvttRandomBoxes, 0, frames, Background, count);
    KVDrawBuiltinEffect(kvttRandomBoxes, 512, frames, Background, count);
    EXPECT_EQ(count, 68);
    int boxes = 0;
    for (int by = 0; by < H; by += 8)
        for (int bx = 0; bx < W; bx += 8) {
            int revealed = 0;
            for (int y = by; y < by + 8; ++y)
                for (int x = bx; x < bx + 8; ++x) revealed += PixelAt(frames.current, x, y) == To;
            EXPECT_TRUE(revealed == 0 || revealed == 64) << "block " << bx << ", " << by;
            boxes += revealed == 64;
        }
    EXPECT_GE(boxes, 1);
    EXPECT_LE(boxes, 68);
}

// From (0, 0, 64, 48) to (64, 48, 128, 96) halfway: left 32, top 24, 64 x 48, an unscaled copy.
TEST(KVBuiltinTransitions, PanZoomInterpolatesTheRectangle) {
    TKVPanZoom panZoom{RampFrame(128, 96, 33), Rect(0, 0, 64, 48), Rect(64, 48, 128, 96)};
    TBitmap current = SolidFrame(W, H, From);
    KVDrawPanZoom(512, panZoom, current);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) ASSERT_EQ(PixelAt(current, x, y), (TBgr{uint8_t(x + 32), uint8_t(y + 24), 33}));
}

// Rectangles reaching past the source are kept inside it.
TEST(KVBuiltinTransitions, PanZoomNeverReadsOutsideItsSource) {
    TKVPanZoom panZoom{RampFrame(20, 10, 33), Rect(-50, -50, 500, 400), Rect(15, 8, 90, 70)};
    TBitmap current = SolidFrame(W, H, From);
    for (int p : {0, 300, 1024}) KVDrawPanZoom(p, panZoom, current);
    EXPECT_EQ(PixelAt(current, 0, 0), (TBgr{15, 8, 33}));
}

}  // namespace
