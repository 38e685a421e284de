#include "PCDGraphic.h"

#include <array>
#include <cstring>

bool TPCDGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 2051> h{};
    if (!PeekHeader(stream, 6144, h)) return false;
    return std::memcmp(h.data(), "PCD_OPA", 7) == 0 || std::memcmp(h.data() + 2048, "PCD", 3) == 0;
}
