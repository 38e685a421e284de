#pragma once
// The library's progress event (the reporting object and the whole percent done) and the progress
// record that every format driver and processing routine receives.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Classes.h"

using TKVProgressEvent = std::function<void(TObject* Sender, int per)>;

struct TKVProgressRec {
    TKVProgressEvent OnProgress;
    TObject* Sender = nullptr;
    int32_t Counter = 0, Total = 0;  // free for the driver
    double PercentFactor = 0, PercentFactor2 = 0;
    // The component's flag: a driver sets it on bad or unsupported data and stops.
    std::atomic<bool>* AbortFlag = nullptr;
    // Where the component keeps why the driver stopped; none: the reason is not wanted.
    std::string* FailureReason = nullptr;

    // Reports the truncated product of the unit index and the percent factor.
    void Report(int unit) const {
        if (OnProgress) OnProgress(Sender, static_cast<int>(unit * PercentFactor));
    }
    bool Aborted() const { return AbortFlag && AbortFlag->load(); }
    // Sets the abort flag and keeps the reason, unless an earlier one of this load is kept.
    void Fail(const std::string& reason) const {
        if (FailureReason && FailureReason->empty()) *FailureReason = reason;
        if (AbortFlag) AbortFlag->store(true);
    }
};
