#include "PSPGraphic.h"

#include <array>
#include <cctype>

#include "platform/ByteReader.h"

bool TPSPGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 36> h{};
    if (!PeekHeader(stream, 36, h)) return false;
    static const char signature[] = "paint shop pro image file";
    for (size_t i = 0; i < 25; ++i)
        if (std::tolower(h[i]) != signature[i]) return false;
    return TByteReader(h.data(), int64_t(h.size())).U16LEAt(32) >= 3;
}
