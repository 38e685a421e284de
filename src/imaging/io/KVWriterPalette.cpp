#include "imaging/io/KVWriterPalette.h"

#include <algorithm>
#include <cmath>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"

TKVWriterPalette::TKVWriterPalette(TKVBitmap& bitmap, int count) {
    count = std::clamp(count, 2, 256);
    TKVAccessScope reading(bitmap, kvaRead);
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const bool rgb = bitmap.GetPixelFormat() == kv24RGB;
    bool fits = true;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const TKVRGB*>(bitmap.GetScanline(y));
        for (int x = 0; x < width; ++x) {
            const TKVRGB c = rgb ? row[x] : bitmap.GetPixelRGB(x, y);
            gray_ = gray_ && c.r == c.g && c.g == c.b;
            if (!fits) continue;
            if (exact_.emplace(Key(c), int(colors_.size())).second) colors_.push_back(c);
            fits = int(colors_.size()) <= count;
        }
    }
    if (fits) return;
    exact_.clear();
    colors_.clear();
    if (count < 8) {
        for (int i = 0; i < count; ++i) {
            const auto level = uint8_t(i * 255 / (count - 1));
            colors_.push_back({level, level, level});
        }
        return;
    }
    levels_ = int(std::cbrt(count + 0.5));
    for (int r = 0; r < levels_; ++r)
        for (int g = 0; g < levels_; ++g)
            for (int b = 0; b < levels_; ++b)
                colors_.push_back({uint8_t(b * 255 / (levels_ - 1)), uint8_t(g * 255 / (levels_ - 1)),
                                   uint8_t(r * 255 / (levels_ - 1))});
}

int TKVWriterPalette::RGBToIndex(const TKVRGB& color) const {
    if (!exact_.empty()) {
        const auto found = exact_.find(Key(color));
        return found != exact_.end() ? found->second : 0;
    }
    if (levels_ == 0) {
        const int gray = (color.r * KVGrayWeights.Red + color.g * KVGrayWeights.Green + color.b * KVGrayWeights.Blue) / 100;
        return std::clamp((gray * (int(colors_.size()) - 1) + 127) / 255, 0, int(colors_.size()) - 1);
    }
    auto step = [this](int value) { return (value * (levels_ - 1) + 127) / 255; };
    return (step(color.r) * levels_ + step(color.g)) * levels_ + step(color.b);
}
