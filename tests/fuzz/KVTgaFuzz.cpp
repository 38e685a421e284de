// The Targa reader on arbitrary bytes, with alpha.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVTga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    TDriverRun run;
    ReadTGAStream(stream, run.bitmap, run.params, false, false, run.progress);
    return 0;
}
