#include "RLAGraphic.h"

#include <array>
#include <cctype>
#include <string>

#include "platform/ByteReader.h"

bool TRLAGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 740> h{};
    if (!PeekHeader(stream, 740, h)) return false;
    TByteReader reader(h.data(), int64_t(h.size()));
    if (reader.U16BEAt(26) != 0xFFFE) return false;
    std::string space;
    for (size_t i = 580; i < 612 && h[i] != 0; ++i) space += char(std::tolower(h[i]));
    return space == "rgb" || space == "xyz";
}
