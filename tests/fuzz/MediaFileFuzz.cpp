// A video file from arbitrary bytes: opened, measured, its frames counted, and its first and last
// frames grabbed.
#include <cstdint>

#include "imaging/acquire/MediaFile.h"
#include "imaging/core/KVBitmap.h"
#include "platform/PictureLimits.h"

static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 12, int64_t(1) << 18, 2048, int64_t(1) << 18});

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMediaFile file(data, size);
    if (!file.IsConnected()) return 0;
    TKVBitmap bitmap;
    file.GetFrameAt(0, bitmap);
    file.GetFrameAt(file.Duration(), bitmap);
    file.GetFrame(file.FrameCount() - 1, bitmap);
    return 0;
}
