// Effects that show the to frame through rows of bands: bars, shreds, speckles, blinds and
// staggered rectangles. Each is built along the plane's rows and turned by its flip.
#include <algorithm>

#include "imaging/view/KVEffectProcs.h"
#include "imaging/view/KVTransitionDrawing.h"

namespace {

// A mask of the frame to which rectangles of a plane are added.
class TKVPlaneMask {
public:
    explicit TKVPlaneMask(const TKVEffectCall& call) : mask(call.rect.Width(), call.rect.Height()) {}
    void Add(const TKVPlane& plane, const TRect& r) {
        const TRect m = plane.Map(r);
        mask.AddRect(std::min(m.Left, m.Right), std::min(m.Top, m.Bottom), std::max(m.Left, m.Right),
                     std::max(m.Top, m.Bottom));
    }
    TKVRevealMask mask;
};

void Show(const TKVEffectCall& call, const TKVPlaneMask& mask) { KVDrawThrough(call.current, call.to, mask.mask); }

// Bars: bands 5 wide every 10, in two interleaved sets.
constexpr int BarWidth = 5, BarPitch = 10;

// A bar's length: nothing yet, or the whole side once within a unit of it.
int BarLength(const TKVPlane& plane, int length) {
    if (length <= 0) return 0;
    return length >= plane.A - plane.u ? plane.A : length;
}

void AddBarSet(TKVPlaneMask& mask, const TKVPlane& plane, int set, bool fromFarSide, int length) {
    if (length <= 0) return;
    for (int c = set * BarWidth; c < plane.C; c += BarPitch)
        mask.Add(plane,
                 fromFarSide ? Rect(plane.A - length, c, plane.A, c + BarWidth) : Rect(0, c, length, c + BarWidth));
}

// The shreds' ends wander by up to a seventh of the side while the wipe is incomplete.
int Jitter(const TKVPlane& plane, int length) {
    if (plane.pa <= 0 || plane.pa >= plane.A) return length;
    const int reach = plane.A / 7;
    return std::clamp(length + KVTransitionRandom(reach) - KVTransitionRandom(reach), 0, plane.A);
}

constexpr int ShredWidth = 5;

}  // namespace

void KVBars(const TKVEffectCall& call, const std::vector<TKVBarSet>& sets) {
    TKVPlaneMask mask(call);
    for (const TKVBarSet& set : sets) {
        const TKVPlane p(call, set.side);
        switch (set.kind) {
            case TKVBars::OneSide:
                AddBarSet(mask, p, 0, false, BarLength(p, 2 * p.pa));
                AddBarSet(mask, p, 1, false, BarLength(p, 2 * p.pa - p.A));
                break;
            case TKVBars::ThereAndBack:
                AddBarSet(mask, p, 0, false, BarLength(p, 2 * p.pa));
                AddBarSet(mask, p, 1, true, BarLength(p, 2 * p.pa - p.A));
                break;
            case TKVBars::BothSides:
                AddBarSet(mask, p, 0, false, BarLength(p, p.pa));
                AddBarSet(mask, p, 1, true, BarLength(p, p.pa));
                break;
        }
    }
    Show(call, mask);
}

void KVShreds(const TKVEffectCall& call, const std::vector<TKVShredSet>& sets) {
    TKVPlaneMask mask(call);
    for (const TKVShredSet& set : sets) {
        const TKVPlane p(call, set.side);
        if (p.pa <= 0) continue;
        for (int c = 0; c < p.C; c += ShredWidth) {
            switch (set.kind) {
                case TKVShred::OneSide:
                    mask.Add(p, Rect(0, c, Jitter(p, p.pa), c + ShredWidth));
                    break;
                case TKVShred::InToCentre: {
                    const int half = p.pa / 2;
                    mask.Add(p, Rect(0, c, Jitter(p, half), c + ShredWidth));
                    mask.Add(p, Rect(p.A - Jitter(p, p.pa - half), c, p.A, c + ShredWidth));
                    break;
                }
                case TKVShred::OutFromCentre: {
                    const int length = Jitter(p, p.pa), start = (p.A - length) / 2;
                    mask.Add(p, Rect(start, c, start + length, c + ShredWidth));
                    break;
                }
            }
        }
    }
    Show(call, mask);
}

// Overlapping bands, each the revealed part and squares scattered ahead of its edge, fewer the
// farther ahead.
void KVSpeckledWipe(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    const int size = std::max(2, (call.rect.Width() / 10) / 20), reach = std::max(p.A / 10, 1);
    TKVPlaneMask mask(call);
    if (p.pa > 0)
        for (int c = 0; c < p.C; c += size / 2) {
            mask.Add(p, Rect(0, c, p.pa, c + size));
            if (p.pa >= p.A) continue;
            for (int ahead = 0; ahead < reach; ahead += size)
                if (KVTransitionRandom(reach) >= ahead)
                    mask.Add(p, Rect(p.pa + ahead, c, p.pa + ahead + size, c + size));
        }
    Show(call, mask);
}

void KVBlinds(const TKVEffectCall& call, TKVFlip axis) {
    const TKVPlane p(call, axis);
    const int pitch = std::max(p.A / p.u, 1), width = call.percent * pitch / 100;
    TKVPlaneMask mask(call);
    for (int a = 0; a < p.A && width > 0; a += pitch) mask.Add(p, Rect(a, 0, a + width, p.C));
    Show(call, mask);
}

void KVUnevenBlinds(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    const int pitch = std::max(p.pa, 1), width = call.percent * pitch / 100;
    TKVPlaneMask mask(call);
    for (int a = 0; a < p.A && width > 0; a += pitch) mask.Add(p, Rect(a, 0, a + width, p.C));
    Show(call, mask);
}

// Rows of cells, every other row shifted by half a cell; each cell fills from its leading edge.
void KVRectangles(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    const int pitch = std::max(std::max(p.A, p.C) / p.u, 1), width = call.percent * pitch / 100;
    TKVPlaneMask mask(call);
    for (int c = 0, row = 0; c < p.C && width > 0; c += pitch, ++row)
        for (int a = row % 2 ? -pitch / 2 : 0; a < p.A; a += pitch) mask.Add(p, Rect(a, c, a + width, c + pitch));
    Show(call, mask);
}
