// The view's selection: its edits in client or bitmap coordinates, its stream form, the stack
// of saved selections and the animation of its border.
#include <QElapsedTimer>
#include <algorithm>
#include <cmath>

#include "imaging/core/KVBitmap.h"
#include "imaging/proc/KVMagicWand.h"
#include "imaging/view/KVSelectionPainter.h"
#include "imaging/view/KVViewCursors.h"
#include "imaging/view/KestovaView.h"

namespace {

// Ticks the view must rest before its filtered picture, and before the border shows again.
constexpr int FilterDelayTicks = 4;
constexpr int SelectionDelayTicks = 2;
constexpr int AutoScrollInterval = 50;  // milliseconds between two steps of a resting drag

}  // namespace

void TKestovaView::InitSelectionAndLayers() {
    // The one layer shows the view's own bitmap, which the view keeps.
    TKVLayer& layer = layers_.Add(std::make_unique<TKVLayer>(this, true, bitmap_));
    layer.OwnsBitmap = false;
    layer.Framed = false;
    layer.Pinned = true;
    selectionTimer_.setInterval(KVBorderTimerInterval(0));
    connect(&selectionTimer_, &QTimer::timeout, this, [this] { SelectionTimerTick(); });
    autoScrollTimer_.setInterval(AutoScrollInterval);
    connect(&autoScrollTimer_, &QTimer::timeout, this, [this] { AutoScrollTick(); });
    viewport()->setMouseTracking(true);
    SetCursor(kvcrView);
}

// A new picture size ends the selection and gives mask and alpha channel the new size.
void TKestovaView::FollowBitmapSize() {
    const int width = port_.x.bitmapSize, height = port_.y.bitmapSize;
    if (width == seenWidth_ && height == seenHeight_) return;
    seenWidth_ = width;
    seenHeight_ = height;
    if (selection_.Present || selection_.Count() > 0) ClearSelectionQuietly();
    selection_.ResetMask(width, height);
    if (bitmap_->GetHasAlphaChannel()) {
        TKVBitmap* alpha = bitmap_->GetAlphaChannel();
        if (alpha->GetWidth() != bitmap_->GetWidth() || alpha->GetHeight() != bitmap_->GetHeight()) {
            alpha->Allocate(bitmap_->GetWidth(), bitmap_->GetHeight(), kv8Gray);
            alpha->Fill(255);
        }
    }
}

void TKestovaView::SetSelectionOptions(TKVSelectionOptions options) {
    selectionOptions_ = options;
    selection_.Animated = options.Has(kvsoAnimated);
    selection_.Sizeable = options.Has(kvsoSizeable);
    UpdateSelectionTimer();
    Update();
}

void TKestovaView::SetBorderColorA(TColor color) {
    selection_.BorderColorA = color;
    viewport()->update();
}

void TKestovaView::SetBorderColorB(TColor color) {
    selection_.BorderColorB = color;
    viewport()->update();
}

TPoint TKestovaView::ToBitmap(int x, int y) const { return {port_.ClientToBitmapX(x), port_.ClientToBitmapY(y)}; }

TPoint TKestovaView::ClampToBitmap(TPoint p) const {
    return {std::clamp(p.X, 0, std::max(port_.x.bitmapSize, 0)), std::clamp(p.Y, 0, std::max(port_.y.bitmapSize, 0))};
}

void TKestovaView::AddSelectionRect(int x1, int y1, int x2, int y2, bool add) {
    TPoint a{x1, y1}, b{x2, y2};
    if (SelectionBase == kvsbClientArea) {
        a = ToBitmap(x1, y1);
        b = ToBitmap(x2, y2);
    }
    a = ClampToBitmap(a);
    b = ClampToBitmap(b);
    if (add) {
        selection_.AddBreak();
    } else {
        selection_.ClearPolygon();
        selection_.Mask.Clear();
    }
    selection_.AddRectangle({std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)});
    EndSelection();
    dirty_ = true;
    viewport()->update();
}

void TKestovaView::AddSelectionPoint(int x, int y) {
    const TPoint p = SelectionBase == kvsbClientArea ? ToBitmap(x, y) : TPoint{x, y};
    selection_.AddPoint(ClampToBitmap(p));
    selection_.Visible = true;
    UpdateSelectionTimer();
    viewport()->update();
}

