// The CCITT decoders on arbitrary bytes: the first byte chooses the coding, fill order and width.
#include <cstdint>
#include <vector>

#include "imaging/io/KVCcitt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int scheme = data[0] % 3, fillOrder = 1 + (data[0] >> 2) % 2;
    const int width = 1 + data[1] * 8 + (data[0] >> 3);
    const uint8_t* strip = data + 2;
    const auto length = int64_t(size - 2);
    std::vector<uint8_t> row(size_t((width + 7) / 8)), reference(row.size(), 0xFF);
    int64_t position = 0;
    for (int y = 0; y < 64 && position < length * 8; ++y) {
        if (scheme == 0) position = CCITTDecode1D(row.data(), strip, length, fillOrder, position, width);
        else position = CCITTDecode2D(row.data(), strip, length, scheme == 1, fillOrder, position, reference.data(), width);
    }
    CCITTDecodeMH(row.data(), strip, length, fillOrder, width);
    return 0;
}
