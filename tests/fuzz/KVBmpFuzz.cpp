// The image library's BMP reader on arbitrary bytes: files, and headerless bitmaps when the
// bytes do not start with "BM"; 4- and 8-bit pictures both as palettes and as colours.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVBmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool headerless = size < 2 || data[0] != 'B' || data[1] != 'M';
    for (const bool native : {false, true}) {
        TKVMemStream stream(data, int64_t(size));
        TDriverRun run;
        run.params.IsNativePixelFormat = native;
        ReadBMPStream(stream, run.bitmap, 0, false, headerless, false, run.progress, run.params);
    }
    return 0;
}
