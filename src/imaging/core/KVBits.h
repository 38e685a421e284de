#pragma once
// Bits of 1-bit rows, as the bitmap model stores them.
#include <cstdint>

// Bit n of a row is bit n mod 8 of byte n div 8, counted from the most significant bit.
inline int KVGetBit(const uint8_t* row, int64_t bit) { return row[bit >> 3] & (0x80 >> (bit & 7)); }
inline void KVSetBit(uint8_t* row, int64_t bit, bool value) {
    if (value) row[bit >> 3] |= uint8_t(0x80 >> (bit & 7));
    else row[bit >> 3] &= uint8_t(~(0x80 >> (bit & 7)));
}
// Copies count bits from bit sourceBit of source to bit destBit of dest, keeping the other bits
// of dest. Bits beyond sourceRowLen bytes of the source read as 0.
void KVCopyBits(uint8_t* dest, const uint8_t* source, int64_t destBit, int64_t sourceRowLen, int64_t count,
                int64_t sourceBit);
