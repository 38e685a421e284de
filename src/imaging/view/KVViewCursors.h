#pragma once
// The image view's own cursors, known by number as the library's cursor set numbers them.
#include <QCursor>

constexpr int kvcrView = 1785;       // the view's default: a hand
constexpr int kvcrScrolling = 1782;  // dragging the picture
constexpr int kvcrSizeNWSE = 1786;
constexpr int kvcrSizeNS = 1787;
constexpr int kvcrSizeNESW = 1788;
constexpr int kvcrSizeWE = 1789;
constexpr int kvcrMove = 1790;
constexpr int kvcrViewAdd = 1791;  // the default while Shift adds to the selection
constexpr int kvcrCross = 1793;
constexpr int kvcrCrossAdd = 1794;

// The cursor of a number in 1778..1810; other numbers give the arrow.
QCursor KVViewCursor(int number);
// The cursor Shift turns `number` into while it adds to a selection; others stay.
int KVAddModeCursor(int number);
