// The shared geometry of the table's effects and the shapes of a few of them part way, worked out
// by hand from their descriptions.
#include "imaging/view/KVEffectProcs.h"

#include <gtest/gtest.h>

#include <functional>

#include "TransitionFixtures.h"

namespace {

constexpr TBgr From{10, 100, 200}, To{250, 50, 0};

TEST(KVEffectProcs, GeometryRevealsTheLongerSideFirst) {
    struct Case {
        int w, h, percent, step;
        TKVEffectGeometry expected;
    };
    const Case cases[] = {
        {64, 48, 33, 1, {64, 48, 21, 16, 1}},  // 21.12 -> 21, then 21 x 48 / 64 = 15.75 -> 16
        {48, 64, 50, 1, {48, 64, 24, 32, 1}},  // taller: 32 on the height, 24 follows
        {50, 30, 1, 1, {50, 30, 1, 1, 1}},     // 0.5 rounds up, as does 0.6
        {900, 300, 100, 1, {900, 300, 900, 300, 10}},
        {10, 5, 50, 1, {10, 5, 5, 3, 1}},  // the unit 10 / 90 rounds to 0 and is raised to 1
        {64, 48, 0, 1, {64, 48, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        const TKVEffectGeometry g = KVEffectGeometry(c.w, c.h, c.percent, c.step);
        EXPECT_EQ(g.pw, c.expected.pw) << c.w << " x " << c.h << " at " << c.percent;
        EXPECT_EQ(g.ph, c.expected.ph) << c.w << " x " << c.h << " at " << c.percent;
        EXPECT_EQ(g.u, c.expected.u) << c.w << " x " << c.h;
    }
}

// current starts as the old picture; the procedure runs once at the percent.
TBitmap RunEffect(TKVEffectProc proc, int w, int h, int percent, const TBitmap& from, const TBitmap& to) {
    TBitmap current = from;
    proc({current, from, to, percent, 1, Rect(0, 0, w, h)});
    return current;
}

TBitmap RunSolid(TKVEffectProc proc, int w, int h, int percent) {
    return RunEffect(proc, w, h, percent, SolidFrame(w, h, From), SolidFrame(w, h, To));
}

// Which pixels show the new picture, by a rule worked out from the effect's shape.
TEST(KVEffectProcs, ShapesPartWay) {
    using Inside = std::function<bool(int x, int y)>;
    struct Case {
        const char* name;
        TKVEffectProc proc;
        int w, h, percent;
        Inside revealed;
    };
    const Case cases[] = {
        {"expand from right: the picture squeezed into the right half",
         [](const TKVEffectCall& c) { KVExpandFrom(c, kvFromRight); }, 64, 48, 50, [](int x, int) { return x >= 32; }},
        {"wipe from top left", [](const TKVEffectCall& c) { KVWipeFromCorner(c, kvFromTopLeft); }, 64, 48, 50,
         [](int x, int y) { return x < 32 && y < 24; }},
        {"bars in from left: the first set, 2 pw = 32 long",
         [](const TKVEffectCall& c) {
             KVBars(c, {{kvFromLeft, TKVBars::OneSide}});
         },
         64, 48, 25, [](int x, int y) { return y % 10 < 5 && x < 32; }},
        {"vertical blinds: pitch 180 div 2 = 90, strips 45 wide",
         [](const TKVEffectCall& c) { KVBlinds(c, kvFromLeft); }, 180, 90, 50, [](int x, int) { return x % 90 < 45; }},
        {"horizontal blinds: pitch 90 div 2 = 45, strips 22 high",
         [](const TKVEffectCall& c) { KVBlinds(c, kvFromTop); }, 180, 90, 50, [](int, int y) { return y % 45 < 22; }},
        {"wipe diagonal: the triangle (0, 0), (64, 0), (0, 48)",
         [](const TKVEffectCall& c) { KVWipeDiagonalFrom(c, kvFromTopLeft); }, 64, 48, 50,
         [](int x, int y) { return (x + 0.5) / 64 + (y + 0.5) / 48 < 1; }},
    };
    for (const Case& c : cases) {
        const TBitmap frame = RunSolid(c.proc, c.w, c.h, c.percent);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                ASSERT_EQ(PixelAt(frame, x, y), c.revealed(x, y) ? To : From) << c.name << ": " << x << ", " << y;
    }
}

TEST(KVEffectProcs, ProbesPartWay) {
    struct Probe {
        int x, y;
        bool revealed;
    };
    struct Case {
        const char* name;
        TKVEffectProc proc;
        int percent;
        std::vector<Probe> probes;
    };
    const Case cases[] = {
        {"circular wipe from centre: corners round, edge middles reached",
         [](const TKVEffectCall& c) { KVCircularWipeFromCentre(c); },
         50,
         {{0, 0, false}, {63, 47, false}, {32, 24, true}, {32, 0, true}, {0, 24, true}}},
        {"sweep clockwise a quarter: from straight up to the right",
         [](const TKVEffectCall& c) { KVSweep(c, true); },
         25,
         {{50, 10, true}, {10, 10, false}, {50, 40, false}}},
        {"sweep clockwise whole: the hundredth left of straight up stays",
         [](const TKVEffectCall& c) { KVSweep(c, true); },
         100,
         {{31, 1, false}, {29, 1, true}, {33, 1, true}}},
        {"sweep counter-clockwise whole: the hundredth right of straight up stays",
         [](const TKVEffectCall& c) { KVSweep(c, false); },
         100,
         {{32, 1, false}, {30, 1, true}, {34, 1, true}}},
    };
    for (const Case& c : cases) {
        const TBitmap frame = RunSolid(c.proc, 64, 48, c.percent);
        for (const Probe& p : c.probes)
            EXPECT_EQ(PixelAt(frame, p.x, p.y), p.revealed ? To : From) << c.name << ": " << p.x << ", " << p.y;
    }
}

TEST(KVEffectProcs, SlidesAndPushesMoveThePictures) {
    const TBitmap from = RampFrame(64, 48, 11), to = RampFrame(64, 48, 22);
    const TBitmap slid = RunEffect([](const TKVEffectCall& c) { KVSlideInFrom(c, kvFromLeft); }, 64, 48, 50, from, to);
    EXPECT_EQ(PixelAt(slid, 0, 7), (TBgr{32, 7, 22}));
    EXPECT_EQ(PixelAt(slid, 31, 7), (TBgr{63, 7, 22}));
    EXPECT_EQ(PixelAt(slid, 32, 7), (TBgr{32, 7, 11}));
    // Push right: the old picture's columns 0..31 move to 32..63, the new one's 32..63 come in at 0.
    const TBitmap pushed =
        RunEffect([](const TKVEffectCall& c) { KVPushAndSlideOut(c, kvFromLeft); }, 64, 48, 50, from, to);
    EXPECT_EQ(PixelAt(pushed, 40, 7), (TBgr{8, 7, 11}));
    EXPECT_EQ(PixelAt(pushed, 0, 7), (TBgr{32, 7, 22}));
    // Shrink to top left: the new picture's (0, 0, 32, 24) over (0, 0, 96, 72), three times enlarged.
    const TBitmap shrunk =
        RunEffect([](const TKVEffectCall& c) { KVShrinkToCorner(c, kvFromTopLeft); }, 64, 48, 50, from, to);
    EXPECT_EQ(PixelAt(shrunk, 0, 0), (TBgr{0, 0, 22}));
    EXPECT_EQ(PixelAt(shrunk, 3, 3), (TBgr{1, 1, 22}));
    EXPECT_EQ(PixelAt(shrunk, 63, 47), (TBgr{21, 15, 22}));
}

// Shreds and speckles jitter only around the revealed edge (a seventh, a tenth of the side).
TEST(KVEffectProcs, RandomEdgesStayNearTheRevealedExtent) {
    const TBitmap shred = RunSolid(
        [](const TKVEffectCall& c) {
            KVShreds(c, {{kvFromLeft, TKVShred::OneSide}});
        },
        64, 48, 50);
    std::vector<int> lengths(48);
    for (int y = 0; y < 48; ++y) {
        int& length = lengths[y];
        while (length < 64 && PixelAt(shred, length, y) == To) ++length;
        EXPECT_GE(length, 32 - 9) << y;
        EXPECT_LE(length, 32 + 9) << y;
        for (int x = length; x < 64; ++x) ASSERT_EQ(PixelAt(shred, x, y), From) << x << ", " << y;
        EXPECT_EQ(length, lengths[y / 5 * 5]) << "bands are 5 rows high: " << y;
    }
    const TBitmap speckled = RunSolid([](const TKVEffectCall& c) { KVSpeckledWipe(c, kvFromLeft); }, 64, 48, 50);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 32; ++x) ASSERT_EQ(PixelAt(speckled, x, y), To) << x << ", " << y;
        for (int x = 38; x < 64; ++x) ASSERT_EQ(PixelAt(speckled, x, y), From) << x << ", " << y;
    }
}

// A side of one pixel on a long frame gives a pitch of 1 div 4 = 0 across the blinds; the
// strips must still be drawn and the loop end.
TEST(KVEffectProcs, ThinFramesStillFinish) {
    const TKVEffectProc procs[] = {[](const TKVEffectCall& c) { KVBlinds(c, kvFromLeft); },
                                   [](const TKVEffectCall& c) { KVBlinds(c, kvFromTop); },
                                   [](const TKVEffectCall& c) { KVRectangles(c, kvFromLeft); }};
    for (TKVEffectProc proc : procs)
        EXPECT_EQ(CountPixels(RunEffect(proc, 1, 400, 100, SolidFrame(1, 400, From), SolidFrame(1, 400, To)), To), 400);
}

}  // namespace
