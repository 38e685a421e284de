#include "TiffStrips.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

uint32_t Le(const std::string& b, size_t at, int size) {
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | uint8_t(b.at(at + size_t(i)));
    return v;
}

}  // namespace

std::string TTiffStrips::Tag(int tag) const {
    std::string out;
    const auto found = tags.find(tag);
    if (found != tags.end())
        for (uint32_t v : found->second) out += char(v);
    return out;
}

TTiffStrips ReadTiffStrips(const std::string& path) {
    TTiffStrips tiff;
    tiff.bytes = ReadFile(path);
    const std::string& b = tiff.bytes;
    if (b.size() < 8 || b.compare(0, 2, "II") != 0) {
        ADD_FAILURE() << path << " is not a little-endian TIFF file";
        return {};
    }
    const size_t ifd = Le(b, 4, 4);
    const uint32_t entries = Le(b, ifd, 2);
    for (uint32_t e = 0; e < entries; ++e) {
        const size_t at = ifd + 2 + e * 12;
        const int tag = int(Le(b, at, 2)), type = int(Le(b, at + 2, 2));
        const uint32_t count = Le(b, at + 4, 4);
        const int size = type == 3 ? 2 : (type == 4 ? 4 : 1);
        const size_t data = uint64_t(count) * size <= 4 ? at + 8 : Le(b, at + 8, 4);
        std::vector<uint32_t>& values = tiff.tags[tag];
        for (uint32_t i = 0; i < count; ++i) values.push_back(Le(b, data + size_t(i) * size, size));
    }
    const bool tiled = tiff.tags.count(324) != 0;
    const std::vector<uint32_t>& offsets = tiff.tags[tiled ? 324 : 273];
    const std::vector<uint32_t>& lengths = tiff.tags[tiled ? 325 : 279];
    for (size_t i = 0; i < offsets.size() && i < lengths.size(); ++i) tiff.strips.push_back(b.substr(offsets[i], lengths[i]));
    return tiff;
}

std::string JoinedStrips(const TTiffStrips& tiff) {
    std::string out;
    for (const std::string& strip : tiff.strips) out += strip;
    return out;
}
