#include "imaging/view/KVBuiltinTransitions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/view/KVTransitionDrawing.h"

namespace {

constexpr TColor Red = RGB(255, 0, 0);

int Round(double value) { return int(std::nearbyint(value)); }

// An unscaled copy of the source's rectangle (sx, sy, w, h) to (x, y).
void Blit(TBitmap& dst, int x, int y, int w, int h, const TBitmap& src, int sx, int sy) {
    if (w <= 0 || h <= 0) return;
    KVCopyRect(dst, Rect(x, y, x + w, y + h), src, Rect(sx, sy, sx + w, sy + h));
}

void CopyWhole(TBitmap& dst, const TBitmap& src) { Blit(dst, 0, 0, src.Width(), src.Height(), src, 0, 0); }

// Every byte of current = (a x (1024 - weight) + b x weight) >> 10.
void Blend(TBitmap& current, const uint8_t* aColor, const TBitmap* a, const uint8_t* bColor, const TBitmap* b,
           int weight) {
    const int bytes = current.Width() * 3;
    for (int y = 0; y < current.Height(); ++y) {
        uint8_t* out = current.ScanLine(y);
        const uint8_t* ra = a ? a->ScanLine(y) : nullptr;
        const uint8_t* rb = b ? b->ScanLine(y) : nullptr;
        for (int i = 0; i < bytes; ++i) {
            const int va = ra ? ra[i] : aColor[i % 3], vb = rb ? rb[i] : bColor[i % 3];
            out[i] = uint8_t((va * (1024 - weight) + vb * weight) >> 10);
        }
    }
}

void FadeOut(TKVFrames& f, const uint8_t* bg, int p) { Blend(f.current, nullptr, &f.from, bg, nullptr, p); }
void FadeIn(TKVFrames& f, const uint8_t* bg, int p) { Blend(f.current, bg, nullptr, nullptr, &f.to, p); }

// Columns [0, count) of current from a, the rest from b starting at column bStart: one row
// operation of the push and slide-out effects, also used on rows through `vertical`.
void Join(TKVFrames& f, bool vertical, int count, const TBitmap& a, int aStart, const TBitmap& b, int bStart) {
    const int w = f.current.Width(), h = f.current.Height();
    const int size = vertical ? h : w;
    count = std::clamp(count, 0, size);
    if (vertical) {
        Blit(f.current, 0, 0, w, count, a, 0, aStart);
        Blit(f.current, 0, count, w, size - count, b, 0, bStart);
    } else {
        Blit(f.current, 0, 0, count, h, a, aStart, 0);
        Blit(f.current, count, 0, size - count, h, b, bStart, 0);
    }
}

// The centred rectangle of effect 27 (grow = p) and 28 (grow = 1024 - p).
TRect CentredRect(int w, int h, int grow) {
    const int left = w / 2 - ((grow * (w / 2)) >> 10), top = h / 2 - ((grow * (h / 2)) >> 10);
    return Rect(left, top, left + ((grow * w) >> 10), top + ((grow * h) >> 10));
}

// n new random pixels or blocks since the previous tick.
int RandomGrowth(double n, int& randomCount) {
    const int count = Round(n);
    const int growth = count - randomCount;
    randomCount = count;
    return std::max(growth, 0);
}

}  // namespace

bool KVIsBuiltinEffect(int effect) { return effect >= 1 && effect <= KVBuiltinEffectCount; }

