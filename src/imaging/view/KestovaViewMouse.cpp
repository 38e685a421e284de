// What the mouse and the keyboard do in the view: zoom by clicks, drag scrolling, selections
// of every shape with their grips and moves, and moving and resizing layers.
#include <QApplication>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KVSelectionGrips.h"
#include "imaging/view/KVViewCursors.h"
#include "imaging/view/KestovaView.h"

namespace {

TPoint PointOf(const QMouseEvent* event) {
    return {int(std::floor(event->position().x())), int(std::floor(event->position().y()))};
}

bool AltDown(Qt::KeyboardModifiers modifiers) { return modifiers & Qt::AltModifier; }

}  // namespace

void TKestovaView::SetMouseInteract(TKVMouseInteract value) {
    if (drag_.polygonOpen && mouseInteract_.Has(miSelectPolygon)) ClosePolygon(true);
    mouseInteract_ = KVFilterMouseInteract(mouseInteract_, value);
    autoScrollTimer_.stop();
}

// Without drag scrolling, a delayed filter stays off for the whole drag.
void TKestovaView::HoldFilterForDrag() {
    if (filterHeld_) return;  // a second button joined the drag
    filterBeforeDrag_ = zoomFilter_;
    filterHeld_ = true;
    if (DelayZoomFilter && !mouseInteract_.Has(miScroll)) zoomFilter_ = rfNone;
}

void TKestovaView::RestoreFilterAfterDrag() {
    if (!filterHeld_) return;
    filterHeld_ = false;
    if (zoomFilter_ == filterBeforeDrag_) return;
    zoomFilter_ = filterBeforeDrag_;
    dirty_ = true;  // what the drag changed was drawn unfiltered
    viewport()->update();
}

// Ends the polygon being drawn and fills it into the mask.
void TKestovaView::ClosePolygon(bool keepMask) {
    selection_.DropTrailingBreaks();
    if (!keepMask) selection_.Mask.Clear();
    EndSelection();
    drag_.polygonOpen = false;
    drag_.rubberBand = false;
    dirty_ = true;
    viewport()->update();
}

TPoint TKestovaView::ClampToImageArea(int x, int y) const {
    return {std::clamp(x, port_.x.imageStart, port_.x.imageStart + port_.x.visible),
            std::clamp(y, port_.y.imageStart, port_.y.imageStart + port_.y.visible)};
}

bool TKestovaView::SelectionModes() const {
    for (TKVMouseInteractItem mode :
         {miSelect, miSelectPolygon, miSelectCircle, miSelectZoom, miSelectMagicWand, miSelectLasso})
        if (mouseInteract_.Has(mode)) return true;
    return false;
}

void TKestovaView::SelectionChanging() {
    drag_.changed = true;
    if (OnSelectionChanging) OnSelectionChanging();
}

namespace {

// The client rectangle of a rectangle selection.
TRect ClientRectOf(const TKVSelection& selection, const TKVViewport& port) {
    const TRect box = selection.Box();
    return {port.BitmapToClientX(box.Left), port.BitmapToClientY(box.Top), port.BitmapToClientX(box.Right),
            port.BitmapToClientY(box.Bottom)};
}

}  // namespace

void TKestovaView::mousePressEvent(QMouseEvent* event) {
    if (focusPolicy() != Qt::NoFocus) setFocus(Qt::MouseFocusReason);
    const Qt::MouseButton button = event->button();
    if (button == Qt::RightButton && (event->buttons() & Qt::LeftButton)) return;
    if (button != Qt::LeftButton && !mouseInteract_.Has(miZoom)) return;
    HoldFilterForDrag();
    const TPoint raw = PointOf(event);
    const TPoint p = ClampToImageArea(raw.X, raw.Y);
    const bool polygonOpen = drag_.polygonOpen;
    drag_ = TKVMouseDrag{};
    drag_.polygonOpen = polygonOpen;
    drag_.button = button;
    drag_.press = drag_.last = p;
    drag_.pressRaw = drag_.lastRaw = raw;
    drag_.originX = port_.x.origin;
    drag_.originY = port_.y.origin;
    if (button == Qt::LeftButton) StartLeftDrag(p, event->modifiers());
    if (mouseInteract_.Has(miScroll) && CanScroll()) {
        drag_.kind = TKVMouseDrag::Scrolling;
        ShowCursor(kvcrScrolling);
    }
}

