#include "imaging/acquire/KVWia.h"

#include <atomic>

#include "imaging/acquire/KVTWain.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"

namespace {

// The progress record that asks the callback after each band and stops when it says so.
TKVProgressRec ProgressOf(const TKVWia::TProgress& onProgress, std::atomic<bool>& stop) {
    TKVProgressRec progress;
    progress.AbortFlag = &stop;
    if (onProgress) progress.OnProgress = [&onProgress, &stop](TObject*, int percent) {
        if (!onProgress(percent)) stop = true;
    };
    return progress;
}

}  // namespace

TKVWia::TKVWia(TObject* owner) : Owner(owner), settings_(owner) {
    settings_.VisibleDialog = false;
    settings_.FileTransfer = true;
}

bool TKVWia::SelectDevice() {
    std::string name;
    if (!KVTW_SelectImageSource(name, settings_) || !settings_.SelectSourceByName(name)) return false;
    device_ = name;
    return true;
}

bool TKVWia::Transfer(TIOParamsVals* params) {
    if (!Bitmap) return false;
    std::atomic<bool> stop{false};
    TKVProgressRec progress = ProgressOf(OnProgress, stop);
    settings_.FeederEnabled = false;
    settings_.LastErrorText.clear();
    return KVTW_Acquire(*Bitmap, nullptr, settings_, false, progress, params);
}

bool TKVWia::TransferAll(const std::function<void(TKVBitmap& page)>& onPage) {
    std::atomic<bool> stop{false};
    TKVProgressRec progress = ProgressOf(OnProgress, stop);
    settings_.FeederEnabled = true;
    settings_.LastErrorText.clear();
    TKVBitmap unused;
    return KVTW_Acquire(unused, [&](TKVBitmap& page, TIOParamsVals*) { onPage(page); }, settings_, false, progress,
                        nullptr);
}