void KVDrawBuiltinEffect(TKVTransitionType effect, int p, TKVFrames& f, TColor background, int& randomCount) {
    TBitmap& cur = f.current;
    const int w = cur.Width(), h = cur.Height();
    const TColor bgRGB = ColorToRGB(background);
    const uint8_t bg[3] = {uint8_t(GetBValue(bgRGB)), uint8_t(GetGValue(bgRGB)), uint8_t(GetRValue(bgRGB))};
    const int d = 1024 - p;
    const bool startsFromFrom = (effect >= kvttLeftRight1 && effect <= kvttFromBottomRight) || effect == kvttCenter1 ||
                                effect == kvttCenterZoom1;
    if (startsFromFrom && p == 0) CopyWhole(cur, f.from);
    switch (effect) {
        case kvttCrossDissolve:
            Blend(cur, nullptr, &f.from, nullptr, &f.to, p);
            break;
        case kvttFadeOut:
            FadeOut(f, bg, p);
            break;
        case kvttFadeIn:
            FadeIn(f, bg, p);
            break;
        case kvttFadeOutIn:
            if (p < 512)
                FadeOut(f, bg, 2 * p);
            else
                FadeIn(f, bg, 2 * p - 1024);
            break;
        case kvttLeftRight1:
        case kvttLeftRight2: {
            const int x = (p * w) >> 10;
            Blit(cur, 0, 0, x, h, f.to, 0, 0);
            if (effect == kvttLeftRight2) KVVerticalLine(cur, x, Red);
            break;
        }
        case kvttRightLeft1:
        case kvttRightLeft2: {
            const int x = Round(w * double(d) / 1024);
            Blit(cur, x, 0, Round(p * double(w) / 1024), h, f.to, x, 0);
            if (effect == kvttRightLeft2) KVVerticalLine(cur, x, Red);
            break;
        }
        case kvttUpDown1:
        case kvttUpDown2: {
            const int y = Round(p * double(h) / 1024);
            Blit(cur, 0, 0, w, y, f.to, 0, 0);
            if (effect == kvttUpDown2) KVHorizontalLine(cur, y, Red);
            break;
        }
        case kvttDownUp1:
        case kvttDownUp2: {
            const int y = Round(h * double(d) / 1024);
            Blit(cur, 0, y, w, Round(p * double(h) / 1024), f.to, 0, y);
            if (effect == kvttDownUp2) KVHorizontalLine(cur, y, Red);
            break;
        }
        case kvttFromUpLeft:
            Blit(cur, -((d * w) >> 10), -((d * h) >> 10), w, h, f.to, 0, 0);
            break;
        case kvttFromUpRight:
            Blit(cur, (d * w) >> 10, -((d * h) >> 10), w, h, f.to, 0, 0);
            break;
        case kvttFromBottomLeft:
            Blit(cur, -((d * w) >> 10), (d * h) >> 10, w, h, f.to, 0, 0);
            break;
        case kvttFromBottomRight:
            Blit(cur, (d * w) >> 10, (d * h) >> 10, w, h, f.to, 0, 0);
            break;
        case kvttMoveLeftRight1: {
            const int c = (p * w) >> 10;
            Join(f, false, c, f.to, w - c, f.from, 0);
            break;
        }
        case kvttMoveLeftRight2:
            Join(f, false, (p * w) >> 10, f.to, 0, f.from, 0);
            break;
        case kvttMoveRightLeft1: {
            const int c = (d * w) >> 10;
            Join(f, false, c, f.from, w - c, f.to, 0);
            break;
        }
        case kvttMoveRightLeft2:
            Join(f, false, (d * w) >> 10, f.from, 0, f.to, 0);
            break;
        case kvttMoveUpDown1: {
            const int c = (p * h) >> 10;
            Join(f, true, c, f.to, h - c, f.from, 0);
            break;
        }
        case kvttMoveUpDown2:
            Join(f, true, (p * h) >> 10, f.to, 0, f.from, 0);
            break;
        case kvttMoveDownUp1: {
            const int c = (d * h) >> 10;
            Join(f, true, c, f.from, h - c, f.to, 0);
            break;
        }
        case kvttMoveDownUp2: {
            const int c = (d * h) >> 10;
            Join(f, true, c, f.from, h - c, f.to, c);
            break;
        }
        case kvttRandomPoints: {
            if (p == 0) {
                CopyWhole(cur, f.from);
                break;
            }
            const int growth = RandomGrowth(p * double(w) * (p / 180.0) / 1024, randomCount);
            for (int y = 0; y < h; ++y)
                for (int i = 0; i < growth; ++i) {
                    const int x = KVTransitionRandom(w);
                    std::memcpy(cur.ScanLine(y) + 3 * x, f.to.ScanLine(y) + 3 * x, 3);
                }
            break;
        }
        case kvttRandomBoxes: {
            if (p == 0) {
                CopyWhole(cur, f.from);
                break;
            }
            const int growth = RandomGrowth(p * double((int64_t(w) * h) / 64) * (p / 180.0) / 1024, randomCount);
            for (int i = 0; i < growth; ++i) {
                const int x = KVTransitionRandom(w) / 8 * 8, y = KVTransitionRandom(h) / 8 * 8;
                Blit(cur, x, y, 8, 8, f.to, x, y);
            }
            break;
        }
        case kvttCenter1: {
            const TRect r = CentredRect(w, h, p);
            Blit(cur, r.Left, r.Top, r.Width(), r.Height(), f.to, r.Left, r.Top);
            break;
        }
        case kvttCenter2: {
            CopyWhole(cur, f.to);
            const TRect r = CentredRect(w, h, d);
            Blit(cur, r.Left, r.Top, r.Width(), r.Height(), f.from, r.Left, r.Top);
            break;
        }
        case kvttCenterZoom1:
            KVCopyRect(cur, CentredRect(w, h, p), f.to, Rect(0, 0, w, h));
            break;
        case kvttCenterZoom2:
            CopyWhole(cur, f.to);
            KVCopyRect(cur, CentredRect(w, h, d), f.from, Rect(0, 0, w, h));
            break;
        default:
            break;
    }
}

void KVDrawPanZoom(int p, const TKVPanZoom& pz, TBitmap& current) {
    const auto between = [p](int from, int to) { return Round(from - p * double(from - to) / 1024); };
    const int sw = pz.source.Width(), sh = pz.source.Height();
    if (sw <= 0 || sh <= 0) return;
    const int left = std::clamp(between(pz.start.Left, pz.end.Left), 0, sw - 1);
    const int top = std::clamp(between(pz.start.Top, pz.end.Top), 0, sh - 1);
    // The rectangle stays inside the source however the two rectangles were given.
    const int width = std::min({sw - 1, between(pz.start.Right, pz.end.Right) - left, sw - left});
    const int height = std::min({sh - 1, between(pz.start.Bottom, pz.end.Bottom) - top, sh - top});
    if (width <= 0 || height <= 0) return;
    KVCopyRect(current, Rect(0, 0, current.Width(), current.Height()), pz.source,
               Rect(left, top, left + width, top + height));
}