void TKestovaView::WandSelect(int x, int y, bool add) {
    const TPoint seed = SelectionBase == kvsbClientArea ? ToBitmap(x, y) : TPoint{x, y};
    WandSelectAt(seed.X, seed.Y, add);
}

void TKestovaView::WandSelectAt(int x, int y, bool add) {
    if (x < 0 || y < 0 || x >= bitmap_->GetWidth() || y >= bitmap_->GetHeight()) return;
    if (WandMode == 0) {
        int count = 0;
        const std::vector<TPoint> contour =
            KVMagicWandContour(*bitmap_, x, y, count, WandTolerance, WandMaxFilter);
        if (add) {
            selection_.AddBreak();
        } else {
            selection_.ClearPolygon();
            selection_.Mask.Clear();
        }
        for (int i = 0; i < count && i < int(contour.size()); ++i) selection_.AddPoint(ClampToBitmap(contour[size_t(i)]));
        EndSelection();
    } else {
        if (!add) {
            selection_.ClearPolygon();
            selection_.Mask.Clear();
        }
        if (WandMode == 1)
            KVMagicWandFill(*bitmap_, x, y, 1, selection_.Mask, WandTolerance, WandMaxFilter);
        else
            KVMagicWandGlobal(*bitmap_, x, y, 1, selection_.Mask, WandTolerance);
        selection_.Mask.SyncBoundingBox();
        selection_.SyncFromMask();
        UpdateSelectionTimer();
    }
    dirty_ = true;
    viewport()->update();
}

void TKestovaView::ShiftSelection(int dx, int dy) {
    if (SelectionBase == kvsbClientArea) {
        dx = int(std::trunc(dx * port_.Inverse()));
        dy = int(std::trunc(dy * port_.Inverse()));
    }
    selection_.ShiftPolygon(dx, dy);
    selection_.Mask.Translate(dx, dy, true);
    dirty_ = true;
    viewport()->update();
}

void TKestovaView::ClearSelectionQuietly() {
    selection_.Clear();
    UpdateSelectionTimer();
}

void TKestovaView::ClearSelection() {
    ClearSelectionQuietly();
    drag_ = TKVMouseDrag{};
    autoScrollTimer_.stop();
    ShowCursor(cursor_);
    Update();
}

void TKestovaView::EndSelection() {
    selection_.FillMask();
    UpdateSelectionTimer();
}

void TKestovaView::ShiftDragOrigin(int dx, int dy) {
    drag_.press = {drag_.press.X + dx, drag_.press.Y + dy};
    drag_.pressRaw = {drag_.pressRaw.X + dx, drag_.pressRaw.Y + dy};
    drag_.last = {drag_.last.X + dx, drag_.last.Y + dy};
}

void TKestovaView::SaveSelectionToStream(TStream& stream) { selection_.Save(stream); }

bool TKestovaView::LoadSelectionFromStream(TStream& stream) {
    if (!selection_.Load(stream)) return false;
    const int width = bitmap_->GetWidth(), height = bitmap_->GetHeight();
    if (width > 0 && height > 0) {
        // A selection from a larger picture puts its far edge on the last column or row.
        const bool hasMask = !selection_.Mask.IsEmpty();
        const int right = hasMask ? selection_.Mask.X2 : selection_.Box().Right - 1;
        const int bottom = hasMask ? selection_.Mask.Y2 : selection_.Box().Bottom - 1;
        const int dx = width < selection_.Mask.Width() ? width - 1 - right : 0;
        const int dy = height < selection_.Mask.Height() ? height - 1 - bottom : 0;
        if (dx != 0 || dy != 0) {
            selection_.ShiftPolygon(dx, dy);
            int mx = dx, my = dy;
            selection_.Mask.Translate(mx, my, true);
        }
        if (selection_.Mask.BitsPerPixel() == 0) selection_.ResetMask(width, height);
        selection_.Mask.Resize(width, height);
        selection_.Mask.SyncBoundingBox();
        selection_.SyncFromMask();
    }
    selection_.Visible = selection_.Present;
    UpdateSelectionTimer();
    Update();
    return true;
}

void TKestovaView::PushSelection() {
    auto stream = std::make_unique<TMemoryStream>();
    SaveSelectionToStream(*stream);
    savedSelections_.push_back(std::move(stream));
}

