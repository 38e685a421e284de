// A captured frame from arbitrary bytes: a bitmap information header and what follows it.
#include "DriverFuzz.h"

#include "imaging/acquire/VideoFrame.h"
#include "platform/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVBitmap bitmap;
    try {
        KVDecodeVideoFrame({data, size}, bitmap);
    } catch (const Exception&) {
    }
    return 0;
}
