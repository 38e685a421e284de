#include "imaging/core/KVBoxQuantizer.h"

#include <cmath>
#include <vector>

#include "imaging/core/KVBitmap.h"

namespace {

constexpr int Bins = 32;

int CellOf(int r, int g, int b) { return r * 1024 + g * 32 + b; }

// A box of the 5-bit colour cube; bounds are lower inclusive and upper exclusive per channel
// (0 red, 1 green, 2 blue).
struct TBox {
    double variance = 0;
    double mean[3] = {0, 0, 0};
    int64_t count = 0;
    int64_t hist[3][Bins] = {};
    int lower[3] = {0, 0, 0};
    int upper[3] = {Bins, Bins, Bins};
};

class TBoxSplitter : public TKVColorMapper {
public:
    TBoxSplitter(TKVBitmap& bitmap, int colors);
    int IndexOf(const TKVRGB& color) const override { return map_[size_t(CellOf(color.r >> 3, color.g >> 3, color.b >> 3))]; }
    int Boxes() const { return int(boxes_.size()); }
    TKVRGB ColorOf(int box) const;

private:
    void CountPixels(TKVBitmap& bitmap);
    void ComputeStatistics(TBox& box) const;
    bool Split(TBox& box, TBox& upper) const;
    bool SplitChannel(const TBox& box, int channel, TBox& lower, TBox& upper) const;
    void Shrink(TBox& box) const;
    void BuildMap();

    std::vector<int64_t> cells_ = std::vector<int64_t>(Bins * Bins * Bins);
    std::vector<uint8_t> map_ = std::vector<uint8_t>(Bins * Bins * Bins);
    std::vector<TBox> boxes_;
    int64_t total_ = 0;
};

TBoxSplitter::TBoxSplitter(TKVBitmap& bitmap, int colors) {
    boxes_.reserve(size_t(colors));
    boxes_.emplace_back();
    CountPixels(bitmap);
    boxes_[0].count = total_;
    ComputeStatistics(boxes_[0]);
    while (int(boxes_.size()) < colors) {
        int pick = -1;
        for (int i = 0; i < Boxes(); ++i)
            if (boxes_[size_t(i)].variance > 0 && (pick < 0 || boxes_[size_t(i)].variance > boxes_[size_t(pick)].variance))
                pick = i;
        if (pick < 0) break;
        TBox upper;
        if (Split(boxes_[size_t(pick)], upper)) boxes_.push_back(upper);
        else boxes_[size_t(pick)].variance = 0;
    }
    BuildMap();
}

void TBoxSplitter::CountPixels(TKVBitmap& bitmap) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    total_ = int64_t(width) * height;
    TBox& all = boxes_[0];
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const TKVRGB*>(bitmap.GetScanline(y));
        for (int x = 0; x < width; ++x) {
            const int r = row[x].r >> 3, g = row[x].g >> 3, b = row[x].b >> 3;
            ++cells_[size_t(CellOf(r, g, b))];
            ++all.hist[0][r];
            ++all.hist[1][g];
            ++all.hist[2][b];
        }
    }
}

void TBoxSplitter::ComputeStatistics(TBox& box) const {
    if (box.count == 0) {
        box.variance = 0;
        return;
    }
    double variance = 0;
    for (int c = 0; c < 3; ++c) {
        double s1 = 0, s2 = 0;
        for (int j = box.lower[c]; j < box.upper[c]; ++j) {
            s1 += double(j) * double(box.hist[c][j]);
            s2 += double(j) * j * double(box.hist[c][j]);
        }
        box.mean[c] = s1 / double(box.count);
        variance += s2 - box.mean[c] * box.mean[c] * double(box.count);
    }
    box.variance = variance / double(total_);
}

