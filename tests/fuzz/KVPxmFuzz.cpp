// The portable map reader on arbitrary bytes, with and without 48-bit pictures.
#include <atomic>
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/KVPxm.h"
#include "platform/PictureLimits.h"

// Pictures stay in memory, without asking the system for its memory figures on every run, and
// small limits keep each run short without leaving a branch of the size checks out.
static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 14, int64_t(1) << 18, 2048, int64_t(1) << 18});

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const bool native : {false, true}) {
        TKVMemStream stream(data, int64_t(size));
        TKVBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.IsNativePixelFormat = native;
        std::atomic<bool> aborted{false};
        TKVProgressRec progress;
        progress.AbortFlag = &aborted;
        IsPXMStream(stream);
        ReadPXMStream(stream, bitmap, params, false, progress);
    }
    return 0;
}
