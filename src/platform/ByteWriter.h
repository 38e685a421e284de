#pragma once
// Little- and big-endian integers written as bytes, the counterpart of TByteReader: appended to
// a growing buffer (a byte vector or a string), or stored into a buffer already sized.
#include <cstdint>

template <class Bytes> void PutU16LE(Bytes& out, uint32_t v) {
    using Byte = typename Bytes::value_type;
    out.push_back(Byte(v & 0xFF));
    out.push_back(Byte((v >> 8) & 0xFF));
}
template <class Bytes> void PutU32LE(Bytes& out, uint32_t v) {
    PutU16LE(out, v & 0xFFFF);
    PutU16LE(out, v >> 16);
}
template <class Bytes> void PutU16BE(Bytes& out, uint32_t v) {
    using Byte = typename Bytes::value_type;
    out.push_back(Byte((v >> 8) & 0xFF));
    out.push_back(Byte(v & 0xFF));
}
template <class Bytes> void PutU32BE(Bytes& out, uint32_t v) {
    PutU16BE(out, v >> 16);
    PutU16BE(out, v & 0xFFFF);
}

// Store the value at p, which has room for it.
inline void StoreU16LE(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void StoreU32LE(uint8_t* p, uint32_t v) {
    StoreU16LE(p, v & 0xFFFF);
    StoreU16LE(p + 2, v >> 16);
}
inline void StoreU16BE(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void StoreU32BE(uint8_t* p, uint32_t v) {
    StoreU16BE(p, v >> 16);
    StoreU16BE(p + 2, v & 0xFFFF);
}
