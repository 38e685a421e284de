// Every effect of the table, 1 to 163, on a wide and a tall frame: it starts from the old
// picture, only ever adds pixels of the new one, and (but for the few that cannot) ends on it.
#include <gtest/gtest.h>

#include <set>

#include "TransitionFixtures.h"
#include "imaging/view/KVTransitionEffects.h"

namespace {

constexpr TBgr From{10, 100, 200}, To{250, 50, 0};
constexpr TColor Background = RGB(64, 128, 192);
constexpr TBgr BackgroundBgr{192, 128, 64};

struct Size {
    int w, h;
};
constexpr Size Sizes[] = {{64, 48}, {48, 64}};

// The second kinds of wipe draw their red line at the moving edge, which stands on the first
// column at the start (left to right, top to bottom) or at the end (the other two ways).
const std::set<int> RedLineAtTheStart{kvttLeftRight2, kvttUpDown2}, RedLineAtTheEnd{kvttRightLeft2, kvttDownUp2};

// Effects whose last frame is not the new picture: the fade out ends on the background, the
// random ones cover what chance gives them, and a sweep leaves its last hundredth to the final copy.
const std::set<int> NotEndingOnTheNewPicture{kvttFadeOut, kvttRandomPoints, kvttRandomBoxes, kvttSweepClockwise,
                                             kvttSweepCounterClockwise};

TBitmap Draw(TKVTransitionType effect, int progress, TKVFrames& frames, int& randomCount) {
    KVDrawTransitionFrame(effect, progress, frames, TKVPanZoom{}, Background, randomCount);
    return frames.current;
}

TEST(KVTransitionFrames, FirstFrameIsTheOldPictureAndPercentZeroRevealsNothing) {
    for (const Size s : Sizes)
        for (int v = 1; v <= KVEffectCount; ++v) {
            const auto effect = TKVTransitionType(v);
            TKVFrames frames{RampFrame(s.w, s.h, 11), RampFrame(s.w, s.h, 22), SolidFrame(s.w, s.h, {1, 2, 3})};
            int randomCount = 0;
            const TBitmap first = Draw(effect, 0, frames, randomCount);
            if (effect == kvttFadeIn) {
                EXPECT_EQ(CountPixels(first, BackgroundBgr), s.w * s.h);
            } else if (RedLineAtTheStart.count(v)) {
                EXPECT_EQ(CountPixels(first, {0, 0, 255}), v == kvttLeftRight2 ? s.h : s.w) << v;
            } else {
                EXPECT_TRUE(SamePixels(first, frames.from)) << v << " on " << s.w << " x " << s.h;
            }
            // Progress 5 is 0 percent.
            if (v > KVBuiltinEffectCount) {
                EXPECT_TRUE(SamePixels(Draw(effect, 5, frames, randomCount), frames.from)) << v;
            }
        }
}

TEST(KVTransitionFrames, NewPicturesPixelsNeverShrink) {
    for (const Size s : Sizes)
        for (int v = 1; v <= KVEffectCount; ++v) {
            const auto effect = TKVTransitionType(v);
            TKVFrames frames{SolidFrame(s.w, s.h, From), SolidFrame(s.w, s.h, To), SolidFrame(s.w, s.h, {1, 2, 3})};
            int randomCount = 0, revealed = 0;
            for (int progress : {0, 256, 512, 768, 1024}) {
                const int now = CountPixels(Draw(effect, progress, frames, randomCount), To);
                EXPECT_GE(now, revealed) << v << " at " << progress << " on " << s.w << " x " << s.h;
                revealed = now;
            }
        }
}

TEST(KVTransitionFrames, LastFrameIsTheNewPicture) {
    for (const Size s : Sizes)
        for (int v = 1; v <= KVEffectCount; ++v) {
            if (NotEndingOnTheNewPicture.count(v) || RedLineAtTheEnd.count(v)) continue;
            const auto effect = TKVTransitionType(v);
            TKVFrames frames{RampFrame(s.w, s.h, 11), RampFrame(s.w, s.h, 22), SolidFrame(s.w, s.h, {1, 2, 3})};
            int randomCount = 0;
            for (int progress : {0, 256, 512, 768, 1024}) Draw(effect, progress, frames, randomCount);
            EXPECT_TRUE(SamePixels(frames.current, frames.to)) << v << " on " << s.w << " x " << s.h;
        }
}

TEST(KVTransitionFrames, FadeOutEndsOnTheBackground) {
    TKVFrames frames{SolidFrame(64, 48, From), SolidFrame(64, 48, To), SolidFrame(64, 48, From)};
    int randomCount = 0;
    EXPECT_EQ(CountPixels(Draw(kvttFadeOut, 1024, frames, randomCount), BackgroundBgr), 64 * 48);
}

// Effects reached with values outside the table draw nothing and read nothing.
TEST(KVTransitionFrames, ValuesOutsideTheTableDrawNothing) {
    for (int v : {0, 165, 255}) {
        TKVFrames frames{SolidFrame(8, 8, From), SolidFrame(8, 8, To), SolidFrame(8, 8, {1, 2, 3})};
        int randomCount = 0;
        EXPECT_EQ(CountPixels(Draw(TKVTransitionType(v), 512, frames, randomCount), {1, 2, 3}), 64) << v;
    }
}

}  // namespace
