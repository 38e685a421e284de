// The GIF driver's reader and the animated-frame composition on arbitrary bytes.
#include <cstdint>
#include <memory>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVGifAnimation.h"
#include "imaging/io/KVGifFilter.h"
#include "imaging/io/KVLzw.h"
#include "imaging/core/KVProgress.h"
#include "platform/PictureLimits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small caps keep each run fast; the checks are the same.
    static TPictureLimitsOverride limits({2048, 1 << 20, 2048, 1 << 20});
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    TIOParamsVals params(nullptr);
    params.GifLZWDecompressor = GIFLZWDecode;
    params.IsNativePixelFormat = size > 0 && (data[size - 1] & 1);
    std::atomic<bool> abortFlag{false};
    TKVProgressRec progress;
    progress.AbortFlag = &abortFlag;
    TKVBitmap bitmap;
    std::unique_ptr<TKVMask> mask;
    int count = 0;
    stream.SetPosition(0);
    ReadGIFStream(stream, bitmap, count, false, mask, false, progress, params);
    // Every frame composed, at most a few to keep a run short.
    abortFlag = false;
    stream.SetPosition(0);
    params.SetImageIndex(count > 4 ? 3 : -1);
    ComposeGIFFrame(stream, bitmap, params, progress);
    return 0;
}