bool TKestovaView::StartMoveIfInside(const TPoint& p) {
    const TPoint b = ToBitmap(p.X, p.Y);
    if (!selectionOptions_.Has(kvsoMoveable) || !selection_.Present || !selection_.Mask.IsPointIn(b.X, b.Y))
        return false;
    drag_.kind = TKVMouseDrag::Moving;
    return true;
}

void TKestovaView::StartLeftDrag(const TPoint& p, Qt::KeyboardModifiers modifiers) {
    drag_.adding = (modifiers & Qt::ShiftModifier) && MultipleSelections;
    const auto beginShape = [this](TKVMouseDrag::TKind kind) {
        drag_.kind = kind;
        if (drag_.adding) selection_.AddBreak();
        drag_.countAtPress = selection_.Count();
    };
    if (mouseInteract_.Has(miSelectPolygon) || mouseInteract_.Has(miSelectLasso)) {
        if (OnBeforeSelectionChange) OnBeforeSelectionChange();
        if (!drag_.polygonOpen && StartMoveIfInside(p)) return;
        TPoint q = p;
        if (AltDown(modifiers) && drag_.polygonOpen && selection_.Count() > 0 &&
            selection_.Points().back() != TKVSelection::Break) {
            const TPoint last = selection_.Points().back();
            KVSnapTo45(port_.BitmapToClientX(last.X), port_.BitmapToClientY(last.Y), q.X, q.Y);
        }
        if (!drag_.polygonOpen) {
            if (drag_.adding) selection_.AddBreak();
            else ClearSelectionQuietly();
        }
        selection_.AddPoint(ClampToBitmap(ToBitmap(q.X, q.Y)));
        selection_.Visible = true;
        const bool polygon = mouseInteract_.Has(miSelectPolygon);
        drag_.kind = polygon ? TKVMouseDrag::Polygon : TKVMouseDrag::Lasso;
        drag_.polygonOpen = polygon;
        SelectionChanging();
    } else if (mouseInteract_.Has(miSelect)) {
        if (OnBeforeSelectionChange) OnBeforeSelectionChange();
        const int grip = !drag_.adding && selection_.IsRectangle()
                             ? KVSelectionGripAt(ClientRectOf(selection_, port_), p.X, p.Y)
                             : 0;
        if (grip != 0) {
            drag_.kind = TKVMouseDrag::Grip;
            drag_.grip = grip;
            drag_.gripStart = selection_.Box();
        } else if (!StartMoveIfInside(p)) {
            beginShape(TKVMouseDrag::Rectangle);
            SelectionChanging();
        }
    } else if (mouseInteract_.Has(miSelectZoom)) {
        PushSelection();
        beginShape(TKVMouseDrag::Rectangle);
    } else if (mouseInteract_.Has(miSelectCircle)) {
        if (OnBeforeSelectionChange) OnBeforeSelectionChange();
        if (!StartMoveIfInside(p)) {
            beginShape(TKVMouseDrag::Circle);
            selection_.Visible = true;
        }
    } else if (mouseInteract_.Has(miSelectMagicWand)) {
        StartMoveIfInside(p);
    } else if (mouseInteract_.Has(miMoveLayers) || mouseInteract_.Has(miResizeLayers)) {
        StartLayerDrag(p);
    }
}

void TKestovaView::StartLayerDrag(const TPoint& p) {
    UpdateLayerBitmaps();
    const int grip = mouseInteract_.Has(miResizeLayers) ? layers_.LayerGripAt(p.X, p.Y) : 0;
    if (grip == 0) {
        const int index = LayerAt(p.X, p.Y);
        if (index < 0) return;
        SetCurrentLayer(index);
    }
    TKVLayer& layer = GetCurrentLayer();
    drag_.layerStartLeft = layer.LayerLeft;
    drag_.layerStartTop = layer.LayerTop;
    drag_.layerStartWidth = layer.EffectiveWidth();
    drag_.layerStartHeight = layer.EffectiveHeight();
    drag_.grip = grip;
    if (grip != 0) {
        drag_.kind = TKVMouseDrag::LayerResizing;
    } else if (mouseInteract_.Has(miMoveLayers)) {
        drag_.kind = TKVMouseDrag::LayerMoving;
        if (!layer.Pinned) ShowCursor(kvcrMove);
    }
}

