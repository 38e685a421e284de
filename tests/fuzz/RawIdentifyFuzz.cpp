// Camera raw identification on arbitrary bytes: signatures, the TIFF, CIFF, Foveon and Rollei
// container walks and the camera table.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/raw/KVRaw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    KVIsRawStream(stream);
    TDriverRun run;
    KVReadRawStream(stream, run.bitmap, run.params, true, run.progress);
    return 0;
}
