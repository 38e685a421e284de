// The wireless bitmap reader on arbitrary bytes.
#include <atomic>
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVProgressRec.h"
#include "imaging/io/KVWbmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    TKVBitmap bitmap;
    TIOParamsVals params(nullptr);
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    ReadWBMPStream(stream, bitmap, params, false, progress);
    return 0;
}
