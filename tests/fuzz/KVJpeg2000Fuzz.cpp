// The JPEG 2000 reader (JP2 files and code streams) on arbitrary bytes.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVJpeg2000.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    TDriverRun run;
    ReadJP2Stream(stream, run.bitmap, run.params, false, run.progress);
    return 0;
}
