#pragma once
// Reads the strips and tags of little-endian TIFF files that tiffcp and ImageMagick write, so the
// decoders can be fed the data of an independent encoder.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TTiffStrips {
    std::map<int, std::vector<uint32_t>> tags;  // every value of each tag of the first directory
    std::vector<std::string> strips;            // strip or tile data in file order
    std::string Tag(int tag) const;             // JPEGTables and other byte tags as bytes
    uint32_t Value(int tag, uint32_t fallback = 0) const {
        const auto found = tags.find(tag);
        return found == tags.end() || found->second.empty() ? fallback : found->second[0];
    }
    std::string bytes;
};

// Fails the current test and returns an empty record when the file cannot be read.
TTiffStrips ReadTiffStrips(const std::string& path);
// All strips of the file joined.
std::string JoinedStrips(const TTiffStrips& tiff);
