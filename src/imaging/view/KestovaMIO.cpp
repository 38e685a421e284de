#include "imaging/view/KestovaMIO.h"

#include <algorithm>

#include "imaging/acquire/KVTWain.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/acquire/KVWia.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVAdjustDPI.h"
#include "imaging/view/KVIOPreviews.h"
#include "imaging/view/KestovaMView.h"

namespace {

// The multi-image form is shorter than the one-picture form: 55/16 of a screen inch.
constexpr int PreviewsHeightSixteenths = 55;

}  // namespace

TKestovaMIO::TKestovaMIO() : twainParams_(std::make_unique<TKVTWainParams>(this, true)) {}

TKestovaMIO::~TKestovaMIO() { Detach(); }

void TKestovaMIO::Detach() {
    if (view_) view_->RemoveChangeHandler(handler_);
    view_ = nullptr;
    handler_ = nullptr;
}

void TKestovaMIO::Notification(TObject* component, TOperation operation) {
    if (operation == opRemove && component && component == view_) Detach();
}

void TKestovaMIO::SetAttachedMView(TKestovaMView* view) {
    Detach();
    view_ = view;
    if (!view_) return;
    handler_ = view_->AddChangeHandler(
        [this](TObject*, TKVView* changed, bool destroying) { ViewChanged(changed, destroying); }, this);
    while (GetParamsCount() < view_->GetImageCount()) InsertParams(GetParamsCount());
}

TIOParamsVals* TKestovaMIO::GetParams(int index) {
    if (index < 0 || index >= GetParamsCount()) return nullptr;
    return params_[size_t(index)].get();
}

void TKestovaMIO::ViewChanged(TKVView*, bool destroying) {
    if (destroying) {
        // The view forgets its handlers itself as it goes.
        view_ = nullptr;
        handler_ = nullptr;
        return;
    }
    if (!view_) return;
    const int i = view_->GetChangeIndex(), j = view_->GetChangeIndex2();
    switch (view_->GetChangeKind()) {
        case 1: InsertParams(i); break;
        case 2: DeleteParams(i); break;
        case 3: MoveParams(i, j); break;
        case 4: SwapParams(i, j); break;
        default: break;
    }
}

void TKestovaMIO::InsertParams(int index) {
    auto record = std::make_unique<TIOParamsVals>(nullptr);
    const int count = GetParamsCount();
    if (count > 0) record->Assign(*params_[size_t(std::clamp(index, 0, count - 1))]);
    params_.insert(params_.begin() + std::clamp(index, 0, count), std::move(record));
}

void TKestovaMIO::DeleteParams(int index) {
    if (index >= 0 && index < GetParamsCount()) params_.erase(params_.begin() + index);
}

void TKestovaMIO::MoveParams(int from, int to) {
    const int count = GetParamsCount();
    if (from < 0 || from >= count || to < 0 || from == to) return;
    auto record = std::move(params_[size_t(from)]);
    params_.erase(params_.begin() + from);
    params_.insert(params_.begin() + std::min(to, count - 1), std::move(record));
}

void TKestovaMIO::SwapParams(int a, int b) {
    if (a < 0 || b < 0 || a >= GetParamsCount() || b >= GetParamsCount()) return;
    std::swap(params_[size_t(a)], params_[size_t(b)]);
}

void TKestovaMIO::DoAcquireBitmap(TKVBitmap& bitmap, TIOParamsVals*& params) {
    bool handled = false;
    if (OnAcquireBitmap) OnAcquireBitmap(this, bitmap, handled);
    if (handled || !view_) return;
    acquiring_ = true;
    AcquireIndex = std::max(std::min(AcquireIndex, view_->GetImageCount()), 0);
    view_->InsertImage(AcquireIndex);
    TIOParamsVals* const scanned = params;
    params = GetParams(AcquireIndex);
    if (scanned && params) KVTakeScannedParams(*params, *scanned);
    std::unique_ptr<TKVBitmap> adjusted;
    if (AutoAdjustDPI && params) adjusted = KVAdjustBitmapDPI(bitmap, *params, FilteredAdjustDPI);
    view_->SetImage(AcquireIndex, adjusted ? adjusted.get() : &bitmap);
    view_->SetImageDelayTime(AcquireIndex, 100);
    ++AcquireIndex;
}

bool TKestovaMIO::Acquire() {
    if (!view_) return false;
    TKVBitmap single;
    TIOParamsVals scanned(nullptr);
    TKVProgressRec progress;
    progress.OnProgress = OnProgress;
    progress.Sender = this;
    const TKVTWainPageCallback onPage = [&](TKVBitmap& page, TIOParamsVals* pageParams) {
        TIOParamsVals* record = pageParams;
        DoAcquireBitmap(page, record);
    };
    const bool acquired = KVTW_Acquire(single, onPage, *twainParams_, false, progress, &scanned);
    // The scanner's own dialog had the keyboard focus.
    if (view_) view_->TakeFocusBack();
    EndAcquire();
    DoFinishWork();
    return acquired;
}

TKVWia* TKestovaMIO::GetWia() {
    if (!wia_) wia_ = std::make_unique<TKVWia>(this);
    return wia_.get();
}

void TKestovaMIO::DoFinishWork() {
    if (OnProgress) OnProgress(this, 100);
    if (OnFinishWork) OnFinishWork(this);
}

void TKestovaMIO::RefreshAttachedMView() {
    if (!view_) return;
    view_->Update();
    view_->DoImageChange();
}

bool TKestovaMIO::DoPreviews(int index, uint16_t pages, QWidget* parent) {
    if (!view_) return false;
    if (view_->GetImageCount() > 0 && view_->SelectedImage() < 0) view_->SetSelectedImage(0);
    TKVBitmap* current = view_->GetKVBitmap();
    TIOParamsVals* params = GetParams(std::max(index, 0));
    if (!current || !params) return false;
    TKVBitmap picture;
    picture.Assign(current);
    if (picture.GetPixelFormat() != kv24RGB && picture.GetPixelFormat() != kv1Bit) picture.ConvertPixelFormat(kv24RGB);
    bool confirmed = false;
    {
        TfIOPreviews form(*params, picture, parent);
        form.TakeSettings(*this);
        form.SimplifiedHeightSixteenths = PreviewsHeightSixteenths;
        if (form.SelectPages(pages)) confirmed = form.exec() == QDialog::Accepted;
    }
    // A cancelled dialog must not overwrite the settings of every other picture.
    if (index < 0 && confirmed) CopyParamsToAll();
    RefreshAttachedMView();
    return confirmed;
}

void TKestovaMIO::CopyParamsToAll() {
    if (params_.empty()) return;
    TIOParamsVals first(nullptr);
    first.Assign(*params_[0]);
    for (size_t i = 1; i < params_.size(); ++i) params_[i]->Assign(first);
}