bool TKestovaView::PopSelection() {
    if (savedSelections_.empty()) return false;
    std::unique_ptr<TMemoryStream> stream = std::move(savedSelections_.back());
    savedSelections_.pop_back();
    stream->SetPosition(0);
    return LoadSelectionFromStream(*stream);
}

void TKestovaView::ZoomToSelection() {
    if (!selection_.Present) return;
    const TKVMask& mask = selection_.Mask;
    const TRect box = mask.IsEmpty() ? selection_.Extent() : TRect{mask.X1, mask.Y1, mask.X2 + 1, mask.Y2 + 1};
    if (box.Width() < 2 || box.Height() < 2) return;
    ClearSelection();
    const double zoom = std::clamp(std::min(ViewHeight() / (box.Height() / 100.0), ViewWidth() / (box.Width() / 100.0)),
                                   KVMinMouseZoom, KVMaxMouseZoom);
    SetZoom(zoom);
    const double f = port_.Factor();
    SetOrigin(int(std::trunc((box.Left + box.Width() / 2.0) * f - ViewWidth() / 2.0)),
              int(std::trunc((box.Top + box.Height() / 2.0) * f - ViewHeight() / 2.0)));
}

bool TKestovaView::FilterWaitsForRest() const {
    return DelayZoomFilter && zoomFilter_ != rfNone && port_.zoom != 100.0;
}

// The view moves: its filtered picture, and the border of a shown selection, wait until it rests.
void TKestovaView::LoadDelays() {
    if (FilterWaitsForRest()) zoomFilterDelay_ = FilterDelayTicks;
    if (selection_.Visible) selectionDelay_ = SelectionDelayTicks;
    UpdateSelectionTimer();
}

// Runs only while there is a border to animate or a delay to count down.
void TKestovaView::UpdateSelectionTimer() {
    if (!selection_.Visible) selectionDelay_ = 0;  // no border to hold back
    const bool needed = (selection_.Visible && selection_.Animated) || zoomFilterDelay_ > 0 || selectionDelay_ > 0;
    if (needed && !selectionTimer_.isActive()) selectionTimer_.start();
    if (!needed) selectionTimer_.stop();
}

void TKestovaView::SelectionTimerTick() {
    if (drag_.kind == TKVMouseDrag::Idle) selection_.Phase = (selection_.Phase + 1) % 10;
    if (selectionDelay_ > 0) --selectionDelay_;
    if (zoomFilterDelay_ > 0 && --zoomFilterDelay_ == 0) Update();  // the filtered picture
    UpdateSelectionTimer();
    viewport()->update();
}

void TKestovaView::DrawSelectionBorder(QImage& shown) {
    QElapsedTimer clock;
    clock.start();
    if (selection_.Visible && selectionDelay_ == 0) {
        // While a shape is dragged its polygon shows; the mask has not caught up with it yet.
        const TKVMouseDrag::TKind kind = drag_.kind;
        const bool reshaping =
            kind == TKVMouseDrag::Rectangle || kind == TKVMouseDrag::Grip || kind == TKVMouseDrag::Circle;
        const bool drawing = reshaping || kind == TKVMouseDrag::Polygon || kind == TKVMouseDrag::Lasso || drag_.polygonOpen;
        if (!selection_.Mask.IsEmpty() && !reshaping)
            KVDrawMaskOutline(shown, selection_.Mask, port_, selection_.BorderColorA, selection_.BorderColorB,
                              selection_.Phase);
        if (selection_.Mask.IsEmpty() || drawing)
            KVDrawPolygonBorder(shown, selection_, port_, selection_.Phase, selection_.Sizeable, GripsAtMiddles);
    }
    if (drag_.rubberBand && selection_.Count() > 0 && selection_.Points().back() != TKVSelection::Break) {
        const TPoint last = selection_.Points().back();
        KVDrawRubberBand(shown, {port_.BitmapToClientX(last.X), port_.BitmapToClientY(last.Y)}, drag_.pointer);
    }
    if (selectionTimer_.isActive()) selectionTimer_.setInterval(KVBorderTimerInterval(int(clock.elapsed())));
}

void TKestovaView::SetCursor(int number) {
    cursor_ = number;
    ShowCursor(number);
}

void TKestovaView::ShowCursor(int number) { viewport()->setCursor(KVViewCursor(number)); }
