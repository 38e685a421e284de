// The thumbnail view's selection and its mouse and key handling.
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <mutex>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVVirtualImageList.h"
#include "imaging/view/KestovaMView.h"

namespace {

// Sets a flag for the duration of a call and restores what it was.
class TFlagScope {
public:
    TFlagScope(bool& flag, bool value) : flag_(flag), saved_(flag) { flag_ = value; }
    ~TFlagScope() { flag_ = saved_; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& flag_;
    bool saved_;
};

// The selection events report what the user did: they fire only inside the input handlers.
class TUserInputScope {
public:
    explicit TUserInputScope(int& depth) : depth_(depth) { ++depth_; }
    ~TUserInputScope() { --depth_; }
    TUserInputScope(const TUserInputScope&) = delete;
    TUserInputScope& operator=(const TUserInputScope&) = delete;

private:
    int& depth_;
};

}  // namespace

void TKestovaMView::FireImageSelect(int index) {
    if (userInput_ > 0 && OnImageSelect) OnImageSelect(index);
}

void TKestovaMView::FireImageDeselect(int index) {
    if (userInput_ > 0 && !destroying_ && OnImageDeselect) OnImageDeselect(index);
}

void TKestovaMView::SetSelectedImage(int index) {
    if (playing_ || (index == selected_ && !addToSelection_) || index < 0 || index >= GetImageCount()) return;
    DoSelectImage(index);
    UpdateLayout(false);
}

bool TKestovaMView::IsSelected(int index) const {
    return std::find(multiSelected_.begin(), multiSelected_.end(), index) != multiSelected_.end();
}

void TKestovaMView::Deselect() {
    DeselectNU();
    UpdateLayout(false);
}

void TKestovaMView::DeselectNU() {
    ReleaseHeldSelection();
    if (enableMultiSelect_) {
        for (const int index : multiSelected_) FireImageDeselect(index);
        multiSelected_.clear();
    } else if (selected_ >= 0) {
        FireImageDeselect(selected_);
    }
    selected_ = -1;
}

void TKestovaMView::ReleaseHeldSelection() {
    std::lock_guard lock(KVGlobalLock);
    if (heldPicture_) store_->ReleaseBitmap(heldPicture_, true);
    heldPicture_ = nullptr;
    heldEntry_ = nullptr;
}

TKVBitmap* TKestovaMView::GetKVBitmap() {
    if (heldPicture_) return heldPicture_;
    if (!HasPicture(selected_)) LoadImageNow(selected_);
    std::lock_guard lock(KVGlobalLock);
    if (heldPicture_ || selected_ < 0 || selected_ >= GetImageCount()) return heldPicture_;
    TKVMEntry& entry = *entries_[size_t(selected_)];
    if (!entry.Image) return nullptr;
    heldPicture_ = store_->GetBitmap(entry.Image);
    heldEntry_ = heldPicture_ ? entry.Image : nullptr;
    return heldPicture_;
}

TBitmap* TKestovaMView::GetTBitmap() {
    TKVBitmap* picture = GetKVBitmap();
    return picture ? picture->GetTBitmap() : nullptr;
}

void TKestovaMView::DoSelectImage(int index) {
    selectionChanged_ = false;
    if (playing_ || index < 0 || index >= GetImageCount()) return;
    ReleaseHeldSelection();
    if (enableMultiSelect_) {
        if (!addToSelection_) {
            for (const int listed : multiSelected_) FireImageDeselect(listed);
            multiSelected_.clear();
            selectionChanged_ = true;
        } else if (IsSelected(index)) {
            FireImageDeselect(index);
            std::erase(multiSelected_, index);
            selectionChanged_ = true;
            // A second Ctrl-click deselects.
            if (!rangeMode_) {
                selected_ = -1;
                return;
            }
        }
        multiSelected_.push_back(index);
    }
    selected_ = index;
    selectionChanged_ = true;
    CallChangeHandlers();
    FireImageSelect(index);
}

void TKestovaMView::SelectAtPos(int x, int y, Qt::KeyboardModifiers modifiers) {
    TFlagScope adding(addToSelection_, addToSelection_ || (modifiers & (Qt::ControlModifier | Qt::ShiftModifier)));
    const int i = ImageAtPos(x, y);
    if (i < 0) return;
    const int c = selected_;
    if ((modifiers & Qt::ShiftModifier) && (i != c || (addToSelection_ && enableMultiSelect_))) {
        for (const int between : KVThumbRange(c, i, MultiSelectionOptions & kvmoRegion, layout_))
            if (!IsSelected(between)) DoSelectImage(between);
    }
    DoSelectImage(i);
    if (visibleSelection_) UpdateLayout(false);
    CallChangeHandlers();
}

void TKestovaMView::RangeFromAnchor(int anchor, int x, int y) {
    TFlagScope range(rangeMode_, true);
    {
        TFlagScope adding(addToSelection_, false);
        DeselectNU();
        DoSelectImage(std::max(anchor, 0));
    }
    SelectAtPos(x, y, Qt::ShiftModifier);
    rangeDone_ = true;
}

void TKestovaMView::MoveSelection(TKVThumbMove move) {
    const int count = GetImageCount();
    if (count == 0) return;
    const int columns = Columns();
    const int target = KVThumbMoveTarget(move, selected_, count, columns, gridWidth_,
                                         KVThumbsPerPage(Metrics(), columns, clientHeight_));
    if (target < 0) return;
    SetSelectedImage(target);
    if (selected_ < 0) return;
    const TKVCellPlace cell = CellOf(selected_);
    const int x = cell.x, y = cell.y;
    const auto visible = [this] { return GetImageVisibility(selected_) == 2; };
    const int right = x + thumbWidth_ + horizBorder_ - clientWidth_;
    const int below = y + thumbHeight_ + vertBorder_ - clientHeight_;
    switch (move) {
        case kvmPrevious:
            if (!visible()) SetViewXY(x - horizBorder_, y - vertBorder_);
            break;
        case kvmNext:
            if (!visible()) SetViewXY(right, below);
            break;
        case kvmFirst:
            if (!visible()) SetViewXY(0, 0);
            break;
        case kvmRowUp:
        case kvmPageUp:
            if (!visible()) SetViewY(y - vertBorder_);
            if (!visible()) SetViewX(x - horizBorder_);
            break;
        case kvmRowDown:
        case kvmLast:
        case kvmPageDown:
            if (!visible()) SetViewY(below);
            if (!visible()) SetViewX(right);
            break;
    }
}

bool TKestovaMView::KeyMove(int key) {
    switch (key) {
        case Qt::Key_PageUp: MoveSelection(kvmPageUp); return true;
        case Qt::Key_PageDown: MoveSelection(kvmPageDown); return true;
        case Qt::Key_End: MoveSelection(kvmLast); return true;
        case Qt::Key_Home: MoveSelection(kvmFirst); return true;
        case Qt::Key_Left: MoveSelection(kvmPrevious); return true;
        case Qt::Key_Up: MoveSelection(kvmRowUp); return true;
        case Qt::Key_Right: MoveSelection(kvmNext); return true;
        case Qt::Key_Down: MoveSelection(kvmRowDown); return true;
        default: return false;
    }
}

void TKestovaMView::keyPressEvent(QKeyEvent* event) {
    TUserInputScope input(userInput_);
    if (playing_ || !(KeyInteract & mkiMoveSelected)) return;
    const bool adding = enableMultiSelect_ && (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
    TFlagScope add(addToSelection_, addToSelection_ || adding);
    TFlagScope range(rangeMode_, rangeMode_ || adding);
    if (!KeyMove(event->key())) return QAbstractScrollArea::keyPressEvent(event);
    FireViewChange(0);
    UpdateLayout(false);
}

void TKestovaMView::mousePressEvent(QMouseEvent* event) {
    TUserInputScope input(userInput_);
    if (doubleClick_) {
        doubleClick_ = false;
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const QPoint p = event->position().toPoint();
    pressPos_ = p;
    pressViewX_ = viewX_;
    pressViewY_ = viewY_;
    pressedEntry_ = lastDragged_ = ImageAtPos(p.x(), p.y());
    rangeDone_ = selectionChanged_ = false;
    buttonDown_ = true;
    if (event->button() != Qt::LeftButton || !(MouseInteract & mmiSelect) ||
        (MultiSelectionOptions & kvmoSelectOnMouseUp))
        return;
    if (event->modifiers() & Qt::ShiftModifier) {
        RangeFromAnchor(rangeAnchor_, p.x(), p.y());
    } else if (IsSelected(pressedEntry_)) {
        // Kept as it is, so that the selection can be dragged.
        rangeAnchor_ = pressedEntry_;
    } else {
        rangeAnchor_ = pressedEntry_;
        SelectAtPos(p.x(), p.y(), event->modifiers());
    }
}

void TKestovaMView::DragSelect(int x, int y) {
    if ((MouseInteract & mmiSelect) && enableMultiSelect_) {
        const int i = ImageAtPos(x, y);
        if (i >= 0 && i != lastDragged_) {
            lastDragged_ = i;
            RangeFromAnchor(std::max(pressedEntry_, 0), x, y);
        }
    }
}

void TKestovaMView::mouseMoveEvent(QMouseEvent* event) {
    TUserInputScope input(userInput_);
    if (!buttonDown_) return;
    const QPoint p = event->position().toPoint();
    DragSelect(p.x(), p.y());
    if (MouseInteract & mmiScroll) {
        SetViewXY(pressViewX_ + pressPos_.x() - p.x(), pressViewY_ + pressPos_.y() - p.y());
        FireViewChange(0);
    }
}

void TKestovaMView::mouseReleaseEvent(QMouseEvent* event) {
    TUserInputScope input(userInput_);
    if (!buttonDown_) return;
    buttonDown_ = false;
    if (playing_ || event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    const bool onRelease = MultiSelectionOptions & kvmoSelectOnMouseUp;
    if (MouseInteract & mmiSelect) {
        // A click inside a multiple selection reduces it to the clicked entry on release.
        if ((onRelease && !rangeDone_) || (!onRelease && !selectionChanged_))
            SelectAtPos(p.x(), p.y(), event->modifiers());
    }
    if (MouseInteract & mmiScroll) {
        SetViewXY(pressViewX_ + pressPos_.x() - p.x(), pressViewY_ + pressPos_.y() - p.y());
        FireViewChange(0);
    }
}

void TKestovaMView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click selects nothing.
    doubleClick_ = true;
    mousePressEvent(event);
    viewport()->update();
}

void TKestovaMView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TKestovaMView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
