// A block of TIFF imaging annotations, read, copied and written again.
#include <cstdint>

#include "imaging/core/KVImagingAnnot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVImagingAnnot annotations;
    try {
        if (annotations.LoadFromBuffer(data, int64_t(size))) {
            TKVImagingAnnot copy;
            copy.Assign(annotations);
            copy.SaveToBuffer();
        }
    } catch (const Exception&) {
    }
    return 0;
}
