#pragma once
// The effects the transition engine draws itself: fades, wipes, slides, pushes, random points and
// boxes, centre wipes and zooms, and the pan and zoom over one picture. Progress runs 0..1024.
#include "imaging/view/KVTransitionTypes.h"
#include "platform/Graphics.h"

// The three frames of a running transition, all 24-bit and of one size.
struct TKVFrames {
    TBitmap from, to, current;
};

struct TKVPanZoom {
    TBitmap source;    // 24-bit
    TRect start, end;  // in source pixels
};

// Whether effect is drawn by KVDrawBuiltinEffect (values 1 to 30).
bool KVIsBuiltinEffect(int effect);

// Draws frames.current for the built-in effect at progress 0..1024. background is the view's
// colour the fades pass through; randomCount carries the random effects' count from tick to tick.
void KVDrawBuiltinEffect(TKVTransitionType effect, int progress, TKVFrames& frames, TColor background,
                         int& randomCount);

// The rectangle of the source between start and end at progress, stretched over current.
void KVDrawPanZoom(int progress, const TKVPanZoom& panZoom, TBitmap& current);
