#pragma once
// Builds a palette of at most N colours for a bitmap and maps the bitmap's colours to it.
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "imaging/core/KVPixelTypes.h"

class TKVBitmap;

// One way of building a palette and looking colours up in it.
class TKVColorMapper {
public:
    virtual ~TKVColorMapper() = default;
    virtual int IndexOf(const TKVRGB& color) const = 0;
};

class TKVQuantizer {
public:
    // Writes the palette into palette[0..colors-1] at once; entries the chosen strategy does not
    // produce keep the caller's values. colors is taken within 1..256.
    TKVQuantizer(TKVBitmap& bitmap, TKVRGB* palette, int colors);
    ~TKVQuantizer();
    TKVQuantizer(const TKVQuantizer&) = delete;
    TKVQuantizer& operator=(const TKVQuantizer&) = delete;

    // Always an index of an entry that the constructor wrote; a paletted bitmap answers by its
    // own entries even when they are gray, a colour missing from an exact table by the nearest.
    int RGBToIndex(const TKVRGB& color) const;
    // How many palette entries were written.
    int PaletteSize() const { return paletteSize_; }
    // 0 the neural network, 1 the box splitter, -1 neither.
    int Method() const { return method_; }

private:
    bool BuildExactTable(TKVBitmap& bitmap, TKVRGB* palette);
    int NearestOfPalette(const TKVRGB& color) const;

    int colors_;
    bool grayRamp_ = false;  // indexes follow the red byte
    int method_ = -1;
    int paletteSize_ = 0;
    std::vector<TKVRGB> palette_;  // what RGBToIndex may answer
    std::unordered_map<uint32_t, int> exact_;
    std::unique_ptr<TKVColorMapper> mapper_;
};

// Sum of the absolute channel differences.
inline int KVColorDistance(const TKVRGB& a, const TKVRGB& b) {
    auto d = [](int x, int y) { return x > y ? x - y : y - x; };
    return d(a.r, b.r) + d(a.g, b.g) + d(a.b, b.b);
}
