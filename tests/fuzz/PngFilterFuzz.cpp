// The PNG driver's reader on arbitrary bytes, with and without compositing.
#include <cstdint>
#include <memory>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVPngFilter.h"
#include "imaging/io/KVProgressRec.h"
#include "platform/PictureLimits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small caps keep each run fast; the checks are the same.
    static TPictureLimitsOverride limits({4096, 1 << 22, 2048, 1 << 20});
    for (bool composite : {false, true}) {
        TMemoryStream stream;
        stream.WriteBuffer(data, int64_t(size));
        stream.SetPosition(0);
        TIOParamsVals params(nullptr);
        params.IsNativePixelFormat = composite;
        std::atomic<bool> abortFlag{false};
        TKVProgressRec progress;
        progress.AbortFlag = &abortFlag;
        TKVBitmap bitmap;
        std::unique_ptr<TKVBitmap> mask;
        ReadPNGStream(stream, bitmap, params, composite, mask, false, progress);
    }
    return 0;
}
