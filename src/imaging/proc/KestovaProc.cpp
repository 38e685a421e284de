#include "imaging/proc/KestovaProc.h"

#include <algorithm>
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/proc/KVColorModels.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVColorReduction.h"
#include "imaging/core/KVResample.h"

TKestovaProc::TKestovaProc() { UseOwnWorkBitmap(); }

TKestovaProc::~TKestovaProc() {
    if (view_) view_->RemoveChangeHandler(changeEntry_);
}

void TKestovaProc::UseOwnWorkBitmap() {
    ownWork_ = std::make_unique<TKVBitmap>();
    work_ = ownWork_.get();
    attachedBitmap_ = nullptr;
}

// --- Attachments

void TKestovaProc::DetachView() {
    if (view_) view_->RemoveChangeHandler(changeEntry_);
    view_ = nullptr;
    changeEntry_ = nullptr;
}

void TKestovaProc::SetAttachedKestova(TKVView* view) {
    DetachView();
    view_ = view;
    if (!view) {
        UseOwnWorkBitmap();
        return;
    }
    image_ = nullptr;
    if (TKVBitmap* shown = view->GetKVBitmap()) {
        ownWork_.reset();
        work_ = shown;
        attachedBitmap_ = nullptr;
    } else {
        UseOwnWorkBitmap();
        attachedBitmap_ = view->GetTBitmap();
        work_->EncapsulateTBitmap(attachedBitmap_, true);
    }
    changeEntry_ = view->AddChangeHandler(
        [this](TObject*, TKVView* changed, bool destroying) { OnViewChange(changed, destroying); }, this);
}

void TKestovaProc::OnViewChange(TKVView* view, bool destroying) {
    if (destroying) {
        // The view's bitmap goes with the view: keep working on a bitmap of our own.
        view_ = nullptr;
        changeEntry_ = nullptr;
        if (!ownWork_ || attachedBitmap_) UseOwnWorkBitmap();
        return;
    }
    if (TKVBitmap* shown = view->GetKVBitmap()) {
        ownWork_.reset();
        work_ = shown;
        attachedBitmap_ = nullptr;
        return;
    }
    if (!ownWork_) UseOwnWorkBitmap();
    attachedBitmap_ = view->GetTBitmap();
    work_->EncapsulateTBitmap(attachedBitmap_, true);
}

void TKestovaProc::SetAttachedTImage(TBitmap* picture) {
    DetachView();
    image_ = picture;
    UseOwnWorkBitmap();
    if (!picture) return;
    attachedBitmap_ = picture;
    work_->EncapsulateTBitmap(picture, true);
}

TKVSelectionView* TKestovaProc::SelectionView() const { return dynamic_cast<TKVSelectionView*>(view_); }

TColor TKestovaProc::Background() const { return view_ ? view_->Background() : background_; }

void TKestovaProc::SetBackground(TColor color) {
    if (view_) view_->SetBackground(color);
    else background_ = color;
}

// --- Checks, regions and change signals

bool TKestovaProc::CheckFormat(std::initializer_list<TKVPixelFormat> formats) {
    // The class-library bitmap may have changed size or format since the last operation.
    if (attachedBitmap_) work_->EncapsulateTBitmap(attachedBitmap_, false);
    if (!work_) return false;
    return formats.size() == 0 || std::find(formats.begin(), formats.end(), work_->GetPixelFormat()) != formats.end();
}

bool TKestovaProc::GetWorkRegion(TWorkRegion& region) {
    if (attachedBitmap_) work_->EncapsulateTBitmap(attachedBitmap_, false);
    region = TWorkRegion{0, 0, work_->GetWidth(), work_->GetHeight()};
    TKVSelectionView* selection = SelectionView();
    if (!selection) return false;
    region.Mask = selection->SelectionMask();
    if (!selection->HasSelection()) return false;
    if (region.Mask && !region.Mask->IsEmpty()) {
        region.X1 = region.Mask->X1, region.Y1 = region.Mask->Y1;
        region.X2 = region.Mask->X2 + 1, region.Y2 = region.Mask->Y2 + 1;
    }
    region.Points = selection->GetPolySelPoints();
    region.PointCount = selection->GetPolySelCount();
    return true;
}

