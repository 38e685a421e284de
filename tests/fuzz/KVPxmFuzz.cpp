// The portable map reader on arbitrary bytes, with and without 48-bit pictures.
#include <atomic>
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVProgressRec.h"
#include "imaging/io/KVPxm.h"

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
