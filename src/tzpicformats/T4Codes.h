#pragma once
// The modified Huffman run-length codes of ITU-T Recommendation T.4, per colour: terminating codes
// for runs 0 to 63, then make-up codes for 64 to 1728, then the extended make-up codes for 1792 to
// 2560 that both colours share.
#include <cstdint>
#include <span>

struct TT4Code {
    uint16_t Run;
    uint8_t Length;  // bits
    uint16_t Bits;   // the code in the low Length bits
};

std::span<const TT4Code> T4WhiteCodes();
std::span<const TT4Code> T4BlackCodes();
