// The image view's selection stream, as the processing component's undo reads it back; a stream
// that loads has its mask read through and is saved again.
#include <cstdint>

#include "imaging/view/KVSelection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    TKVSelection selection;
    if (!selection.Load(stream)) return 0;
    selection.Mask.SyncBoundingBox();
    TMemoryStream saved;
    selection.Save(saved);
    return 0;
}
