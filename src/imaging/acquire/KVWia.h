#pragma once
// Device acquisition of the second kind, over the same source manager: a device chosen from the
// manager's list, and pages moved as files that the BMP reader reads, each page apart.
#include <functional>
#include <string>

#include "imaging/acquire/KVTWainParams.h"

class TKVBitmap;
class TIOParamsVals;

class TKVWia {
public:
    // Percent done; false stops the transfer.
    using TProgress = std::function<bool(int percent)>;

    explicit TKVWia(TObject* owner);

    // Shows the device choice; true when a device was chosen and is now the current one.
    bool SelectDevice();
    // One page of the current device into Bitmap; true on success.
    bool Transfer(TIOParamsVals* params = nullptr);
    // Every page the device's feeder holds, each handed over on its own; true when any arrived.
    bool TransferAll(const std::function<void(TKVBitmap& page)>& onPage);
    const std::string& Device() const { return device_; }
    const std::string& LastErrorText() const { return settings_.LastErrorText; }

    TObject* Owner;
    TProgress OnProgress;
    TKVBitmap* Bitmap = nullptr;

private:
    TKVTWainParams settings_;
    std::string device_;
};
