#include "imaging/core/KVQuantizer.h"

#include <algorithm>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBoxQuantizer.h"
#include "imaging/core/KVNeuralQuantizer.h"

namespace {

uint32_t Key(const TKVRGB& c) { return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

}  // namespace

TKVQuantizer::TKVQuantizer(TKVBitmap& bitmap, TKVRGB* palette, int colors) : colors_(std::clamp(colors, 1, 256)) {
    const bool gray = bitmap.IsGrayScale();
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    if (!gray && format == kv24RGB && !bitmap.IsEmpty()) {
        if (BuildExactTable(bitmap, palette)) return;
        if (colors_ >= 128) {
            method_ = 0;
            mapper_ = KVBuildNeuralQuantizer(bitmap, palette, colors_);
            paletteSize_ = colors_;
        } else {
            method_ = 1;
            mapper_ = KVBuildBoxQuantizer(bitmap, palette, colors_, paletteSize_);
        }
    } else if (format == kv8Paletted) {
        paletteSize_ = std::min(colors_, bitmap.GetPaletteCount());
        for (int i = 0; i < paletteSize_; ++i) bitmap.GetPaletteEntry(i, palette[i]);
    } else if (gray) {
        grayRamp_ = true;
        paletteSize_ = colors_;
        for (int i = 0; i < colors_; ++i) {
            const auto v = uint8_t(int(256.0 / colors_ * i));
            palette[i] = TKVRGB{v, v, v};
        }
    }
    palette_.assign(palette, palette + paletteSize_);
}

TKVQuantizer::~TKVQuantizer() = default;

// The distinct colours in order of first appearance, when there are no more than colors_.
bool TKVQuantizer::BuildExactTable(TKVBitmap& bitmap, TKVRGB* palette) {
    std::vector<TKVRGB> found;
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const TKVRGB*>(bitmap.GetScanline(y));
        for (int x = 0; x < width; ++x) {
            if (exact_.count(Key(row[x]))) continue;
            if (int(found.size()) == colors_) {
                exact_.clear();
                return false;
            }
            exact_.emplace(Key(row[x]), int(found.size()));
            found.push_back(row[x]);
        }
    }
    std::copy(found.begin(), found.end(), palette);
    paletteSize_ = int(found.size());
    return true;
}

int TKVQuantizer::NearestOfPalette(const TKVRGB& color) const {
    int best = 0, bestDistance = INT32_MAX;
    for (int i = 0; i < int(palette_.size()); ++i) {
        const int distance = KVColorDistance(color, palette_[size_t(i)]);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

int TKVQuantizer::RGBToIndex(const TKVRGB& color) const {
    if (!exact_.empty()) {
        const auto found = exact_.find(Key(color));
        return found != exact_.end() ? found->second : NearestOfPalette(color);
    }
    if (mapper_) return mapper_->IndexOf(color);
    if (grayRamp_) return color.r * colors_ / 256;
    return NearestOfPalette(color);
}
