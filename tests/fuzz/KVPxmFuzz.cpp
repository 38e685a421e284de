// The portable map reader on arbitrary bytes, with and without 48-bit pictures.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVPxm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const bool native : {false, true}) {
        TKVMemStream stream(data, int64_t(size));
        TDriverRun run;
        run.params.IsNativePixelFormat = native;
        IsPXMStream(stream);
        ReadPXMStream(stream, run.bitmap, run.params, false, run.progress);
    }
    return 0;
}
