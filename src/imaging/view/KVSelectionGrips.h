#pragma once
// The grips of a rectangle selection: which one is under the pointer, and how dragging one
// reshapes the rectangle. Grips 1..4 are the corners top-left, top-right, bottom-right,
// bottom-left; 5..8 the left, right, top and bottom edges.
#include "platform/Graphics.h"

// Half the side of a grip square, in client pixels.
constexpr int KVGripSize = 5;

// The grip of the rectangle (client coordinates) under (x, y), 0 for none.
int KVSelectionGripAt(const TRect& rect, int x, int y);

// The rectangle after grip `grip` of `rect` was dragged to (x, y), all in bitmap pixels with
// right and bottom exclusive. A side dragged past the opposite one takes its place and `grip`
// becomes the grip of that side. Neither side drops below 1; with keepRatio the result keeps the
// width/height ratio of `start`.
TRect KVDragGrip(int& grip, const TRect& rect, int x, int y, bool keepRatio, const TRect& start);

// The hover cursor of a grip (numbers of the view's cursor set), 0 for none.
int KVGripCursor(int grip);
