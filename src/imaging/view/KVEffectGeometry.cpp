#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>

#include "imaging/view/KVEffectProcs.h"

namespace {

// a x b / c rounded half up, in 64 bits; the sizes and percents here are never negative.
int MulDiv(int a, int b, int c) { return c > 0 ? int((int64_t(a) * b + c / 2) / c) : 0; }

}  // namespace

TKVEffectGeometry KVEffectGeometry(int width, int height, int percent, int step) {
    const bool wide = width >= height;
    const int longer = wide ? width : height, shorter = wide ? height : width;
    const int along = MulDiv(longer, percent, 100);
    const int across = MulDiv(along, shorter, longer);
    // A small frame would give a unit of 0, which the repeated shapes divide by.
    const int u = std::max(MulDiv(longer, step, 90), 1);
    return {width, height, wide ? along : across, wide ? across : along, u};
}

TKVPlane::TKVPlane(const TKVEffectCall& call, TKVFlip flip) : flip_(flip) {
    const TKVEffectGeometry g = KVEffectGeometry(call.rect.Width(), call.rect.Height(), call.percent, call.step);
    A = flip.transpose ? g.h : g.w;
    C = flip.transpose ? g.w : g.h;
    pa = flip.transpose ? g.ph : g.pw;
    pc = flip.transpose ? g.pw : g.ph;
    u = g.u;
}

TRect TKVPlane::Map(const TRect& r) const {
    int a0 = r.Left, a1 = r.Right, c0 = r.Top, c1 = r.Bottom;
    if (flip_.flipAlong) std::tie(a0, a1) = std::pair(A - a1, A - a0);
    if (flip_.flipAcross) std::tie(c0, c1) = std::pair(C - c1, C - c0);
    return flip_.transpose ? Rect(c0, a0, c1, a1) : Rect(a0, c0, a1, c1);
}

TPoint TKVPlane::Map(TPoint p) const {
    const int a = flip_.flipAlong ? A - p.X : p.X, c = flip_.flipAcross ? C - p.Y : p.Y;
    return flip_.transpose ? TPoint{c, a} : TPoint{a, c};
}
