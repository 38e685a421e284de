#include "PNGGraphic.h"

#include <array>
#include <cstring>

bool TPNGGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 8> h{};
    if (!PeekHeader(stream, 8, h)) return false;
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return std::memcmp(h.data(), signature, 8) == 0;
}
