// Capability containers and memory strips as a source might hand them over: the first byte picks
// the container kind (or a strip), the rest is the block.
#include <cstdint>
#include <cstring>

#include "imaging/acquire/KVTWain.h"
#include "imaging/core/KVBitmap.h"
#include "platform/Twain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t kind = data[0] % 5;
    if (kind < 4) {
        TW_HANDLE block = TwainAlloc(size - 1);
        if (size > 1) std::memcpy(block->Bytes.data(), data + 1, size - 1);
        TTwainValues values;
        TwainReadContainer(static_cast<TW_UINT16>(TWON_ARRAY + kind), block, values);
        TwainFree(block);
        return 0;
    }
    // A strip record followed by its buffer, copied into a small bitmap of each kind.
    TW_IMAGEMEMXFER strip{};
    if (size < 1 + 28) return 0;
    std::memcpy(&strip.BytesPerRow, data + 1, 24);
    std::vector<uint8_t> buffer(data + 1 + 28, data + size);
    strip.Memory = {TWMF_APPOWNS, static_cast<TW_UINT32>(buffer.size()), buffer.data()};
    const int bits[] = {1, 8, 16, 24, 48};
    const TKVPixelFormat formats[] = {kv1Bit, kv8Gray, kv16Gray, kv24RGB, kv24RGB};
    const int pick = data[25] % 5;
    TKVBitmap bitmap;
    bitmap.Allocate(1 + data[26] % 40, 1 + data[27] % 40, formats[pick]);
    KVTW_CopyBuffer(strip, buffer.size(), bits[pick], data[28] & 1, bitmap);
    return 0;
}
