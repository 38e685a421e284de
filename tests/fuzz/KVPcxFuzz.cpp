// The PCX reader on arbitrary bytes; inputs that begin with the DCX magic go to the DCX reader.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVPcx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    TDriverRun run;
    if (size >= 4 && data[0] == 0xB1 && data[1] == 0x68) {
        run.params.DcxImageIndex = size % 3;
        ReadDCXStream(stream, run.bitmap, run.params, false, run.progress);
    } else {
        ReadPCXStream(stream, run.bitmap, run.params, false, run.progress, int64_t(size));
    }
    return 0;
}
