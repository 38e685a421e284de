// The JPEG picture: its header read, then its decoding.
#include <cstdint>

#include "platform/Classes.h"
#include "platform/Jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromStream(stream);
        TBitmap decoded;
        jpeg.AssignTo(decoded);
    } catch (const Exception&) {
    }
    return 0;
}
