// The TIFF LZW decoder on an arbitrary strip, row by row.
#include <cstdint>

#include "imaging/io/KVLzw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte chooses the row length.
    const int64_t rowLength = 1 + data[0] % 64;
    TKVTIFFLZWDecodeState* state = nullptr;
    for (int row = 0; row < 4096; ++row)
        if (!TIFFLZWDecode(data + 1, int64_t(size - 1), rowLength, state)) break;
    TIFFLZWDecode(nullptr, 0, 0, state);
    return 0;
}
