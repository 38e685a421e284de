#include "GIFGraphic.h"

#include <array>
#include <cctype>

bool TGIFGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 22> h{};
    if (!PeekHeader(stream, 22, h)) return false;
    return std::toupper(h[0]) == 'G' && std::toupper(h[1]) == 'I' && std::toupper(h[2]) == 'F';
}