bool TKestovaProc::BeginWorkRegion(std::initializer_list<TKVPixelFormat> formats, const std::string& caption,
                                   ActiveRegion& active) {
    if (!CheckFormat(formats)) return false;
    if (AutoUndo) SaveUndoCaptioned(caption, kvUndoImage);
    GetWorkRegion(active.Region);
    TKVMask* mask = active.Region.Mask;
    if (!mask || mask->IsEmpty()) {
        active.Target = work_;
        active.Region = TWorkRegion{0, 0, work_->GetWidth(), work_->GetHeight(), nullptr};
        return true;
    }
    const TWorkRegion& r = active.Region;
    active.Box = std::make_unique<TKVBitmap>();
    active.Box->Allocate(r.X2 - r.X1, r.Y2 - r.Y1, work_->GetPixelFormat());
    if (work_->Palette()) std::copy_n(work_->Palette(), 256, active.Box->Palette());
    work_->CopyRectTo(*active.Box, r.X1, r.Y1, r.X2 - r.X1, r.Y2 - r.Y1, 0, 0);
    active.Target = active.Box.get();
    return true;
}

void TKestovaProc::EndWorkRegion(ActiveRegion& active) {
    if (active.Box) {
        TKVMask& mask = *active.Region.Mask;
        mask.CopyBitmapMasked(*active.Box, *work_, false, true, false);
        if (active.Box->GetHasAlphaChannel() && !active.Box->GetAlphaChannel()->Full()) {
            mask.CopyAlphaMasked(*active.Box, *work_, true, false);
            work_->GetAlphaChannel()->SetFull(false);
        }
        active.Box.reset();
    }
    SignalChange();
}

void TKestovaProc::SignalChange() {
    if (attachedBitmap_) work_->RemoveAlphaChannel();
    if (view_) {
        view_->Update();
        view_->DoImageChange();
    } else if (attachedBitmap_) {
        attachedBitmap_->SetModified(true);
    }
}

// --- Undo and redo

void TKestovaProc::PushRecord(RecordList& list, int kind) {
    Record record;
    if (kind == kvUndoImage) {
        if (!CheckFormat({}) || work_->GetWidth() < 2 || work_->GetHeight() < 2) return;
        record.Image = std::make_unique<TKVBitmap>();
        record.Image->SetLocation(undoLocation_);
        record.Image->Assign(work_);
    } else if (kind == kvUndoSelection) {
        TKVSelectionView* selection = SelectionView();
        if (!selection) return;
        record.Selection = std::make_unique<TMemoryStream>();
        selection->SaveSelectionToStream(*record.Selection);
    } else {
        return;
    }
    while (int(list.size()) >= undoLimit_) list.erase(list.begin());
    list.push_back(std::move(record));
}

void TKestovaProc::SaveUndo(int kind) { PushRecord(undo_, kind); }

void TKestovaProc::SaveRedo(int kind) { PushRecord(redo_, kind); }

void TKestovaProc::SaveUndoCaptioned(const std::string& caption, int kind) {
    if (!CheckFormat({}) || work_->GetWidth() < 2 || work_->GetHeight() < 2) return;
    SaveUndo(kind);
    // A selection record is only pushed with a view that has a selection to save.
    const bool pushed = kind == kvUndoImage || (kind == kvUndoSelection && SelectionView());
    if (pushed && !undo_.empty()) undo_.back().Caption = caption;
}

void TKestovaProc::DiscardLastRedo() {
    if (!redo_.empty()) redo_.pop_back();
}

