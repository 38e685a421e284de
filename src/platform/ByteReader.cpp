#include "ByteReader.h"

#include "platform/Classes.h"

int64_t TByteReader::Check(int64_t offset, int64_t count) const {
    if (offset < 0 || count < 0 || offset > Size() || count > Size() - offset)
        throw EShortData("data ends after " + std::to_string(Size()) + " bytes; " + std::to_string(count) +
                         " more were needed at offset " + std::to_string(offset));
    return offset;
}

void TByteReader::Seek(int64_t position) { position_ = Check(position, 0); }

uint16_t TByteReader::U16LEAt(int64_t offset) const {
    const uint8_t* p = data_.data() + Check(offset, 2);
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t TByteReader::U32LEAt(int64_t offset) const {
    const uint8_t* p = data_.data() + Check(offset, 4);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t TByteReader::U16BEAt(int64_t offset) const {
    const uint8_t* p = data_.data() + Check(offset, 2);
    return uint16_t(p[0] << 8 | p[1]);
}

uint32_t TByteReader::U32BEAt(int64_t offset) const {
    const uint8_t* p = data_.data() + Check(offset, 4);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void ReadExact(TStream& stream, void* buffer, int64_t count, const std::string& what) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const int64_t n = stream.Read(p, count);
        if (n <= 0) throw EShortData("truncated " + what);
        p += n;
        count -= n;
    }
}