// Keeps the channel whose two halves have the smallest summed variance, the first on ties.
bool TBoxSplitter::Split(TBox& box, TBox& upper) const {
    if (box.variance == 0 || box.count == 0) return false;
    bool found = false;
    double bestCost = 0;
    TBox bestLower, bestUpper, lower, high;
    for (int c = 0; c < 3; ++c) {
        if (!SplitChannel(box, c, lower, high)) continue;
        const double cost = lower.variance + high.variance;
        if (!found || cost < bestCost) {
            found = true;
            bestCost = cost;
            bestLower = lower;
            bestUpper = high;
        }
    }
    if (!found) return false;
    box = bestLower;
    upper = bestUpper;
    return true;
}

bool TBoxSplitter::SplitChannel(const TBox& box, int c, TBox& lower, TBox& upper) const {
    const int lo = box.lower[c], hi = box.upper[c];
    if (lo + 1 == hi) return false;
    const int64_t n = box.count;
    const double m = box.mean[c];
    const int start = int(std::nearbyint((lo + m) * 0.5));
    // Every pixel of the box lies below hi, so the walk ends there at the latest.
    const int end = std::min(int(std::nearbyint((hi + m) * 0.5)), hi - 1);
    int64_t sum = 0;
    for (int j = lo; j < start; ++j) sum += box.hist[c][j];
    double acc = 0, best = -1;
    int cut = start;
    int64_t left = n;
    for (int e = start; e <= end; ++e) {
        sum += box.hist[c][e];
        if (sum == n) break;
        acc += double(e) * double(box.hist[c][e]) / double(n);
        const double score = double(sum) / double(n - sum) * (m - acc) * (m - acc);
        if (score > best) {
            best = score;
            cut = e;
            left = sum;
        }
    }
    lower = box;
    upper = box;
    lower.count = left;
    upper.count = n - left;
    if (lower.count == 0 || upper.count == 0) return false;
    lower.upper[c] = cut + 1;
    upper.lower[c] = cut + 1;
    for (auto& channel : lower.hist)
        for (int64_t& bin : channel) bin = 0;
    for (int r = lower.lower[0]; r < lower.upper[0]; ++r)
        for (int g = lower.lower[1]; g < lower.upper[1]; ++g)
            for (int b = lower.lower[2]; b < lower.upper[2]; ++b) {
                const int64_t count = cells_[size_t(CellOf(r, g, b))];
                if (count == 0) continue;
                const int bins[3] = {r, g, b};
                for (int k = 0; k < 3; ++k) {
                    lower.hist[k][bins[k]] += count;
                    upper.hist[k][bins[k]] -= count;
                }
            }
    Shrink(lower);
    Shrink(upper);
    ComputeStatistics(lower);
    ComputeStatistics(upper);
    return true;
}

void TBoxSplitter::Shrink(TBox& box) const {
    for (int c = 0; c < 3; ++c) {
        int first = box.lower[c], last = box.upper[c] - 1;
        while (first < last && box.hist[c][first] == 0) ++first;
        while (last > first && box.hist[c][last] == 0) --last;
        box.lower[c] = first;
        box.upper[c] = last + 1;
    }
}

void TBoxSplitter::BuildMap() {
    for (int i = 0; i < Boxes(); ++i) {
        const TBox& box = boxes_[size_t(i)];
        for (int r = box.lower[0]; r < box.upper[0]; ++r)
            for (int g = box.lower[1]; g < box.upper[1]; ++g)
                for (int b = box.lower[2]; b < box.upper[2]; ++b) map_[size_t(CellOf(r, g, b))] = uint8_t(i);
    }
}

TKVRGB TBoxSplitter::ColorOf(int index) const {
    const TBox& box = boxes_[size_t(index)];
    auto level = [](double mean) { return uint8_t(int(std::nearbyint(mean)) << 3); };
    return TKVRGB{level(box.mean[2]), level(box.mean[1]), level(box.mean[0])};
}

}  // namespace

std::unique_ptr<TKVColorMapper> KVBuildBoxQuantizer(TKVBitmap& bitmap, TKVRGB* palette, int colors, int& entries) {
    auto splitter = std::make_unique<TBoxSplitter>(bitmap, colors);
    entries = splitter->Boxes();
    for (int i = 0; i < entries; ++i) palette[i] = splitter->ColorOf(i);
    return splitter;
}