void TKestovaView::mouseMoveEvent(QMouseEvent* event) {
    const TPoint raw = PointOf(event);
    if (drag_.button == Qt::NoButton || !(event->buttons() & drag_.button)) {
        Hover(raw, event->modifiers());
        return;
    }
    DragTo(raw, event->modifiers());
}

void TKestovaView::DragTo(const TPoint& raw, Qt::KeyboardModifiers modifiers) {
    const bool alt = AltDown(modifiers);
    if (drag_.kind == TKVMouseDrag::Scrolling) {
        SetOrigin(drag_.originX + drag_.pressRaw.X - raw.X, drag_.originY + drag_.pressRaw.Y - raw.Y);
        return;
    }
    bool scrolled = false;
    if (drag_.kind != TKVMouseDrag::Moving || selectionOptions_.Has(kvsoCanScroll)) scrolled = AutoScroll(raw);
    // Resting beyond the edge, the pointer keeps the view scrolling.
    if (scrolled && !autoScrollTimer_.isActive()) autoScrollTimer_.start();
    if (!scrolled) autoScrollTimer_.stop();
    drag_.lastRaw = raw;
    drag_.modifiers = modifiers;
    const TPoint p = ClampToImageArea(raw.X, raw.Y);
    if (p != drag_.press) drag_.moved = true;
    switch (drag_.kind) {
        case TKVMouseDrag::Grip: DragGrip(p, alt); break;
        case TKVMouseDrag::Moving: DragMove(p); break;
        case TKVMouseDrag::Rectangle: DragRectangle(p, alt); break;
        case TKVMouseDrag::Polygon:
        case TKVMouseDrag::Lasso:
            selection_.AddPoint(ClampToBitmap(ToBitmap(p.X, p.Y)));
            SelectionChanging();
            break;
        case TKVMouseDrag::Circle: DragCircle(p, alt); break;
        case TKVMouseDrag::LayerMoving:
        case TKVMouseDrag::LayerResizing: DragLayer(p, alt); break;
        default: break;
    }
    drag_.last = p;
    viewport()->update();
}

void TKestovaView::AutoScrollTick() {
    if (drag_.kind == TKVMouseDrag::Idle || drag_.kind == TKVMouseDrag::Scrolling) {
        autoScrollTimer_.stop();
        return;
    }
    DragTo(drag_.lastRaw, drag_.modifiers);
}

// A drag past the image area scrolls the view by the distance beyond its edge; true when it
// scrolled.
bool TKestovaView::AutoScroll(const TPoint& raw) {
    const auto beyond = [](int v, int start, int size) {
        if (v < start) return v - start;
        if (v > start + size) return v - (start + size);
        return 0;
    };
    const int dx = beyond(raw.X, port_.x.imageStart, port_.x.visible);
    const int dy = beyond(raw.Y, port_.y.imageStart, port_.y.visible);
    if (dx == 0 && dy == 0) return false;
    const int oldX = port_.x.origin, oldY = port_.y.origin;
    SetOrigin(oldX + dx, oldY + dy);
    const int movedX = port_.x.origin - oldX, movedY = port_.y.origin - oldY;
    if (movedX == 0 && movedY == 0) return false;
    ShiftDragOrigin(-movedX, -movedY);
    return true;
}

void TKestovaView::DragGrip(const TPoint& p, bool alt) {
    const TPoint b = ClampToBitmap(ToBitmap(p.X, p.Y));
    const TRect r = KVDragGrip(drag_.grip, selection_.Box(), b.X, b.Y, alt, drag_.gripStart);
    selection_.ClearPolygon();
    selection_.Mask.Clear();
    selection_.AddRectangle(r);
    SelectionChanging();
}

