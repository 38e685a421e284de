// Camera raw identification on arbitrary bytes: signatures, the TIFF, CIFF, Foveon and Rollei
// container walks, the camera table, and the CIFF metadata walk with its embedded previews.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/raw/KVRaw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    KVIsRawStream(stream);
    KVIsRawContainerStream(stream);
    TIOParamsVals metadata(nullptr);
    KVReadRawMetadata(stream, metadata);
    TDriverRun run;
    KVReadRawStream(stream, run.bitmap, run.params, true, run.progress);
    return 0;
}
