#pragma once
// The magic wand: the pixels whose colour lies within a tolerance of a seed pixel's, as a
// selection or as the outline of the connected region.
#include <vector>

#include "platform/Graphics.h"

class TKVBitmap;
class TKVMask;

// Marks the 4-connected region around the seed in the mask with value; grow widens it by one
// pixel in every direction.
void KVMagicWandFill(TKVBitmap& bitmap, int x, int y, int value, TKVMask& mask, int tolerance, bool grow);
// Marks every pixel of the image within the tolerance of the seed colour.
void KVMagicWandGlobal(TKVBitmap& bitmap, int x, int y, int value, TKVMask& mask, int tolerance);
// The outline of the connected region as a polygon (empty for a seed outside the image).
std::vector<TPoint> KVMagicWandContour(TKVBitmap& bitmap, int x, int y, int& pointCount, int tolerance, bool grow);
