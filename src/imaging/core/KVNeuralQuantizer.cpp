#include "imaging/core/KVNeuralQuantizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "imaging/core/KVBitmap.h"

namespace {

// Colours are trained scaled by 16; the fourth value of a neuron is its palette index.
using TNeuron = std::array<int, 4>;
enum { B = 0, G = 1, R = 2, Index = 3 };

constexpr int InitialAlpha = 1024;     // 1.0 in 10-bit fixed point
constexpr int RadiusBias = 64;         // radii in 6-bit fixed point
constexpr int64_t AlphaRadBias = 262144;
constexpr int SmallImage = 2000;

class TNeuralNetwork : public TKVColorMapper {
public:
    TNeuralNetwork(TKVBitmap& bitmap, int colors);
    int IndexOf(const TKVRGB& color) const override;
    TKVRGB ColorOf(int index) const;

private:
    void Learn(TKVBitmap& bitmap);
    int Contest(int b, int g, int r);
    void MoveWinner(int alpha, int i, int b, int g, int r);
    void MoveNeighbours(int rad, int i, int b, int g, int r);
    void SetRadPower(int rad, int alpha);
    void Unbias();
    void BuildIndex();

    int n_;
    int factor_ = 1;
    std::vector<TNeuron> network_;
    std::vector<int> bias_, frequency_, radPower_;
    std::array<int, 256> index_{};
    std::vector<TKVRGB> palette_;
};

TNeuralNetwork::TNeuralNetwork(TKVBitmap& bitmap, int colors)
    : n_(colors), network_(size_t(colors)), bias_(size_t(colors)), frequency_(size_t(colors)),
      radPower_(size_t(std::max(colors / 8, 1))) {
    const int64_t pixels = int64_t(bitmap.GetWidth()) * bitmap.GetHeight();
    if (pixels >= SmallImage)
        factor_ = std::clamp(int(std::nearbyint(double(pixels - SmallImage) * 13 / 148000 + 2)), 1, 30);
    for (int i = 0; i < n_; ++i) {
        const int v = i * 4096 / n_;
        network_[size_t(i)] = {v, v, v, 0};
        frequency_[size_t(i)] = 65536 / n_;
    }
    Learn(bitmap);
    Unbias();
    palette_.resize(size_t(n_));
    for (int i = 0; i < n_; ++i) {
        const TNeuron& p = network_[size_t(i)];
        palette_[size_t(i)] = TKVRGB{uint8_t(p[B]), uint8_t(p[G]), uint8_t(p[R])};
    }
    BuildIndex();
}

void TNeuralNetwork::SetRadPower(int rad, int alpha) {
    for (int j = 0; j < rad; ++j)
        radPower_[size_t(j)] = alpha * (((rad * rad - j * j) * 256) / (rad * rad));
}

void TNeuralNetwork::Learn(TKVBitmap& bitmap) {
    const int width = bitmap.GetWidth();
    const int64_t pixels = int64_t(width) * bitmap.GetHeight();
    const int64_t length = pixels * 3;
    const int alphaDec = 30 + (factor_ - 1) / 3;
    const int64_t samples = length / (3 * int64_t(factor_));
    const int64_t delta = std::max<int64_t>(samples / 100, 1);
    int alpha = InitialAlpha;
    int radius = (n_ / 8) * RadiusBias;
    auto radOf = [](int radius) { return radius >> 6 <= 1 ? 0 : radius >> 6; };
    int rad = radOf(radius);
    SetRadPower(rad, alpha);
    const int64_t step = length % 499 ? 499 : length % 491 ? 491 : length % 487 ? 487 : 503;
    int64_t pos = 0;
    TKVAccessScope reading(bitmap, kvaRead);
    for (int64_t i = 1; i <= samples; ++i) {
        const auto* row = reinterpret_cast<const TKVRGB*>(bitmap.GetScanline(int(pos / width)));
        const TKVRGB& pixel = row[pos % width];
        const int b = pixel.b << 4, g = pixel.g << 4, r = pixel.r << 4;
        const int winner = Contest(b, g, r);
        MoveWinner(alpha, winner, b, g, r);
        if (rad > 0) MoveNeighbours(rad, winner, b, g, r);
        // A picture smaller than the step would otherwise leave the picture.
        pos = (pos + step) % pixels;
        if (i % delta == 0) {
            alpha -= alpha / alphaDec;
            radius -= radius / 30;
            rad = radOf(radius);
            SetRadPower(rad, alpha);
        }
    }
}

// The neuron nearest to the colour, favouring neurons that won seldom.
int TNeuralNetwork::Contest(int b, int g, int r) {
    int bestDist = INT32_MAX, bestBiasDist = INT32_MAX, nearest = 0, winner = 0;
    for (int i = 0; i < n_; ++i) {
        const TNeuron& p = network_[size_t(i)];
        const int dist = std::abs(p[B] - b) + std::abs(p[G] - g) + std::abs(p[R] - r);
        if (dist < bestDist) {
            bestDist = dist;
            nearest = i;
        }
        const int biasDist = dist - (bias_[size_t(i)] >> 12);
        if (biasDist < bestBiasDist) {
            bestBiasDist = biasDist;
            winner = i;
        }
        const int f = frequency_[size_t(i)] >> 10;
        frequency_[size_t(i)] -= f;
        bias_[size_t(i)] += f << 10;
    }
    frequency_[size_t(nearest)] += 64;
    bias_[size_t(nearest)] -= 65536;
    return winner;
}

void TNeuralNetwork::MoveWinner(int alpha, int i, int b, int g, int r) {
    TNeuron& p = network_[size_t(i)];
    p[B] -= alpha * (p[B] - b) / InitialAlpha;
    p[G] -= alpha * (p[G] - g) / InitialAlpha;
    p[R] -= alpha * (p[R] - r) / InitialAlpha;
}

void TNeuralNetwork::MoveNeighbours(int rad, int i, int b, int g, int r) {
    const int lo = std::max(i - rad, -1), hi = std::min(i + rad, n_);
    auto move = [&](TNeuron& p, int64_t a) {
        p[B] -= int(a * (p[B] - b) / AlphaRadBias);
        p[G] -= int(a * (p[G] - g) / AlphaRadBias);
        p[R] -= int(a * (p[R] - r) / AlphaRadBias);
    };
    int j = i + 1, k = i - 1, m = 1;
    while (j < hi || k > lo) {
        const int a = radPower_[size_t(m++)];
        if (j < hi) move(network_[size_t(j++)], a);
        if (k > lo) move(network_[size_t(k--)], a);
    }
}

void TNeuralNetwork::Unbias() {
    for (int i = 0; i < n_; ++i) {
        TNeuron& p = network_[size_t(i)];
        for (int c : {B, G, R}) p[size_t(c)] = std::clamp(p[size_t(c)] >> 4, 0, 255);
        p[Index] = i;
    }
}

// Sorts the neurons by green and records where a search for each green value starts.
void TNeuralNetwork::BuildIndex() {
    int previous = 0, start = 0;
    for (int i = 0; i < n_; ++i) {
        int smallest = i;
        for (int j = i + 1; j < n_; ++j)
            if (network_[size_t(j)][G] < network_[size_t(smallest)][G]) smallest = j;
        std::swap(network_[size_t(i)], network_[size_t(smallest)]);
        const int green = network_[size_t(i)][G];
        if (green != previous) {
            index_[size_t(previous)] = (start + i) / 2;
            for (int j = previous + 1; j < green; ++j) index_[size_t(j)] = i;
            previous = green;
            start = i;
        }
    }
    index_[size_t(previous)] = (start + n_ - 1) / 2;
    for (int j = previous + 1; j < 256; ++j) index_[size_t(j)] = n_ - 1;
}

int TNeuralNetwork::IndexOf(const TKVRGB& color) const {
    const int b = color.b, g = color.g, r = color.r;
    int best = 1000, result = 0;
    int i = index_[g], j = i - 1;
    auto consider = [&](const TNeuron& p, int dist) {
        dist = std::abs(dist) + std::abs(p[B] - b);
        if (dist >= best) return;
        dist += std::abs(p[R] - r);
        if (dist >= best) return;
        best = dist;
        result = p[Index];
    };
    while (i < n_ || j >= 0) {
        if (i < n_) {
            const TNeuron& p = network_[size_t(i)];
            const int dist = p[G] - g;
            if (dist >= best) {
                i = n_;
            } else {
                ++i;
                consider(p, dist);
            }
        }
        if (j >= 0) {
            const TNeuron& p = network_[size_t(j)];
            const int dist = g - p[G];
            if (dist >= best) {
                j = -1;
            } else {
                --j;
                consider(p, dist);
            }
        }
    }
    return result;
}

TKVRGB TNeuralNetwork::ColorOf(int index) const { return palette_[size_t(index)]; }

}  // namespace

std::unique_ptr<TKVColorMapper> KVBuildNeuralQuantizer(TKVBitmap& bitmap, TKVRGB* palette, int colors) {
    auto network = std::make_unique<TNeuralNetwork>(bitmap, colors);
    for (int i = 0; i < colors; ++i) palette[i] = network->ColorOf(i);
    return network;
}
