#include "PCXGraphic.h"

#include <array>

bool TPCXGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 128> h{};
    if (!PeekHeader(stream, 128, h)) return false;
    return (h[0] == 10 || h[0] == 205) && (h[1] == 0 || h[1] == 2 || h[1] == 3 || h[1] == 5) && h[2] <= 1;
}
