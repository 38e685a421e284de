// The extended library's registry asking every class's content test about arbitrary bytes.
#include <string>

#include "platform/Classes.h"
#include "tzpicformats/FileFormatList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    try {
        RegisteredFormats().ClassForStreamContent(stream);
        RegisteredFormats().ClassForExtension(std::string(reinterpret_cast<const char*>(data), size < 8 ? size : 8));
    } catch (const Exception&) {
    }
    return 0;
}
