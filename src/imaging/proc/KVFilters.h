#pragma once
// The named 3 x 3 convolution presets and histogram matching of colour channels.
#include <cstdint>
#include <string>
#include <vector>

class TKVBitmap;
class TStringList;

struct TKVFilterPreset {
    int32_t Coefficients[9];  // row by row
    int32_t Divisor;
};

// The presets ("None", "Blur", "Edges", ...), built on first use, and their names at the same index.
std::vector<TKVFilterPreset>& KVFilterPresets();
TStringList& KVFilterPresetNames();
void KVAddFilterPreset(const TKVFilterPreset& preset, const std::string& name);

// Channel 0 blue, 1 green, 2 red of a kv24RGB or kvRGB48 bitmap follows the reference histogram
// of refTotal samples. Other formats and an empty reference change nothing.
void KVMatchHistogram(TKVBitmap& bitmap, int channel, const uint32_t refCounts[256], int64_t refTotal);
// The three channels of bitmap follow those of a kv24RGB reference.
void KVMatchChannelHistograms(TKVBitmap& reference, TKVBitmap& bitmap);