void TKestovaView::DragMove(const TPoint& p) {
    const TPoint a = ToBitmap(drag_.last.X, drag_.last.Y), b = ToBitmap(p.X, p.Y);
    int dx = b.X - a.X, dy = b.Y - a.Y;
    if (dx == 0 && dy == 0) return;
    const TRect box = selection_.Extent();
    const int width = port_.x.bitmapSize, height = port_.y.bitmapSize;
    const bool cut = selectionOptions_.Has(kvsoCutBorders);
    if (cut) {
        // Past the border, but never off the picture entirely.
        dx = std::clamp(dx, 1 - box.Right, width - 1 - box.Left);
        dy = std::clamp(dy, 1 - box.Bottom, height - 1 - box.Top);
    } else {
        dx = std::clamp(dx, -box.Left, std::max(width - box.Right, -box.Left));
        dy = std::clamp(dy, -box.Top, std::max(height - box.Bottom, -box.Top));
    }
    if (dx == 0 && dy == 0) return;
    const bool rectangle = selection_.IsRectangle();
    selection_.ShiftPolygon(dx, dy);
    if (cut) selection_.ClampPoints(width, height);
    if (!rectangle) selection_.Mask.Translate(dx, dy, cut);
    dirty_ = true;
    SelectionChanging();
}

// The polygon of the shape being dragged replaces the selection, or the part of it that this
// drag added.
void TKestovaView::ReplaceDragPolygon(const std::vector<TPoint>& points) {
    if (drag_.adding) {
        selection_.Truncate(drag_.countAtPress);
    } else {
        selection_.ClearPolygon();
        selection_.Mask.Clear();
    }
    for (TPoint point : points) selection_.AddPoint(point);
    selection_.Visible = true;
    UpdateSelectionTimer();
    SelectionChanging();
}

void TKestovaView::DragRectangle(const TPoint& p, bool alt) {
    const TPoint a = ToBitmap(drag_.press.X, drag_.press.Y);
    TPoint b = ToBitmap(p.X, p.Y);
    const auto towards = [](int from, int to, int length) { return to >= from ? from + length : from - length; };
    if (SelectionAspect == 0) {
        b = {a.X + FixedSelectionWidth, a.Y + FixedSelectionHeight};
    } else if (alt) {
        b.Y = towards(a.Y, b.Y, std::abs(b.X - a.X));
    } else if (SelectionAspect > 0) {
        b.Y = towards(a.Y, b.Y, int(std::lround(std::abs(b.X - a.X) / SelectionAspect)));
    }
    int left = std::min(a.X, b.X), right = std::max(a.X, b.X), top = std::min(a.Y, b.Y), bottom = std::max(a.Y, b.Y);
    const int width = port_.x.bitmapSize, height = port_.y.bitmapSize;
    if (!selectionOptions_.Has(kvsoSizeable)) {
        const int sx = left < 0 ? -left : right > width ? width - right : 0;
        const int sy = top < 0 ? -top : bottom > height ? height - bottom : 0;
        left += sx, right += sx, top += sy, bottom += sy;
    }
    const TRect r{std::clamp(left, 0, std::max(width - 1, 0)), std::clamp(top, 0, std::max(height - 1, 0)),
                  std::clamp(right, 0, width), std::clamp(bottom, 0, height)};
    ReplaceDragPolygon({{r.Left, r.Top}, {r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left, r.Bottom}});
}

void TKestovaView::DragCircle(const TPoint& p, bool alt) {
    int rx = std::abs(p.X - drag_.press.X), ry = std::abs(p.Y - drag_.press.Y);
    if (alt) rx = ry = std::max(rx, ry);
    const TPoint centre = ToBitmap(drag_.press.X, drag_.press.Y);
    ReplaceDragPolygon(KVEllipsePoints(centre.X, centre.Y, rx * port_.Inverse(), ry * port_.Inverse(),
                                       port_.x.bitmapSize, port_.y.bitmapSize));
}

