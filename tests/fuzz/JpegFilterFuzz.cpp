// The JPEG driver's reader, stream length and profile scan on arbitrary bytes.
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/core/KVProgress.h"
#include "platform/PictureLimits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small caps keep each run fast; the checks are the same.
    static TPictureLimitsOverride limits({2048, 1 << 20, 2048, 1 << 20});
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    GetJPEGStreamLength(stream);
    TIOParamsVals params(nullptr);
    ReadJPEGICCProfile(stream, params);
    std::atomic<bool> abortFlag{false};
    TKVProgressRec progress;
    progress.AbortFlag = &abortFlag;
    // The low bits of the first byte choose a scale and the native pixel formats.
    params.JpegScale = size > 0 ? data[0] % 5 : 1;
    params.IsNativePixelFormat = size > 0 && (data[0] & 8);
    TKVBitmap bitmap;
    ReadJPEGStream(stream, nullptr, bitmap, true, false, true, false, false, progress, params);
    return 0;
}
