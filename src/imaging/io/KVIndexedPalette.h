#pragma once
// The palette and pixel indexes with which a writer stores a picture in 2, 16 or 256 colours:
// the picture's own colours when it has no more than that, otherwise a palette spread evenly over
// the colour cube with each pixel taking the nearest entry.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "imaging/core/KVPixelTypes.h"

class TKVBitmap;

class TKVIndexedPalette {
public:
    TKVIndexedPalette(TKVBitmap& bitmap, int colors);
    const std::vector<TKVRGB>& Colors() const { return colors_; }
    // One index per pixel of row y (0 is the top row).
    void RowIndexes(int y, uint8_t* indexes);

private:
    uint8_t Nearest(const TKVRGB& color);

    TKVBitmap& bitmap_;
    std::vector<TKVRGB> colors_;
    bool sourceIndexes_ = false;  // a paletted picture written with its own palette
    std::unordered_map<uint32_t, uint8_t> cache_;
};
