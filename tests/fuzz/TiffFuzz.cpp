// The TIFF reader on arbitrary bytes: the page count, then the first two pages, native or not.
#include <atomic>
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/KVTiff.h"
#include "platform/PictureLimits.h"

// Pictures stay in memory, and small limits keep each run short.
static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 14, int64_t(1) << 18, 2048, int64_t(1) << 18});

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    GetTIFFStreamPageCount(stream);
    TIFFIsDNGStream(stream);
    for (const int page : {0, 1}) {
        TKVBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.TiffImageIndex = page;
        params.IsNativePixelFormat = page == 1;
        std::atomic<bool> aborted{false};
        TKVProgressRec progress;
        progress.AbortFlag = &aborted;
        stream.SetPosition(0);
        int pages = 0;
        ReadTIFFStream(&bitmap, stream, pages, false, page == 1, true, false, progress, &params);
    }
    return 0;
}
