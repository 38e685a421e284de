// A packed DIB (header, colours, rows) drawn into the image library's DIB bitmap.
#include <cstdint>

#include "imaging/core/KVDibBitmap.h"
#include "imaging/core/KVPackedDib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVDibbitmap bitmap;
    try {
        KVDIBToDibBitmap(data, int64_t(size), bitmap);
    } catch (const Exception&) {
    }
    return 0;
}
