// A captured frame from arbitrary bytes: a bitmap information header and what follows it.
#include <cstdint>

#include "imaging/acquire/VideoFrame.h"
#include "imaging/core/KVBitmap.h"
#include "platform/Exception.h"
#include "platform/PictureLimits.h"

static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 14, int64_t(1) << 18, 2048, int64_t(1) << 18});

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVBitmap bitmap;
    try {
        KVDecodeVideoFrame({data, size}, bitmap);
    } catch (const Exception&) {
    }
    return 0;
}
