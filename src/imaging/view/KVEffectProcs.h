#pragma once
// The builders behind the effect table's procedures, grouped by how they reveal the to frame:
// stretched copies, and copies through a mask of the revealed area. Each effect is written once
// as if it ran from the left (or the top-left corner) and turned to its side by a TKVFlip.
#include <vector>

#include "imaging/view/KVTransitionTable.h"

// The revealed width pw and height ph, and the unit u of repeated shapes, at least 1.
struct TKVEffectGeometry {
    int w, h, pw, ph, u;
};
TKVEffectGeometry KVEffectGeometry(int width, int height, int percent, int step);

// Turns a shape drawn running from the left edge toward the right (along) to its side: the along
// axis mirrored (from the right), the across axis mirrored (from the bottom of a corner effect),
// and along running down instead of right.
struct TKVFlip {
    bool flipAlong = false, flipAcross = false, transpose = false;
};
constexpr TKVFlip kvFromLeft{}, kvFromRight{true, false, false}, kvFromTop{false, false, true},
    kvFromBottom{true, false, true};
constexpr TKVFlip kvFromTopLeft{}, kvFromTopRight{true, false, false}, kvFromBottomLeft{false, true, false},
    kvFromBottomRight{true, true, false};

// The geometry seen along a flip: A and C the frame's size along and across, pa and pc the
// revealed extents along and across.
class TKVPlane {
public:
    TKVPlane(const TKVEffectCall& call, TKVFlip flip);
    int A, C, pa, pc, u;
    // Keeps a mirrored rectangle (Right left of Left) mirrored.
    TRect Map(const TRect& r) const;
    TPoint Map(TPoint p) const;

private:
    TKVFlip flip_;
};

// --- Stretched copies of the to frame
enum class TKVQuarters { Wipe, Expand, Slide };
void KVExpandFrom(const TKVEffectCall& call, TKVFlip side);
void KVExpandFromCorner(const TKVEffectCall& call, TKVFlip corner);
void KVExpandInFrom(const TKVEffectCall& call, TKVFlip side);
void KVExpandInToCentre(const TKVEffectCall& call, TKVFlip axis);
void KVExpandInFromSides(const TKVEffectCall& call, TKVFlip axis);
void KVExpandOutFromCentre(const TKVEffectCall& call, TKVFlip axis);
void KVWipeFromCorner(const TKVEffectCall& call, TKVFlip corner);
void KVWipeOutFromCentre(const TKVEffectCall& call, TKVFlip axis);
void KVWipeInFromSides(const TKVEffectCall& call, TKVFlip axis);
void KVBuildUpFrom(const TKVEffectCall& call, TKVFlip side);
void KVUnrollFrom(const TKVEffectCall& call, TKVFlip side);
void KVSlideInFrom(const TKVEffectCall& call, TKVFlip side);
void KVSlideInFromBothSides(const TKVEffectCall& call, TKVFlip axis);
void KVShrinkToCorner(const TKVEffectCall& call, TKVFlip corner);
void KVShrinkToCentre(const TKVEffectCall& call);
void KVQuartersToCentre(const TKVEffectCall& call, TKVQuarters kind);
// side: where the to frame comes in.
void KVPushAndSlideOut(const TKVEffectCall& call, TKVFlip side);
void KVPushAndSqueeze(const TKVEffectCall& call, TKVFlip side);

// --- Curves and polygons
void KVCurvedWipeFrom(const TKVEffectCall& call, TKVFlip side);
void KVCurvedWipeFromCorner(const TKVEffectCall& call, TKVFlip corner);
void KVCircularWipeFromCentre(const TKVEffectCall& call);
void KVCircularWipeToCentre(const TKVEffectCall& call);
void KVWipeDiagonalFrom(const TKVEffectCall& call, TKVFlip corner);
// Clockwise from the top-left corner; mirrored along, counter-clockwise from the top-right one.
void KVDiagonalSweep(const TKVEffectCall& call, TKVFlip corner);
void KVSweep(const TKVEffectCall& call, bool clockwise);
void KVStarburst(const TKVEffectCall& call);
void KVRotationalRectangle(const TKVEffectCall& call);
void KVRotationalStar(const TKVEffectCall& call);
void KVTriangularShred(const TKVEffectCall& call);
void KVRectangularShred(const TKVEffectCall& call);

// --- Bands: bars, shreds, speckles, blinds
// One set of bands growing from one side; there and back (first half from the side, second
// half from the opposite one); both sets at once from opposite sides.
enum class TKVBars { OneSide, ThereAndBack, BothSides };
struct TKVBarSet {
    TKVFlip side;
    TKVBars kind;
};
void KVBars(const TKVEffectCall& call, const std::vector<TKVBarSet>& sets);
enum class TKVShred { OneSide, InToCentre, OutFromCentre };
struct TKVShredSet {
    TKVFlip side;
    TKVShred kind;
};
void KVShreds(const TKVEffectCall& call, const std::vector<TKVShredSet>& sets);
void KVSpeckledWipe(const TKVEffectCall& call, TKVFlip side);
void KVBlinds(const TKVEffectCall& call, TKVFlip axis);
void KVUnevenBlinds(const TKVEffectCall& call, TKVFlip side);
void KVRectangles(const TKVEffectCall& call, TKVFlip side);
