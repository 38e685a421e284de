// The icon file reader on arbitrary bytes.
#include <cstdint>

#include "platform/Classes.h"
#include "platform/Icon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    TIcon icon;
    try {
        icon.LoadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
