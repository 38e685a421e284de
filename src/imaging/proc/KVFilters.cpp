#include "imaging/proc/KVFilters.h"

#include <cmath>
#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "platform/Classes.h"

namespace {

struct Presets {
    std::vector<TKVFilterPreset> records;
    TStringList names;
};

Presets& Registry() {
    static Presets presets = [] {
        Presets p;
        auto add = [&](const char* name, TKVFilterPreset preset) {
            p.records.push_back(preset);
            p.names.Add(name);
        };
        add("None", {{0, 0, 0, 0, 1, 0, 0, 0, 0}, 0});
        add("Blur", {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 9});
        add("Edges", {{1, 1, 1, 1, -8, 1, 1, 1, 1}, 1});
        add("Emboss", {{-1, 0, 1, -1, 1, 1, -1, 0, 1}, 1});
        add("High Pass 1", {{0, -1, 0, -1, 5, -1, 0, -1, 0}, 1});
        add("High Pass 2", {{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1});
        add("High Pass 3", {{1, -2, 1, -2, 5, -2, 1, -2, 1}, 1});
        add("Low Pass 1", {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 10});
        add("Low Pass 2", {{1, 2, 1, 2, 4, 2, 1, 2, 1}, 16});
        return p;
    }();
    return presets;
}

}  // namespace

std::vector<TKVFilterPreset>& KVFilterPresets() { return Registry().records; }

TStringList& KVFilterPresetNames() { return Registry().names; }

void KVAddFilterPreset(const TKVFilterPreset& preset, const std::string& name) {
    Registry().records.push_back(preset);
    Registry().names.Add(name);
}

namespace {

// The channel's value as a byte and its place in the pixel.
struct ChannelAccess {
    int pixelSize, offset;
    bool wide;
    int Get(const uint8_t* row, int x) const {
        const uint8_t* p = row + int64_t(x) * pixelSize + offset;
        if (!wide) return *p;
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v / 256;
    }
    void Set(uint8_t* row, int x, int value) const {
        uint8_t* p = row + int64_t(x) * pixelSize + offset;
        if (!wide) {
            *p = uint8_t(value);
            return;
        }
        const uint16_t v = uint16_t(value * 257);
        std::memcpy(p, &v, 2);
    }
};

}  // namespace

void KVMatchHistogram(TKVBitmap& bitmap, int channel, const uint32_t refCounts[256], int64_t refTotal) {
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    if ((format != kv24RGB && format != kvRGB48) || bitmap.IsEmpty() || channel < 0 || channel > 2 || refTotal <= 0)
        return;
    const ChannelAccess access = format == kv24RGB ? ChannelAccess{3, channel, false}
                                                   : ChannelAccess{6, 4 - 2 * channel, true};
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    int64_t histogram[256] = {};
    {
        TKVAccessScope read(bitmap, kvaRead);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = bitmap.GetScanline(y);
            for (int x = 0; x < width; ++x) ++histogram[access.Get(row, x)];
        }
    }
    int equalized[256];
    int64_t sum = 0;
    for (int i = 0; i < 256; ++i) {
        sum += histogram[i];
        equalized[i] = int(std::trunc(double(sum) * 255 / (int64_t(width) * height)));
    }
    double reference[256];
    int64_t refSum = 0;
    for (int i = 0; i < 256; ++i) {
        refSum += refCounts[i];
        reference[i] = 255.0 / double(refTotal) * double(refSum);
    }
    int inverse[256];
    for (int i = 0; i < 256; ++i) {
        int best = 0;
        for (int j = 1; j < 256; ++j)
            if (std::abs(i - reference[j]) < std::abs(i - reference[best])) best = j;
        inverse[i] = best;
    }
    TKVAccessScope write(bitmap, kvaReadWrite);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < width; ++x) access.Set(row, x, inverse[equalized[access.Get(row, x)]]);
    }
}

void KVMatchChannelHistograms(TKVBitmap& reference, TKVBitmap& bitmap) {
    if (reference.GetPixelFormat() != kv24RGB || reference.IsEmpty() || bitmap.IsEmpty()) return;
    uint32_t counts[3][256] = {};
    {
        TKVAccessScope read(reference, kvaRead);
        for (int y = 0; y < reference.GetHeight(); ++y) {
            const uint8_t* row = reference.GetScanline(y);
            for (int x = 0; x < reference.GetWidth(); ++x)
                for (int c = 0; c < 3; ++c) ++counts[c][row[3 * int64_t(x) + c]];
        }
    }
    const int64_t total = int64_t(reference.GetWidth()) * reference.GetHeight();
    for (int c = 0; c < 3; ++c) KVMatchHistogram(bitmap, c, counts[c], total);
}
