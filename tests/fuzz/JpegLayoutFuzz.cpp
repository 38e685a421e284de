// The PDF writer's structure check of JPEG files passed through, on arbitrary bytes.
#include <cstdint>

#include "platform/JpegLayout.h"
#include "platform/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        ParseJpegLayout({data, size});
    } catch (const Exception&) {
    }
    return 0;
}
