#include "imaging/io/KVIndexedPalette.h"

#include <set>

#include "imaging/core/KVBitmap.h"

namespace {

uint32_t Packed(const TKVRGB& c) { return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b; }

// Up to limit + 1 distinct colours of the picture, so that more than limit shows.
std::vector<TKVRGB> DistinctColors(TKVBitmap& bitmap, int limit) {
    std::set<uint32_t> seen;
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < bitmap.GetHeight() && int(seen.size()) <= limit; ++y)
        for (int x = 0; x < bitmap.GetWidth() && int(seen.size()) <= limit; ++x) seen.insert(Packed(bitmap.GetPixelRGB(x, y)));
    std::vector<TKVRGB> colors;
    for (uint32_t c : seen) colors.push_back(TKVRGB{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    return colors;
}

std::vector<TKVRGB> SpreadPalette(int colors) {
    std::vector<TKVRGB> palette;
    if (colors >= 256) {
        // 8 reds, 8 greens, 4 blues
        for (int i = 0; i < 256; ++i)
            palette.push_back(TKVRGB{uint8_t((i & 3) * 255 / 3), uint8_t(((i >> 2) & 7) * 255 / 7),
                                     uint8_t((i >> 5) * 255 / 7)});
    } else if (colors >= 16) {
        // the sixteen colours of the classic display palette, as red, green, blue
        static const uint8_t classic[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                               {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                               {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                               {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (const auto& c : classic) palette.push_back(TKVRGB{c[2], c[1], c[0]});
    } else {
        palette = {TKVRGB{}, TKVRGB{255, 255, 255}};
    }
    palette.resize(size_t(colors));
    return palette;
}

}  // namespace

TKVIndexedPalette::TKVIndexedPalette(TKVBitmap& bitmap, int colors) : bitmap_(bitmap) {
    if (bitmap.GetPixelFormat() == kv8Paletted && colors == 256) {
        colors_.assign(bitmap.Palette(), bitmap.Palette() + 256);
        sourceIndexes_ = true;
        return;
    }
    colors_ = DistinctColors(bitmap, colors);
    if (int(colors_.size()) > colors) colors_ = SpreadPalette(colors);
    colors_.resize(size_t(colors));
}

void TKVIndexedPalette::RowIndexes(int y, uint8_t* indexes) {
    TKVAccessScope reading(bitmap_, kvaRead);
    const int width = bitmap_.GetWidth();
    if (sourceIndexes_) {
        const uint8_t* row = bitmap_.GetScanline(y);
        std::copy(row, row + width, indexes);
        return;
    }
    for (int x = 0; x < width; ++x) indexes[x] = Nearest(bitmap_.GetPixelRGB(x, y));
}

uint8_t TKVIndexedPalette::Nearest(const TKVRGB& color) {
    const auto cached = cache_.find(Packed(color));
    if (cached != cache_.end()) return cached->second;
    int best = 0;
    int64_t bestDistance = INT64_MAX;
    for (size_t i = 0; i < colors_.size(); ++i) {
        const int dr = color.r - colors_[i].r, dg = color.g - colors_[i].g, db = color.b - colors_[i].b;
        const int64_t distance = int64_t(dr) * dr + int64_t(dg) * dg + int64_t(db) * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = int(i);
        }
    }
    cache_.emplace(Packed(color), uint8_t(best));
    return uint8_t(best);
}
