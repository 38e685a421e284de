// Effects that show the to frame through round rectangles, triangles, wedges and turning polygons.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "imaging/view/KVEffectProcs.h"
#include "imaging/view/KVTransitionDrawing.h"

namespace {

constexpr double Pi = std::numbers::pi;

TKVRevealMask MaskFor(const TKVEffectCall& call) { return TKVRevealMask(call.rect.Width(), call.rect.Height()); }

void Show(const TKVEffectCall& call, const TKVRevealMask& mask) { KVDrawThrough(call.current, call.to, mask); }

// A rectangle of the plane, rounded by an ellipse of the frame's axes.
void AddRoundRect(TKVRevealMask& mask, const TKVPlane& plane, const TRect& r, int ew, int eh) {
    const TRect m = plane.Map(r);
    mask.AddRoundRect(std::min(m.Left, m.Right), std::min(m.Top, m.Bottom), std::max(m.Left, m.Right),
                      std::max(m.Top, m.Bottom), ew, eh);
}

TPoint Polar(TPoint centre, double radius, double angle) {
    return {centre.X + int(std::lround(radius * std::cos(angle))),
            centre.Y + int(std::lround(radius * std::sin(angle)))};
}

// (x, y) about the centre by angle, rounded.
TPoint Rotated(TPoint centre, double x, double y, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return {centre.X + int(std::lround(x * c - y * s)), centre.Y + int(std::lround(x * s + y * c))};
}

TPoint Centre(const TKVEffectCall& call) { return {call.rect.Width() / 2, call.rect.Height() / 2}; }

// The distance from the centre to the corners, rounded up.
int CornerRadius(const TKVEffectCall& call) {
    const double hw = call.rect.Width() / 2, hh = call.rect.Height() / 2;
    return int(std::ceil(std::sqrt(hw * hw + hh * hh)));
}

// Repeated cells for the shreds: about a fifteenth of the longer side.
int ShredCell(const TKVPlane& plane) { return std::max(8, 6 * plane.u); }

}  // namespace

void KVCurvedWipeFrom(const TKVEffectCall& call, TKVFlip side) {
    const TKVPlane p(call, side);
    TKVRevealMask mask = MaskFor(call);
    AddRoundRect(mask, p, Rect(-2 * p.A, -5, 2 * p.pa, p.C + 5), 2 * p.A, 2 * p.A);
    Show(call, mask);
}

void KVCurvedWipeFromCorner(const TKVEffectCall& call, TKVFlip corner) {
    const TKVPlane p(call, corner);
    TKVRevealMask mask = MaskFor(call);
    AddRoundRect(mask, p, Rect(-2 * p.A, -2 * p.C, 2 * p.pa, 2 * p.pc), 2 * p.A, 2 * p.C);
    Show(call, mask);
}

void KVCircularWipeFromCentre(const TKVEffectCall& call) {
    const TKVPlane p(call, kvFromLeft);
    const TPoint c = Centre(call);
    TKVRevealMask mask = MaskFor(call);
    mask.AddRoundRect(c.X - p.pa, c.Y - p.pc, c.X + p.pa, c.Y + p.pc, 9 * p.pa / 5, 9 * p.pc / 5);
    Show(call, mask);
}

void KVCircularWipeToCentre(const TKVEffectCall& call) {
    const TKVPlane p(call, kvFromLeft);
    const int w = p.A, h = p.C;
    TKVRevealMask mask = MaskFor(call);
    mask.AddRoundRect(p.pa - w / 2, p.pc - h / 2, 3 * w / 2 - p.pa, 3 * h / 2 - p.pc, (w - p.pa) * 9 / 5,
                      (h - p.pc) * 9 / 5);
    mask.Invert();
    Show(call, mask);
}

void KVWipeDiagonalFrom(const TKVEffectCall& call, TKVFlip corner) {
    const TKVPlane p(call, corner);
    TKVRevealMask mask = MaskFor(call);
    mask.AddPolygon({p.Map(TPoint{0, 0}), p.Map(TPoint{2 * p.pa, 0}), p.Map(TPoint{0, 2 * p.pc})});
    Show(call, mask);
}

