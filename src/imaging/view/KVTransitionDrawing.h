#pragma once
// Drawing on the 24-bit frames of a transition without a display: stretched copies, masks of the
// revealed area and copies through them. Nothing here reads or writes outside a bitmap.
#include <cstdint>
#include <vector>

#include "platform/Graphics.h"

// A 24-bit bitmap of the given size, every pixel the colour.
void KVFillFrame(TBitmap& frame, int width, int height, TColor color);

// The source rectangle stretched over the destination rectangle, clipped to both bitmaps. A
// destination whose Right lies left of its Left (or Bottom above Top) is drawn mirrored. Shrinking
// averages the source pixels each destination pixel covers; an unscaled copy is exact. The
// source may be the destination itself.
void KVCopyRect(TBitmap& dst, const TRect& dstRect, const TBitmap& src, const TRect& srcRect);

// A solid pen line one pixel wide, clipped.
void KVVerticalLine(TBitmap& frame, int x, TColor color);
void KVHorizontalLine(TBitmap& frame, int y, TColor color);

// One flag per pixel of a frame: set where the to frame shows through.
class TKVRevealMask {
public:
    TKVRevealMask(int width, int height);
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool At(int x, int y) const { return bits_[size_t(y) * width_ + x] != 0; }
    // Shapes are added to what is set already; parts outside the frame are ignored.
    void AddRect(int left, int top, int right, int bottom);
    // Filled by the nonzero winding rule; a pixel belongs to it when its centre does.
    void AddPolygon(const std::vector<TPoint>& points);
    // A rectangle with corners rounded by an ellipse of ellipseWidth x ellipseHeight.
    void AddRoundRect(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);
    // Exclusive or with the whole frame.
    void Invert();

private:
    void SetSpan(int y, double from, double to);

    int width_, height_;
    std::vector<uint8_t> bits_;
};

// Copies the pixels of `to` where the mask is set; the frames have the mask's size.
void KVDrawThrough(TBitmap& current, const TBitmap& to, const TKVRevealMask& mask);

// A uniform integer from 0 to bound - 1 from the transitions' pseudo-random generator; 0 when
// bound <= 0.
int KVTransitionRandom(int bound);
