// The icon and cursor reader on arbitrary bytes: the first two images of an icon, and a cursor.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVIcon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (int index = 0; index < 3; ++index) {
        TKVMemStream stream(data, int64_t(size));
        TDriverRun run;
        run.params.IcoImageIndex = index;
        if (index < 2) ReadICOStream(stream, run.bitmap, run.params, false, false, run.progress);
        else ReadCURStream(stream, run.bitmap, run.params, false, false, run.progress);
    }
    return 0;
}
