#include "TIFFGraphic.h"

#include <array>

#include "platform/ByteReader.h"

bool TTIFFGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 8> h{};
    if (!PeekHeader(stream, 8, h)) return false;
    const bool little = h[0] == 'I' && h[1] == 'I';
    if (!little && !(h[0] == 'M' && h[1] == 'M')) return false;
    TByteReader reader(h.data(), int64_t(h.size()));
    const uint32_t version = little ? reader.U16LEAt(2) : reader.U16BEAt(2);
    const uint32_t firstDirectory = little ? reader.U32LEAt(4) : reader.U32BEAt(4);
    return version == 42 && firstDirectory < uint64_t(stream.Size() - stream.Position());
}
