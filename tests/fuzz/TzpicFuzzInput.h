#pragma once
// The input layout of the extended library's decoder targets: a byte of options, a 16-bit
// little-endian size of the target, then the packed data.
#include <cstddef>
#include <cstdint>
#include <vector>

struct TDecoderFuzzInput {
    uint8_t options = 0;
    std::vector<uint8_t> target;
    const uint8_t* packed = nullptr;
    int64_t packedSize = 0;

    // False when the input is too short to carry the header.
    bool Parse(const uint8_t* data, size_t size) {
        if (size < 3) return false;
        options = data[0];
        target.assign(size_t(data[1] | data[2] << 8), 0);
        packed = data + 3;
        packedSize = int64_t(size - 3);
        return true;
    }
};
