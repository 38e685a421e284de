#include "EPSGraphic.h"

#include <array>

#include "platform/ByteReader.h"

bool TEPSGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 30> h{};
    if (!PeekHeader(stream, 30, h)) return false;
    TByteReader reader(h.data(), int64_t(h.size()));
    return reader.U32LEAt(0) == 0xC6D3D0C5u && int64_t(reader.U32LEAt(20)) > stream.Position() + 30 &&
           reader.U32LEAt(24) > 0;
}
