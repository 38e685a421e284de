// Whole camera raw decodes on arbitrary bytes: the loader the file's container chooses, white
// balance, interpolation or the three-layer reconstruction, and the output in 24 bits at full
// size and in 48 bits at half size.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/raw/KVRaw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const bool half : {false, true}) {
        // At half size a quarter of the samples pass the colour stages, so pictures of up to a
        // million pixels are decoded: that reaches the cameras whose picture has a fixed size,
        // with their data cut short.
        const int64_t pixels = int64_t(1) << (half ? 20 : 18);
        const TPictureLimitsOverride limits({int64_t(1) << 14, pixels, 2048, pixels});
        TKVMemStream stream(data, int64_t(size));
        TDriverRun run;
        run.params.IsNativePixelFormat = half;
        run.params.RawHalfSize = half;
        run.params.RawSwitches = {true, half, !half, half};
        KVReadRawStream(stream, run.bitmap, run.params, false, run.progress);
    }
    return 0;
}
