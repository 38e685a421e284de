#pragma once
// Builds small Paint Shop Pro files (major version 5) for the reader's tests.
#include <cstdint>
#include <string>
#include <vector>

struct TPSPChannel {
    uint16_t type;       // 0 composite, 1 red, 2 green, 3 blue
    std::string packed;  // the channel's data as stored
    uint32_t size;       // unpacked bytes
};

struct TPSPLayer {
    uint8_t type;  // 1 raster, 2 vector
    std::vector<TPSPChannel> channels;
};

std::string PSPFile(int width, int height, int bitDepth, int compression, const std::vector<TPSPLayer>& layers,
                    const std::string& paletteBgra = {});
