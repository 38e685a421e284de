#include "PPMGraphic.h"

#include <array>

bool TPPMGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 10> h{};
    if (!PeekHeader(stream, 10, h)) return false;
    return h[0] == 'P' && h[1] >= '1' && h[1] <= '6';
}
