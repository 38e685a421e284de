#pragma once
// Drawing helpers of the views on the class library's canvas: bevels, shadow strips and the
// fast drawing of bitmaps.
#include <memory>

#include "platform/Graphics.h"

class TCanvas;
class TKVBaseBitmap;

// One-pixel edges around the rectangle, every corner included: top and left in the first
// colour, bottom and right in the second. Leaves the canvas pen solid, in copy mode.
void KVDrawBevel(TCanvas& canvas, int left, int top, int right, int bottom, TColor topLeftColor,
                 TColor bottomRightColor);

// A shadow strip filling rect down the right side of a picture. Kind 1 fills it with the
// canvas brush; 2 draws the colour, darker towards the picture; 3 a gray ramp, lighter
// towards the strip's top, whose lower end is cut diagonally. Other kinds draw nothing.
void KVDrawShadowVert(TCanvas& canvas, const TRect& rect, TColor color, int kind);
// The same strip along the bottom of a picture: lighter towards its left end, cut at its right end.
void KVDrawShadowHorz(TCanvas& canvas, const TRect& rect, TColor color, int kind);

// A view's fast drawing handle. Our displays have no palette to realise, so it keeps no state.
struct TKVDrawDib {};
std::unique_ptr<TKVDrawDib> KVDrawDibOpen();
// Frees the handle; false when there was none.
bool KVDrawDibClose(std::unique_ptr<TKVDrawDib>& handle);
// Draws the source rectangle of a 1-bit, 8-bit or 24-bit bitmap (a DIB, or an image in memory
// or a file) stretched onto the destination rectangle of the canvas. False without a handle,
// for other formats, and for an empty rectangle or one that leaves the bitmap.
bool KVDrawDibDraw(TKVDrawDib* handle, TCanvas& canvas, int xDst, int yDst, int dxDst, int dyDst,
                   TKVBaseBitmap& source, int xSrc, int ySrc, int dxSrc, int dySrc);
// Realises the handle's palette on the canvas: the number of colours that changed, always 0.
int KVDrawDibRealize(TKVDrawDib* handle, TCanvas& canvas, bool background);
