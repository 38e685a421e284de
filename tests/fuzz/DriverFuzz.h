#pragma once
// What the image library's reader targets share: pictures stay in memory, without asking the
// system for its memory figures on every run, and small limits keep each run short without
// leaving a branch of the size checks out. TDriverRun is one reader call's bitmap, record and
// progress.
#include <atomic>
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"
#include "platform/PictureLimits.h"

static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 14, int64_t(1) << 18, 2048, int64_t(1) << 18});

struct TDriverRun {
    TKVBitmap bitmap;
    TIOParamsVals params{nullptr};
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    TDriverRun() { progress.AbortFlag = &aborted; }
};
