#pragma once
// Metafiles turned into SVG by the metafile libraries, kept apart from the program.
#include <cstdint>
#include <string>
#include <vector>

struct TMetafileSvg {
    std::string svg;
    int width = 0, height = 0;  // the frame in pixels of the 96 dpi screen
    bool enhanced = false;
};

// Frames with a side beyond this many screen pixels are refused.
constexpr int MaxMetafileSide = 1000000;

// A placeable Windows metafile or an enhanced metafile, told apart by the content. Damaged,
// truncated or unplayable data, or a frame with an empty or too long side, raise EInvalidGraphic.
TMetafileSvg MetafileToSvg(const std::vector<uint8_t>& data);
