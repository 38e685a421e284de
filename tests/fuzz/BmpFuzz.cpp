// The BMP reader on arbitrary bytes.
#include <cstdint>

#include "platform/Bmp.h"
#include "platform/Classes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    TBitmap bitmap;
    try {
        ReadBmp(stream, bitmap);
    } catch (const Exception&) {
    }
    return 0;
}
