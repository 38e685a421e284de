// The maker-note directory (a little-endian TIFF directory) read from arbitrary bytes.
#include <cstdint>

#include "imaging/core/KVMetadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVTagsHandler tags;
    try {
        tags.Stream().WriteBuffer(data, int64_t(size));
        tags.Stream().SetPosition(0);
        tags.ReadDirectory();
    } catch (const Exception&) {
    }
    return 0;
}
