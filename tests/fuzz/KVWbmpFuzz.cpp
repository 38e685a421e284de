// The wireless bitmap reader on arbitrary bytes.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVWbmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    TDriverRun run;
    ReadWBMPStream(stream, run.bitmap, run.params, false, run.progress);
    return 0;
}
