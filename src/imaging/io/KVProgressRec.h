#pragma once
// The progress record every format driver receives.
#include <atomic>
#include <cstdint>

#include "imaging/core/KVProgress.h"

struct TKVProgressRec {
    TKVProgressEvent OnProgress;
    TObject* Sender = nullptr;
    int32_t Counter = 0, Total = 0;  // free for the driver
    double PercentFactor = 0, PercentFactor2 = 0;
    // The component's flag: a driver sets it on bad or unsupported data and stops.
    std::atomic<bool>* AbortFlag = nullptr;

    // Reports the truncated product of the unit index and the percent factor.
    void Report(int unit) const {
        if (OnProgress) OnProgress(Sender, static_cast<int>(unit * PercentFactor));
    }
    bool Aborted() const { return AbortFlag && AbortFlag->load(); }
};
