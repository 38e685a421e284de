#pragma once
// What the image view remembers between pressing a mouse button and releasing it.
#include <Qt>

#include "platform/Graphics.h"

struct TKVMouseDrag {
    enum TKind { Idle, Scrolling, Rectangle, Circle, Polygon, Lasso, Grip, Moving, LayerMoving, LayerResizing };
    TKind kind = Idle;
    Qt::MouseButton button = Qt::NoButton;
    TPoint press;      // clamped into the image area, client pixels
    TPoint pressRaw;   // as pressed
    TPoint last;       // the last point handled, clamped
    TPoint lastRaw;    // ... and as the pointer was, kept for scrolling on while it rests
    Qt::KeyboardModifiers modifiers;
    int originX = 0, originY = 0;  // the view origin at the press
    int grip = 0;                  // 1..8 while a grip is dragged
    TRect gripStart{};             // the rectangle when the grip was taken
    int countAtPress = 0;          // polygon points before this press's sub-polygon
    bool moved = false;
    bool changed = false;  // the selection changed since the press
    bool adding = false;   // Shift added to the selection
    bool polygonOpen = false;  // a polygon goes on until the double click
    bool rubberBand = false;
    TPoint pointer;  // the pointer for the rubber band, client pixels
    int layerStartLeft = 0, layerStartTop = 0, layerStartWidth = 0, layerStartHeight = 0;
};
