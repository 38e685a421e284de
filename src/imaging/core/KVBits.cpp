#include "imaging/core/KVBits.h"

#include <algorithm>

void KVCopyBits(uint8_t* dest, const uint8_t* source, int64_t destBit, int64_t sourceRowLen, int64_t count,
                int64_t sourceBit) {
    if (count < 1 || destBit < 0 || sourceBit < 0) return;
    auto sourceByte = [&](int64_t index) -> unsigned {
        return index >= 0 && index < sourceRowLen ? source[index] : 0;
    };
    // The 8 source bits that land in one destination byte start at bit 'from' of the source.
    auto bitsFrom = [&](int64_t from) -> uint8_t {
        const int64_t index = from >= 0 ? from / 8 : (from - 7) / 8;
        const int shift = int(from - index * 8);
        return uint8_t((sourceByte(index) << shift) | (shift ? sourceByte(index + 1) >> (8 - shift) : 0));
    };
    const int64_t first = destBit / 8, last = (destBit + count - 1) / 8;
    for (int64_t i = first; i <= last; ++i) {
        const int64_t runStart = std::max(destBit, i * 8) - i * 8;          // 0..7
        const int64_t runEnd = std::min(destBit + count, (i + 1) * 8) - i * 8;  // 1..8
        const auto mask = uint8_t((0xFF >> runStart) & (0xFF << (8 - runEnd)));
        const uint8_t bits = bitsFrom(sourceBit + i * 8 - destBit);
        dest[i] = uint8_t((dest[i] & ~mask) | (bits & mask));
    }
}
