#pragma once
// The record-by-record check that every metafile passes before a player sees it.
#include <cstdint>
#include <vector>

// Frames with a side beyond this many screen pixels are refused.
constexpr int MaxMetafileSide = 1000000;

// A metafile whose records were walked and whose frame was measured: what the players receive.
struct TCheckedMetafile {
    std::vector<uint8_t> records;  // up to the end record, with the header's sizes set to what the walk found
    int width = 0, height = 0;     // the frame in pixels of the 96 dpi screen
    bool enhanced = false;
};

// A placeable Windows metafile or an enhanced metafile, told apart by the content. Damaged or
// truncated records, pictures larger than their records or the limits, or a frame with an empty
// or too long side raise EInvalidGraphic.
TCheckedMetafile CheckMetafile(const std::vector<uint8_t>& data);
