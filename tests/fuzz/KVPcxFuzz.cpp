// The PCX reader on arbitrary bytes; inputs that begin with the DCX magic go to the DCX reader.
#include <atomic>
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVPcx.h"
#include "imaging/core/KVProgress.h"
#include "platform/PictureLimits.h"

// Pictures stay in memory, without asking the system for its memory figures on every run, and
// small limits keep each run short without leaving a branch of the size checks out.
static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 14, int64_t(1) << 18, 2048, int64_t(1) << 18});

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    TKVBitmap bitmap;
    TIOParamsVals params(nullptr);
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    if (size >= 4 && data[0] == 0xB1 && data[1] == 0x68) {
        params.DcxImageIndex = size % 3;
        ReadDCXStream(stream, bitmap, params, false, progress);
    } else {
        ReadPCXStream(stream, bitmap, params, false, progress, int64_t(size));
    }
    return 0;
}
