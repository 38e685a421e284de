#include "AutodeskGraphic.h"

#include <array>

#include "platform/ByteReader.h"

bool TAutodeskGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 32> h{};
    if (!PeekHeader(stream, 32, h)) return false;
    return TByteReader(h.data(), int64_t(h.size())).U16LEAt(0) == 0x9119 && h[10] == 8 && h[11] == 0;
}
