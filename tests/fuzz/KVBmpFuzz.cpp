// The image library's BMP reader on arbitrary bytes: files, and headerless bitmaps when the
// bytes do not start with "BM"; 4- and 8-bit pictures both as palettes and as colours.
#include <atomic>
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVBmp.h"
#include "imaging/core/KVProgress.h"
#include "platform/PictureLimits.h"

// Pictures stay in memory, without asking the system for its memory figures on every run, and
// small limits keep each run short without leaving a branch of the size checks out.
static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 14, int64_t(1) << 18, 2048, int64_t(1) << 18});

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool headerless = size < 2 || data[0] != 'B' || data[1] != 'M';
    for (const bool native : {false, true}) {
        TKVMemStream stream(data, int64_t(size));
        TKVBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.IsNativePixelFormat = native;
        std::atomic<bool> aborted{false};
        TKVProgressRec progress;
        progress.AbortFlag = &aborted;
        ReadBMPStream(stream, bitmap, 0, false, headerless, false, progress, params);
    }
    return 0;
}