void TKestovaProc::ApplyRecord(RecordList& list, int index) {
    if (!CheckFormat({}) || index < 0 || index >= int(list.size())) return;
    Record& record = list[list.size() - size_t(index) - 1];
    if (record.Image) {
        work_->Assign(record.Image.get());
        SignalChange();
    } else if (record.Selection) {
        record.Selection->SetPosition(0);
        if (TKVSelectionView* selection = SelectionView()) selection->LoadSelectionFromStream(*record.Selection);
    }
}

void TKestovaProc::UndoAt(int index) { ApplyRecord(undo_, index); }

void TKestovaProc::RedoAt(int index) { ApplyRecord(redo_, index); }

// --- Operations

void TKestovaProc::ConvertToGray() {
    ActiveRegion active;
    if (!BeginWorkRegion({}, "ConvertToGray", active)) return;
    TKVBitmap& target = *active.Target;
    KVConvertToGrayRect(target, 0, 0, target.GetWidth(), target.GetHeight(), this, OnProgress);
    EndWorkRegion(active);
}

void TKestovaProc::ReduceColors(int numColors, TKVRGB* palette, bool threshold) {
    if (numColors < 3) {
        TKVProgressRec progress;
        progress.OnProgress = OnProgress;
        progress.Sender = this;
        progress.PercentFactor = 100 / (work_->GetHeight() + 0.5);
        if (threshold) KVThresholdToBW(*work_, KVThresholdMean, &progress);
        else KVOrderedDitherTo1Bit(*work_, &progress);
        if (palette) palette[0] = {0, 0, 0}, palette[1] = {255, 255, 255};
    } else if (numColors <= 1024) {
        KVReduceColors(*work_, numColors, palette, this, OnProgress);
    }
    SignalChange();
}

void TKestovaProc::ConvertTo(int numColors, bool threshold) {
    if (!CheckFormat({kv24RGB})) return;
    if (AutoUndo) SaveUndoCaptioned("ConvertTo " + std::to_string(numColors), kvUndoImage);
    ReduceColors(numColors, nullptr, threshold);
}

void TKestovaProc::ConvertToPalette(int numColors, TKVRGB* palette, bool threshold) {
    if (numColors == 0 || !CheckFormat({kv24RGB})) return;
    if (AutoUndo) SaveUndoCaptioned("ConvertToPalette", kvUndoImage);
    ReduceColors(numColors, palette, threshold);
}

bool TKestovaProc::ResampleInto(TKVBitmap& dest, int newWidth, int newHeight, TResampleFilter filter) {
    if (!CheckFormat({}) || work_->IsEmpty()) return false;
    if (AutoUndo)
        SaveUndoCaptioned("Resample " + std::to_string(newWidth) + "," + std::to_string(newHeight), kvUndoImage);
    if (newWidth < 0 && newHeight < 0) return false;
    const int64_t width = work_->GetWidth(), height = work_->GetHeight();
    auto side = [](int64_t requested, int64_t current, int64_t fromOther) {
        const int64_t value = requested == -1 ? fromOther : requested == 0 ? current : requested < 0 ? -requested : requested;
        return int(std::clamp<int64_t>(value, 1, INT32_MAX));
    };
    const int w = side(newWidth, width, int64_t(newHeight) * width / height);
    const int h = side(newHeight, height, int64_t(w) * height / width);
    dest.Allocate(w, h, work_->GetPixelFormat());
    KVResampleBitmap(*work_, dest, filter, this, OnProgress);
    return true;
}

void TKestovaProc::ResampleTo(TKVBitmap& dest, int newWidth, int newHeight, TResampleFilter filter) {
    ResampleInto(dest, newWidth, newHeight, filter);
}

void TKestovaProc::Resample(int newWidth, int newHeight, TResampleFilter filter) {
    TKVBitmap result;
    if (!ResampleInto(result, newWidth, newHeight, filter)) return;
    work_->Assign(&result);
    SignalChange();
}