void TKestovaView::DragLayer(const TPoint& p, bool alt) {
    TKVLayer& layer = GetCurrentLayer();
    if (layer.Pinned) return;
    const TPoint a = ToBitmap(drag_.press.X, drag_.press.Y), b = ToBitmap(p.X, p.Y);
    const int dx = b.X - a.X, dy = b.Y - a.Y;
    if (drag_.kind == TKVMouseDrag::LayerMoving) {
        layer.LayerLeft = drag_.layerStartLeft + dx;
        layer.LayerTop = drag_.layerStartTop + dy;
        Update();
        NotifyLayer(layers_.Current, kvleMoving);
        return;
    }
    const int grip = drag_.grip;
    int left = drag_.layerStartLeft, top = drag_.layerStartTop;
    int right = left + drag_.layerStartWidth, bottom = top + drag_.layerStartHeight;
    if (grip == 1 || grip == 4 || grip == 5) left = std::min(left + dx, right - 1);
    if (grip == 2 || grip == 3 || grip == 6) right = std::max(right + dx, left + 1);
    if (grip == 1 || grip == 2 || grip == 7) top = std::min(top + dy, bottom - 1);
    if (grip == 3 || grip == 4 || grip == 8) bottom = std::max(bottom + dy, top + 1);
    int width = right - left, height = bottom - top;
    if (alt && layer.Bitmap->GetWidth() > 0) {
        height = std::max(int(std::lround(double(width) * layer.Bitmap->GetHeight() / layer.Bitmap->GetWidth())), 1);
        if (grip == 1 || grip == 2 || grip == 7) top = bottom - height;
    }
    layer.LayerLeft = left;
    layer.LayerTop = top;
    layer.LayerWidth = std::max(width, 1);
    layer.LayerHeight = std::max(height, 1);
    Update();
    NotifyLayer(layers_.Current, kvleResizing);
}

void TKestovaView::Hover(const TPoint& p, Qt::KeyboardModifiers modifiers) {
    const TPoint b = ToBitmap(p.X, p.Y);
    const bool inside = selection_.Present && selection_.Mask.IsPointIn(b.X, b.Y);
    const bool adding = (modifiers & Qt::ShiftModifier) && MultipleSelections;
    const int base = adding ? KVAddModeCursor(cursor_) : cursor_;
    if (SelectionModes()) {
        const int grip = mouseInteract_.Has(miSelect) && !adding && selection_.IsRectangle()
                             ? KVSelectionGripAt(ClientRectOf(selection_, port_), p.X, p.Y)
                             : 0;
        if (grip != 0) {
            ShowCursor(KVGripCursor(grip));
            if (OnMouseInResizingGrip) OnMouseInResizingGrip(grip);
        } else {
            ShowCursor(inside && selectionOptions_.Has(kvsoMoveable) ? kvcrMove : base);
        }
    } else if (mouseInteract_.Has(miMoveLayers) || mouseInteract_.Has(miResizeLayers)) {
        const int grip = mouseInteract_.Has(miResizeLayers) ? layers_.LayerGripAt(p.X, p.Y) : 0;
        const int layer = grip == 0 ? LayerAt(p.X, p.Y) : -1;
        ShowCursor(grip != 0 ? KVGripCursor(grip) : layer >= 0 && !layers_[layer].Pinned ? kvcrMove : base);
    }
    if (drag_.polygonOpen && selection_.Count() > 0 && selection_.Points().back() != TKVSelection::Break) {
        TPoint q = p;
        if (AltDown(modifiers)) {
            const TPoint last = selection_.Points().back();
            KVSnapTo45(port_.BitmapToClientX(last.X), port_.BitmapToClientY(last.Y), q.X, q.Y);
        }
        drag_.rubberBand = true;
        drag_.pointer = q;
        viewport()->update();
        if (OnSelectionChanging) OnSelectionChanging();
    }
    if (inside && OnMouseInSel) OnMouseInSel();
}

