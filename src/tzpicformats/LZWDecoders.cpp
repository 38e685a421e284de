#include "LZWDecoders.h"

#include <algorithm>
#include <array>

namespace {

constexpr int kTableSize = 4096;
constexpr uint16_t kNoCode = 4096;

enum class TLzwFlavour { Tiff, Gif };

// Returns the number of bytes written.
template <TLzwFlavour flavour>
int64_t DecodeLzw(const uint8_t* source, int64_t packedSize, uint8_t* target, int64_t unpackedSize, int codeSize) {
    constexpr bool tiff = flavour == TLzwFlavour::Tiff;
    // GIF code sizes run from 2 to 8 bits; others cannot be decoded.
    if (codeSize < 1 || codeSize > 11) return 0;
    std::array<uint16_t, kTableSize> prefix{};
    std::array<uint8_t, kTableSize> suffix{};
    std::array<uint8_t, kTableSize + 1> stack{};
    const uint16_t clear = uint16_t(1u << codeSize), end = uint16_t(clear + 1), firstFree = uint16_t(clear + 2);
    const int firstWidth = codeSize + 1;
    for (uint16_t i = 0; i < clear; ++i) {
        prefix[i] = kNoCode;
        suffix[i] = uint8_t(i);
    }
    int width = firstWidth;
    uint32_t mask = (1u << width) - 1;
    uint16_t nextFree = firstFree, oldCode = kNoCode;
    uint8_t firstByte = 0;
    uint32_t buffer = 0;
    int bits = 0;
    int64_t written = 0;

    for (int64_t in = 0; in < packedSize && written < unpackedSize; ++in) {
        if (tiff) buffer = (buffer << 8) | source[in];
        else buffer |= uint32_t(source[in]) << bits;
        bits += 8;
        while (bits >= width) {
            uint16_t code;
            if (tiff) {
                code = uint16_t((buffer >> (bits - width)) & mask);
            } else {
                code = uint16_t(buffer & mask);
                buffer >>= width;
            }
            bits -= width;
            if (code == end) {
                if (tiff) return written;
                // The rest of this byte holds no codes; the next byte starts afresh.
                buffer = 0;
                bits = 0;
                break;
            }
            if (code == clear) {
                width = firstWidth;
                mask = (1u << width) - 1;
                nextFree = firstFree;
                oldCode = kNoCode;
                continue;
            }
            // Codes not yet defined are dropped; so is a first code that is no single byte.
            if (code > nextFree) continue;
            if (oldCode == kNoCode) {
                if (code >= clear) continue;
                target[written++] = suffix[code];
                if (written == unpackedSize) return written;
                firstByte = suffix[code];
                oldCode = code;
                continue;
            }
            const uint16_t incoming = code;
            size_t depth = 0;
            if (code == nextFree) {
                stack[depth++] = firstByte;
                code = oldCode;
            }
            while (code > clear) {
                // The last entry of a full GIF table may be made to point at itself.
                if (depth == stack.size() - 1) RaiseDamagedData();
                stack[depth++] = suffix[code];
                code = prefix[code];
            }
            firstByte = suffix[code];
            stack[depth++] = firstByte;
            if (nextFree < kTableSize) {
                prefix[nextFree] = oldCode;
                suffix[nextFree] = firstByte;
            }
            if (tiff) {
                if (nextFree < kTableSize) ++nextFree;
                if (nextFree == mask && width < 12) mask = (1u << ++width) - 1;
            } else {
                if (nextFree == mask && width < 12) mask = (1u << ++width) - 1;
                if (nextFree < kTableSize - 1) ++nextFree;
            }
            oldCode = incoming;
            if (int64_t(depth) > unpackedSize - written) RaiseDamagedData();
            while (depth > 0) target[written++] = stack[--depth];
            if (written == unpackedSize) return written;
        }
    }
    return written;
}

}  // namespace

void TTIFFLZWDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    DecodeLzw<TLzwFlavour::Tiff>(source, packedSize, target, unpackedSize, 8);
}

void TGIFLZWDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    target += DecodeLzw<TLzwFlavour::Gif>(source, packedSize, target, unpackedSize, initialCodeSize_);
}
