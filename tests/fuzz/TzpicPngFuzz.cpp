// The extended library's PNG reader on arbitrary bytes.
#include "platform/Classes.h"
#include "platform/Exception.h"
#include "tzpicformats/PNGGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    try {
        TPNGGraphic graphic;
        graphic.LoadFromStream(stream);
    } catch (const Exception&) {
    }
    return 0;
}
