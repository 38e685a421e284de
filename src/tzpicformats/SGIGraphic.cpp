#include "SGIGraphic.h"

#include <array>

#include "platform/ByteReader.h"

bool TSGIGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 512> h{};
    if (!PeekHeader(stream, 512, h)) return false;
    TByteReader reader(h.data(), int64_t(h.size()));
    const uint16_t dimension = reader.U16BEAt(4);
    return reader.U16BEAt(0) == 474 && (h[3] == 1 || h[3] == 2) && dimension >= 1 && dimension <= 3;
}
