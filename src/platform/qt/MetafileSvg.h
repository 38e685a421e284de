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

// A placeable Windows metafile or an enhanced metafile, checked by CheckMetafile and played.
// Data that fail the check or cannot be played raise EInvalidGraphic.
TMetafileSvg MetafileToSvg(const std::vector<uint8_t>& data);