void TKestovaView::mouseReleaseEvent(QMouseEvent* event) {
    const Qt::MouseButton button = event->button();
    if (button != drag_.button) return;
    const TPoint p = ClampToImageArea(PointOf(event).X, PointOf(event).Y);
    const TKVMouseDrag::TKind kind = drag_.kind;
    autoScrollTimer_.stop();
    if (mouseInteract_.Has(miZoom) && p == drag_.press && !IsBlank()) {
        ClickZoom(p, button);
        drag_.polygonOpen = false;
    } else if (button == Qt::LeftButton) {
        EndLeftDrag(p, event->modifiers());
    }
    if (button == Qt::LeftButton) {
        // A moved rectangle carried only its polygon along.
        if (kind == TKVMouseDrag::Moving && selection_.Count() > 0) {
            selection_.Mask.Clear();
            EndSelection();
            dirty_ = true;
        }
        if (kind == TKVMouseDrag::LayerMoving) NotifyLayer(layers_.Current, kvleMoveEnded);
        if (kind == TKVMouseDrag::LayerResizing) {
            NotifyLayer(layers_.Current, kvleResizeEnded);
            Update();
        }
    }
    if (kind == TKVMouseDrag::Scrolling || kind == TKVMouseDrag::LayerMoving) ShowCursor(cursor_);
    const bool changed = drag_.changed;
    const bool polygonOpen = drag_.polygonOpen;
    drag_ = TKVMouseDrag{};
    drag_.polygonOpen = polygonOpen;
    RestoreFilterAfterDrag();
    UpdateSelectionTimer();
    viewport()->update();
    if (changed && OnSelectionChange) OnSelectionChange();
}

void TKestovaView::ClickZoom(const TPoint& p, Qt::MouseButton button) {
    double zoom = button == Qt::LeftButton ? KVZoomInStep(Zoom()) : KVZoomOutStep(Zoom());
    if (button == Qt::LeftButton && OnZoomIn) OnZoomIn(zoom);
    if (button != Qt::LeftButton && OnZoomOut) OnZoomOut(zoom);
    zoom = std::clamp(zoom, KVMinMouseZoom, KVMaxMouseZoom);
    if (zoom != Zoom()) ZoomAround(p.X, p.Y, zoom, false);
}

void TKestovaView::EndLeftDrag(const TPoint& p, Qt::KeyboardModifiers modifiers) {
    const bool clicked = p == drag_.press;
    const TKVMouseDrag::TKind kind = drag_.kind;
    const bool keepMask = (modifiers & Qt::ShiftModifier) && MultipleSelections;
    const auto deselect = [this] {
        if (selection_.Present || selection_.Count() > 0) drag_.changed = true;
        ClearSelectionQuietly();
    };
    const auto fillShape = [&] {
        if (!keepMask) selection_.Mask.Clear();
        EndSelection();
        drag_.changed = true;
    };
    if (kind == TKVMouseDrag::Scrolling) {
        ShowCursor(cursor_);
    } else if (mouseInteract_.Has(miSelectZoom)) {
        if (kind == TKVMouseDrag::Rectangle && !clicked) {
            EndSelection();
            ZoomToSelection();
        }
        PopSelection();
        drag_.changed = false;
    } else if (mouseInteract_.Has(miSelect)) {
        if (clicked && kind == TKVMouseDrag::Rectangle) deselect();
        else if (kind == TKVMouseDrag::Rectangle || kind == TKVMouseDrag::Grip) fillShape();
    } else if (mouseInteract_.Has(miSelectCircle)) {
        if (clicked && kind == TKVMouseDrag::Circle && SelectionAspect != 0) deselect();
        else if (kind == TKVMouseDrag::Circle) fillShape();
    } else if (mouseInteract_.Has(miSelectMagicWand)) {
        if (kind != TKVMouseDrag::Moving) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const TPoint b = ToBitmap(p.X, p.Y);
            WandSelectAt(b.X, b.Y, keepMask);
            QApplication::restoreOverrideCursor();
            drag_.changed = true;
        }
    } else if (mouseInteract_.Has(miSelectLasso)) {
        if (clicked && kind == TKVMouseDrag::Lasso) {
            deselect();
        } else if (kind == TKVMouseDrag::Lasso) {
            selection_.DropTrailingBreaks();
            EndSelection();
        }
    }
    dirty_ = true;
    Update();
}

void TKestovaView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !drag_.polygonOpen) {
        mousePressEvent(event);
        return;
    }
    ClosePolygon((event->modifiers() & Qt::ShiftModifier) && MultipleSelections);
    drag_ = TKVMouseDrag{};
    Update();
    if (OnSelectionChange) OnSelectionChange();
}
