#include "imaging/acquire/ScannerProvider.h"

#include <memory>

#include "imaging/acquire/KVTWain.h"
#include "imaging/acquire/KVWia.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVVideoAndScanner.h"

namespace {

class TScannerProvider : public TKVAcquireProvider {
public:
    bool SelectSource(int api) override {
        if (api == 1) return wia_.SelectDevice();
        twain_.LastError = 0;
        twain_.LastErrorText.clear();
        std::string name;
        return api == 0 && KVTW_SelectImageSource(name, twain_) && twain_.SelectSourceByName(name);
    }

    bool Acquire(int api, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) override {
        if (api == 1) {
            // The component's progress: its event, and its abort flag stops the transfer.
            wia_.OnProgress = [relay = progress](int percent) {
                if (relay.OnProgress) relay.OnProgress(relay.Sender, percent);
                return !relay.Aborted();
            };
            wia_.OwnerParams = &params;
            wia_.Bitmap = &bitmap;
            return wia_.Transfer();
        }
        if (api != 0) return false;
        twain_.LastError = 0;
        twain_.LastErrorText.clear();
        return KVTW_Acquire(bitmap, nullptr, twain_, params.IsNativePixelFormat, progress, &params);
    }

    TKVTWainParams* ScannerSettings() override { return &twain_; }
    TKVWia* Wia(TObject* owner, TIOParamsVals* params, std::function<bool(int percent)> progress) override {
        wia_.Owner = owner;
        wia_.OwnerParams = params;
        wia_.OnProgress = std::move(progress);
        return &wia_;
    }
    std::string LastErrorText() const override { return twain_.LastErrorText.empty() ? wia_.LastErrorText() : twain_.LastErrorText; }

private:
    TKVTWainParams twain_{nullptr};
    TKVWia wia_{nullptr};
};

}  // namespace

void InstallScannerProvider() {
    SetAcquireProviderFactory([] { return std::make_unique<TScannerProvider>(); });
}
