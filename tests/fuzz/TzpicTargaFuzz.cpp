// The extended library's Targa reader on arbitrary bytes, and its writer on what it read.
#include "platform/Classes.h"
#include "platform/Exception.h"
#include "tzpicformats/TargaGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    try {
        TTargaGraphic graphic;
        graphic.LoadFromStream(stream);
        TMemoryStream written;
        graphic.SaveToStream(written);
    } catch (const Exception&) {
    }
    return 0;
}