void KVDiagonalSweep(const TKVEffectCall& call, TKVFlip corner) {
    const TKVPlane p(call, corner);
    const int far = 2 * (p.A + p.C);
    const double angle = call.percent / 100.0 * Pi / 2;
    TKVRevealMask mask = MaskFor(call);
    mask.AddPolygon({p.Map(TPoint{0, 0}), p.Map(TPoint{far, 0}), p.Map(Polar({0, 0}, far, angle))});
    Show(call, mask);
}

// Percent points a hundredth of a turn apart from the top, so a full sweep still lacks the last
// hundredth.
void KVSweep(const TKVEffectCall& call, bool clockwise) {
    if (call.percent <= 0) return;
    const TPoint c = Centre(call);
    const int radius = CornerRadius(call);
    std::vector<TPoint> wedge{c};
    for (int i = 0; i < call.percent; ++i)
        wedge.push_back(Polar(c, radius, -Pi / 2 + (clockwise ? 1 : -1) * i * Pi / 50));
    TKVRevealMask mask = MaskFor(call);
    mask.AddPolygon(wedge);
    Show(call, mask);
}

// Eight rays, each sweeping clockwise over its eighth of the turn.
void KVStarburst(const TKVEffectCall& call) {
    const TPoint c = Centre(call);
    const int radius = 2 * CornerRadius(call);
    TKVRevealMask mask = MaskFor(call);
    for (int k = 0; k < 8; ++k) {
        const double start = -Pi / 2 + k * Pi / 4;
        mask.AddPolygon({c, Polar(c, radius, start), Polar(c, radius, start + call.percent / 100.0 * Pi / 4)});
    }
    Show(call, mask);
}

void KVRotationalRectangle(const TKVEffectCall& call) {
    const TKVPlane p(call, kvFromLeft);
    const TPoint c = Centre(call);
    // The far edges take the odd pixel, so the full rectangle is the frame.
    const double left = -(p.pa / 2), right = p.pa - p.pa / 2, top = -(p.pc / 2), bottom = p.pc - p.pc / 2;
    const double angle = call.percent * Pi / 50;
    TKVRevealMask mask = MaskFor(call);
    mask.AddPolygon({Rotated(c, left, top, angle), Rotated(c, right, top, angle), Rotated(c, right, bottom, angle),
                     Rotated(c, left, bottom, angle)});
    Show(call, mask);
}

// A five-pointed star growing and turning once; its inner corners pass the frame's corners at the end.
void KVRotationalStar(const TKVEffectCall& call) {
    const TPoint c = Centre(call);
    const double inner = 1.1 * CornerRadius(call) * call.percent / 100.0, outer = 2 * inner;
    const double angle = call.percent * Pi / 50;
    std::vector<TPoint> star;
    for (int k = 0; k < 10; ++k) {
        const double radius = k % 2 ? inner : outer, a = -Pi / 2 + k * Pi / 5;
        star.push_back(Rotated(c, radius * std::cos(a), radius * std::sin(a), angle));
    }
    TKVRevealMask mask = MaskFor(call);
    mask.AddPolygon(star);
    Show(call, mask);
}

// In every cell a triangle grows out of its bottom-right corner toward the top left.
void KVTriangularShred(const TKVEffectCall& call) {
    const TKVPlane p(call, kvFromLeft);
    const int cell = ShredCell(p), leg = 2 * cell * call.percent / 100;
    TKVRevealMask mask = MaskFor(call);
    if (leg > 0)
        for (int y = cell; y < p.C + cell; y += cell)
            for (int x = cell; x < p.A + cell; x += cell) mask.AddPolygon({{x, y}, {x - leg, y}, {x, y - leg}});
    Show(call, mask);
}

// In every cell a rectangle grows out of its centre.
void KVRectangularShred(const TKVEffectCall& call) {
    const TKVPlane p(call, kvFromLeft);
    const int cell = ShredCell(p), size = cell * call.percent / 100, inset = (cell - size) / 2;
    TKVRevealMask mask = MaskFor(call);
    if (size > 0)
        for (int y = 0; y < p.C; y += cell)
            for (int x = 0; x < p.A; x += cell) mask.AddRect(x + inset, y + inset, x + inset + size, y + inset + size);
    Show(call, mask);
}
