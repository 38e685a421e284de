#include "imaging/view/KVSelection.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

bool TKVSelection::AddPoint(TPoint point) {
    if (Count() >= MaxPoints) return false;
    points_.push_back(point);
    Grow(point);
    return true;
}

void TKVSelection::AddBreak() {
    if (!points_.empty() && points_.back() != Break && Count() < MaxPoints) points_.push_back(Break);
}

void TKVSelection::DropTrailingBreaks() {
    while (!points_.empty() && points_.back() == Break) points_.pop_back();
}

void TKVSelection::Truncate(int count) {
    if (count < 0 || count >= Count()) return;
    points_.resize(size_t(count));
    SyncBox();
}

void TKVSelection::ClearPolygon() {
    points_.clear();
    SyncBox();
}

void TKVSelection::AddRectangle(const TRect& r) {
    for (TPoint p : {TPoint{r.Left, r.Top}, TPoint{r.Right, r.Top}, TPoint{r.Right, r.Bottom}, TPoint{r.Left, r.Bottom}})
        AddPoint(p);
}

bool TKVSelection::IsRectangle() const {
    if (points_.size() != 4) return false;
    const TPoint a = points_[0], b = points_[1], c = points_[2], d = points_[3];
    return a.Y == b.Y && b.X == c.X && c.Y == d.Y && d.X == a.X && a.X < b.X && a.Y < d.Y;
}

void TKVSelection::ShiftPolygon(int dx, int dy) {
    for (TPoint& p : points_)
        if (p != Break) p = {p.X + dx, p.Y + dy};
    SyncBox();
}

void TKVSelection::ClampPoints(int width, int height) {
    for (TPoint& p : points_)
        if (p != Break) p = {std::clamp(p.X, 0, width), std::clamp(p.Y, 0, height)};
    SyncBox();
}

TRect TKVSelection::Extent() const {
    if (hasBox_) return box_;
    if (Mask.IsEmpty()) return {};
    return {Mask.X1, Mask.Y1, Mask.X2 + 1, Mask.Y2 + 1};
}

void TKVSelection::Clear() {
    ClearPolygon();
    Mask.Clear();
    Visible = Present = false;
}

void TKVSelection::ResetMask(int width, int height) { Mask.AllocateBits(width, height, 1); }

void TKVSelection::FillMask() {
    size_t start = 0;
    for (size_t i = 0; i <= points_.size(); ++i) {
        if (i < points_.size() && points_[i] != Break) continue;
        if (i - start >= 3) Mask.FillPolygon(1, points_.data() + start, int(i - start));
        start = i + 1;
    }
    Mask.SyncFull();
    SyncFromMask();
}

void TKVSelection::SyncFromMask() { Visible = Present = !Mask.IsEmpty(); }

void TKVSelection::Grow(TPoint p) {
    if (p == Break) return;
    box_ = hasBox_ ? TRect{std::min(box_.Left, p.X), std::min(box_.Top, p.Y), std::max(box_.Right, p.X),
                           std::max(box_.Bottom, p.Y)}
                   : TRect{p.X, p.Y, p.X, p.Y};
    hasBox_ = true;
}

void TKVSelection::SyncBox() {
    box_ = {};
    hasBox_ = false;
    for (TPoint p : points_) Grow(p);
}

std::vector<TPoint> KVEllipsePoints(int cx, int cy, double rx, double ry, int width, int height) {
    const int count = std::max(50, int(std::trunc(2 * std::numbers::pi * std::min(rx, ry))));
    std::vector<TPoint> points(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double a = 2 * std::numbers::pi * i / count;
        points[size_t(i)] = {std::clamp(int(std::nearbyint(cx + std::cos(a) * rx)), 0, width),
                             std::clamp(int(std::nearbyint(cy + std::sin(a) * ry)), 0, height)};
    }
    return points;
}

int KVBorderTimerInterval(int drawingMs) {
    constexpr int Least = 210;
    return std::max(Least, std::min(drawingMs, INT_MAX / 5) * 5);
}
