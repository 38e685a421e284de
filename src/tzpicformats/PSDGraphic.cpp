#include "PSDGraphic.h"

#include <array>
#include <cctype>
#include <string>

#include "platform/ByteReader.h"

bool TPSDGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 26> h{};
    if (!PeekHeader(stream, 26, h)) return false;
    std::string signature;
    for (int i = 0; i < 4; ++i) signature += char(std::toupper(h[size_t(i)]));
    return signature == "8BPS" && TByteReader(h.data(), int64_t(h.size())).U16BEAt(4) == 1;
}
