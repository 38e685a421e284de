// IPTC data sets, plain or inside a Photoshop resource, read and written again.
#include <cstdint>

#include "imaging/core/KVMetadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVIPTCInfoList list;
    try {
        list.LoadFromBuffer(data, int64_t(size));
        list.SaveToBuffer(true);
        list.SaveToBuffer(false);
    } catch (const Exception&) {
    }
    return 0;
}
