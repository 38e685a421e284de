#pragma once
// The palette a writer stores for a picture: the picture's own colours when there are few enough,
// else an even spread over the colour cube (a gray ramp below eight entries); and the index of a
// colour in it.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "imaging/core/KVPixelTypes.h"

class TKVBitmap;

class TKVWriterPalette {
public:
    // count: the largest number of entries, 2 to 256.
    TKVWriterPalette(TKVBitmap& bitmap, int count);
    const std::vector<TKVRGB>& Colors() const { return colors_; }
    // Every pixel of the picture is gray.
    bool IsGray() const { return gray_; }
    // Always inside the palette.
    int RGBToIndex(const TKVRGB& color) const;

private:
    static uint32_t Key(const TKVRGB& c) { return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b; }

    std::vector<TKVRGB> colors_;
    std::unordered_map<uint32_t, int> exact_;
    int levels_ = 0;  // per channel in the cube; 0 for the exact table or the gray ramp
    bool gray_ = true;
};
