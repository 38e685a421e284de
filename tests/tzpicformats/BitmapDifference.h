#pragma once
// How far a loaded picture is from an independent tool's decode of the same file.
#include "TestSupport.h"

class TBitmap;

// Largest difference of any sample; -1 when the sizes differ.
int Difference(const TBitmap& ours, const TRgbImage& theirs);
