// Effects that reveal the to frame by stretched copies onto the current frame.
#include "imaging/view/KVEffectProcs.h"
#include "imaging/view/KVTransitionDrawing.h"

namespace {

// The to frame's rectangle src (in the plane) stretched over dst (in the plane).
void CopyTo(const TKVEffectCall& call, const TKVPlane& plane, const TRect& dst, const TRect& src) {
    KVCopyRect(call.current, plane.Map(dst), call.to, plane.Map(src));
}

void CopyInPlace(const TKVEffectCall& call, const TKVPlane& plane, const TRect& r) { CopyTo(call, plane, r, r); }

TRect Whole(const TKVPlane& plane) { return Rect(0, 0, plane.A, plane.C); }

}  // namespace

void KVExpandFrom(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    CopyTo(call, p, Rect(0, 0, p.pa, p.C), Whole(p));
}

void KVExpandFromCorner(const TKVEffectCall& call, TKVFlip corner) {
    const TKVPlane p(call, corner);
    CopyTo(call, p, Rect(0, 0, p.pa, p.pc), Whole(p));
}

void KVExpandInFrom(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    CopyTo(call, p, Rect(0, (p.C - p.pc) / 2, p.pa, (p.C + p.pc) / 2), Whole(p));
}

void KVExpandInToCentre(const TKVEffectCall& call, TKVFlip axis) {
    const TKVPlane p(call, axis);
    const int half = p.pa / 2, rest = p.pa - half, middle = p.A / 2;
    CopyTo(call, p, Rect(0, 0, half, p.C), Rect(0, 0, middle, p.C));
    CopyTo(call, p, Rect(p.A - rest, 0, p.A, p.C), Rect(middle, 0, p.A, p.C));
}

void KVExpandInFromSides(const TKVEffectCall& call, TKVFlip axis) {
    const TKVPlane p(call, axis);
    const int half = p.pa / 2, rest = p.pa - half, middle = p.A / 2;
    CopyTo(call, p, Rect(0, 0, half, p.C), Rect(middle - half, 0, middle, p.C));
    CopyTo(call, p, Rect(p.A - rest, 0, p.A, p.C), Rect(middle, 0, middle + rest, p.C));
}

void KVExpandOutFromCentre(const TKVEffectCall& call, TKVFlip axis) {
    const TKVPlane p(call, axis);
    CopyTo(call, p, Rect((p.A - p.pa) / 2, 0, (p.A + p.pa) / 2, p.C), Whole(p));
}

void KVWipeFromCorner(const TKVEffectCall& call, TKVFlip corner) {
    const TKVPlane p(call, corner);
    CopyInPlace(call, p, Rect(0, 0, p.pa, p.pc));
}

void KVWipeOutFromCentre(const TKVEffectCall& call, TKVFlip axis) {
    const TKVPlane p(call, axis);
    CopyInPlace(call, p, Rect((p.A - p.pa) / 2, 0, (p.A + p.pa) / 2, p.C));
}

void KVWipeInFromSides(const TKVEffectCall& call, TKVFlip axis) {
    const TKVPlane p(call, axis);
    const int half = p.pa / 2, rest = p.pa - half;
    CopyInPlace(call, p, Rect(0, 0, half, p.C));
    CopyInPlace(call, p, Rect(p.A - rest, 0, p.A, p.C));
}

// The revealed part in place, and the to frame's next column smeared over the rest.
void KVBuildUpFrom(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    if (p.pa <= 0) return;
    CopyInPlace(call, p, Rect(0, 0, p.pa, p.C));
    if (p.pa < p.A) CopyTo(call, p, Rect(p.pa, 0, p.A, p.C), Rect(p.pa, 0, p.pa + 1, p.C));
}

void KVUnrollFrom(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    CopyInPlace(call, p, Rect(0, 0, p.pa, p.C));
    const double fifth = p.A / 5.0;
    const int roll = p.pa < fifth ? p.pa / 2 : (p.A < p.pa + fifth ? (p.A - p.pa) / 2 : p.A / 10);
    // Left and Right swapped: the roll shows the next strip mirrored.
    CopyTo(call, p, Rect(p.pa + roll, 0, p.pa, p.C), Rect(p.pa, 0, p.pa + roll, p.C));
}

void KVSlideInFrom(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    CopyTo(call, p, Rect(p.pa - p.A, 0, p.pa, p.C), Whole(p));
}

void KVSlideInFromBothSides(const TKVEffectCall& call, TKVFlip axis) {
    const TKVPlane p(call, axis);
    const int half = p.pa / 2, rest = p.pa - half, middle = p.A / 2;
    CopyTo(call, p, Rect(half - middle, 0, half, p.C), Rect(0, 0, middle, p.C));
    CopyTo(call, p, Rect(p.A - rest, 0, 2 * p.A - rest - middle, p.C), Rect(middle, 0, p.A, p.C));
}

void KVShrinkToCorner(const TKVEffectCall& call, TKVFlip corner) {
    const TKVPlane p(call, corner);
    CopyTo(call, p, Rect(0, 0, 2 * p.A - p.pa, 2 * p.C - p.pc), Rect(0, 0, p.pa, p.pc));
}

void KVShrinkToCentre(const TKVEffectCall& call) {
    const TKVPlane p(call, kvFromLeft);
    const int w = p.A, h = p.C, pw = p.pa, ph = p.pc;
    CopyTo(call, p, Rect(pw - w, ph - h, 2 * w - pw, 2 * h - ph),
           Rect((w - pw) / 2, (h - ph) / 2, (w + pw) / 2, (h + ph) / 2));
}

// Each quarter comes in from its own corner; the right and bottom quarters take the odd pixel.
void KVQuartersToCentre(const TKVEffectCall& call, TKVQuarters kind) {
    for (TKVFlip corner : {kvFromTopLeft, kvFromTopRight, kvFromBottomLeft, kvFromBottomRight}) {
        const TKVPlane p(call, corner);
        const int qa = corner.flipAlong ? p.A - p.A / 2 : p.A / 2, qc = corner.flipAcross ? p.C - p.C / 2 : p.C / 2;
        const int ra = corner.flipAlong ? p.pa - p.pa / 2 : p.pa / 2;
        const int rc = corner.flipAcross ? p.pc - p.pc / 2 : p.pc / 2;
        const TRect dst = Rect(0, 0, ra, rc);
        switch (kind) {
            case TKVQuarters::Wipe:
                CopyInPlace(call, p, dst);
                break;
            case TKVQuarters::Expand:
                CopyTo(call, p, dst, Rect(0, 0, qa, qc));
                break;
            case TKVQuarters::Slide:
                CopyTo(call, p, dst, Rect(qa - ra, qc - rc, qa, qc));
                break;
        }
    }
}

// The current frame moves on by the revealed extent; the to frame's far end comes in behind it.
void KVPushAndSlideOut(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    KVCopyRect(call.current, p.Map(Rect(p.pa, 0, p.A, p.C)), call.current, p.Map(Rect(0, 0, p.A - p.pa, p.C)));
    CopyTo(call, p, Rect(0, 0, p.pa, p.C), Rect(p.A - p.pa, 0, p.A, p.C));
}

void KVPushAndSqueeze(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    KVCopyRect(call.current, p.Map(Rect(p.pa, 0, p.A, p.C)), call.current, p.Map(Whole(p)));
    CopyTo(call, p, Rect(0, 0, p.pa, p.C), Rect(p.A - p.pa, 0, p.A, p.C));
}
