// Whole camera raw decodes on arbitrary bytes: the loader the file's container chooses, white
// balance, interpolation or the three-layer reconstruction, and the output in 24 and 48 bits.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/raw/KVRaw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const bool deep : {false, true}) {
        TKVMemStream stream(data, int64_t(size));
        TDriverRun run;
        run.params.IsNativePixelFormat = deep;
        run.params.RawSwitches = {true, deep, !deep, deep};
        KVReadRawStream(stream, run.bitmap, run.params, false, run.progress);
    }
    return 0;
}
