// The JPEG marker list driven by the bytes: each record is a type, a 16-bit length and as much
// data as remains of that length, added, then replaced and deleted in turn.
#include <algorithm>
#include <cstdint>

#include "imaging/core/KVMetadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMarkerList markers;
    try {
        size_t at = 0;
        while (size - at >= 3) {
            const uint8_t type = data[at];
            const auto length = uint16_t(std::min<size_t>(size_t(data[at + 1] | data[at + 2] << 8), size - at - 3));
            markers.AddMarker(type, data + at + 3, length);
            at += 3 + length;
        }
        for (int i = 0; i < markers.Count(); ++i) {
            const int found = markers.IndexOf(markers.GetMarkerType(i));
            markers.SetMarker(found, uint8_t(i), uint16_t(markers.GetMarkerLength(i)), markers.GetMarkerData(i));
        }
        TKVMarkerList copy;
        copy.Assign(&markers);
        while (copy.Count() > 0) copy.DeleteMarker(copy.Count() / 2);
    } catch (const Exception&) {
    }
    return 0;
}
