#include "TargaGraphic.h"

#include <array>

bool TTargaGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 18> h{};
    if (!PeekHeader(stream, 18, h)) return false;
    const uint8_t colorMapType = h[1], imageType = h[2], entrySize = h[7], depth = h[16];
    const bool typeKnown = imageType <= 3 || (imageType >= 9 && imageType <= 11);
    const bool entryKnown = entrySize == 15 || entrySize == 16 || entrySize == 24 || entrySize == 32;
    const bool depthKnown = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    return typeKnown && colorMapType <= 1 && entryKnown && depthKnown;
}
