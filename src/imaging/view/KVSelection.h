#pragma once
// The image view's selection in bitmap coordinates: a polygon whose sub-polygons are separated
// by break points, and the 1-bit mask of the pixels it selects. No window is involved.
#include <vector>

#include "imaging/core/KVMask.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

class TKVSelection {
public:
    // The polygon never holds more points than this, so that its count stays a 32-bit number
    // and its stream form a sane size.
    static constexpr int MaxPoints = 1 << 24;
    static constexpr TPoint Break{TKVMask::PolygonBreak, TKVMask::PolygonBreak};

    bool Visible = false;  // the border is drawn
    bool Present = false;  // something is selected
    TColor BorderColorA = clBlack;
    TColor BorderColorB = clWhite;
    bool Animated = true;
    bool Sizeable = true;
    int Phase = 0;  // 0..9, advanced by the border's animation
    TKVMask Mask;

    const std::vector<TPoint>& Points() const { return points_; }
    int Count() const { return int(points_.size()); }
    // The box of every point but the breaks (right and bottom as stored); empty without points.
    TRect Box() const { return box_; }

    // False when the polygon is full.
    bool AddPoint(TPoint point);
    void AddBreak();
    void DropTrailingBreaks();
    // Keeps the first `count` points.
    void Truncate(int count);
    void ClearPolygon();
    // The rectangle as four points, top-left, top-right, bottom-right, bottom-left, appended.
    void AddRectangle(const TRect& rect);
    // Exactly four points of an axis-aligned rectangle in the order AddRectangle writes them.
    bool IsRectangle() const;
    // Moves every point but the breaks.
    void ShiftPolygon(int dx, int dy);
    // Pulls every point but the breaks into 0..width, 0..height.
    void ClampPoints(int width, int height);
    // The polygon's box, or without a polygon the mask's (right and bottom exclusive).
    TRect Extent() const;

    // Hides and empties polygon and mask.
    void Clear();
    // A mask of the bitmap's size, emptied.
    void ResetMask(int width, int height);
    // Fills the polygon into the mask (sub-polygons of fewer than three points select nothing);
    // the selection is present and visible when the mask holds anything.
    void FillMask();
    // Refreshes Present and Visible from the mask.
    void SyncFromMask();

    // The stream form, 32-bit little-endian fields: mask width and height, point count, the
    // points, the polygon box, the present flag (1 byte), mask bits per pixel, mask box, mask
    // full flag (1 byte), then the mask rows as stored.
    void Save(TStream& stream) const;
    // Reads what Save wrote. A stream that is short, inconsistent, claims more than it holds or
    // holds a mask beyond the picture limits changes nothing and answers false.
    bool Load(TStream& stream);

private:
    void Grow(TPoint point);
    void SyncBox();

    std::vector<TPoint> points_;
    TRect box_{};
    bool hasBox_ = false;
};

// Milliseconds between two steps of the border's animation: 210, or five times what the last
// drawing of the border took when that is more, so that a slow border never takes the view's time.
int KVBorderTimerInterval(int drawingMs);

// The points of an ellipse around (cx, cy): max(50, trunc(2 pi min(rx, ry))) of them at equal
// angles, rounded and clamped to 0..width, 0..height.
std::vector<TPoint> KVEllipsePoints(int cx, int cy, double rx, double ry, int width, int height);
