#include "imaging/core/KVResampleKernel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

struct TKernel {
    double (*f)(double x);
    double support;
};

double Sinc(double x) {
    if (x == 0) return 1;
    x *= std::numbers::pi;
    return std::sin(x) / x;
}

const TKernel Kernels[] = {
    {nullptr, 0},  // rfNone
    {[](double x) { const double a = std::fabs(x); return a < 1 ? 1 - a : 0.0; }, 1.0},
    {[](double x) { const double a = std::fabs(x); return a < 1 ? (2 * a - 3) * a * a + 1 : 0.0; }, 1.0},
    {[](double x) {
         const double a = std::fabs(x);
         return a < 0.5 ? 0.75 - a * a : a < 1.5 ? 0.5 * (a - 1.5) * (a - 1.5) : 0.0;
     },
     1.5},
    {[](double x) {
         const double a = std::fabs(x);
         return a < 1 ? 0.5 * a * a * a - a * a + 2.0 / 3 : a < 2 ? (2 - a) * (2 - a) * (2 - a) / 6 : 0.0;
     },
     2.0},
    {[](double x) { return std::fabs(x) < 3 ? Sinc(x) * Sinc(x / 3) : 0.0; }, 3.0},
    {[](double x) {
         const double a = std::fabs(x);
         if (a < 1) return (7 * a * a * a - 12 * a * a + 16.0 / 3) / 6;
         if (a < 2) return (-(7.0 / 3) * a * a * a + 12 * a * a - 20 * a + 32.0 / 3) / 6;
         return 0.0;
     },
     2.0},
    {[](double x) { return x > -0.5 && x <= 0.5 ? 1.0 : 0.0; }, 1.0},
    {[](double x) { return x >= -1 && x < 1 ? 1 - std::fabs(x) : 0.0; }, 1.0},
};

// Source indexes and integer weights (256 = 1) of every target pixel along one axis.
struct TContributors {
    std::vector<int> first, count, weightSum;
    std::vector<int> index, weight;

    TContributors(int sourceSize, int targetSize, const TKernel& kernel) {
        const double scale = sourceSize == 1 || targetSize == 1 ? double(targetSize) / sourceSize
                                                                 : double(targetSize - 1) / (sourceSize - 1);
        const bool enlarging = scale >= 1;
        const double width = enlarging ? kernel.support : kernel.support / scale;
        for (int i = 0; i < targetSize; ++i) {
            const double centre = i / scale;
            first.push_back(int(index.size()));
            int sum = 0;
            for (int j = int(std::floor(centre - width)); j <= int(std::ceil(centre + width)); ++j) {
                const double value = enlarging ? kernel.f(centre - j) * 256 : kernel.f((centre - j) * scale) * 256 * scale;
                const int w = int(std::nearbyint(value));
                if (w == 0) continue;
                const int mirrored = j < 0 ? -j : j >= sourceSize ? 2 * sourceSize - 1 - j : j;
                index.push_back(std::clamp(mirrored, 0, sourceSize - 1));
                weight.push_back(w);
                sum += w;
            }
            if (sum == 0) {
                // Reduced so far (beyond 1:512) that every weight rounds to 0: an even mean of
                // the source pixels under the kernel's positive part, rather than black.
                const int from = std::max(int(std::floor(centre - width)), 0);
                const int to = std::min(int(std::ceil(centre + width)), sourceSize - 1);
                for (int j = from; j <= to; ++j) {
                    if (kernel.f((centre - j) * scale) <= 0) continue;
                    index.push_back(j);
                    weight.push_back(1);
                    ++sum;
                }
            }
            count.push_back(int(index.size()) - first.back());
            weightSum.push_back(sum == 0 ? 256 : sum);
        }
    }
};

uint8_t Finish(int sum, int weightSum) { return uint8_t(std::clamp(sum / weightSum, 0, 255)); }

template <int Channels>
void HorizontalRow(const uint8_t* source, uint8_t* out, const TContributors& c) {
    const int targetWidth = int(c.first.size());
    for (int i = 0; i < targetWidth; ++i) {
        int sums[Channels] = {};
        const int* index = c.index.data() + c.first[size_t(i)];
        const int* weight = c.weight.data() + c.first[size_t(i)];
        for (int k = 0; k < c.count[size_t(i)]; ++k) {
            const uint8_t* p = source + index[k] * Channels;
            for (int ch = 0; ch < Channels; ++ch) sums[ch] += weight[k] * p[ch];
        }
        for (int ch = 0; ch < Channels; ++ch) out[i * Channels + ch] = Finish(sums[ch], c.weightSum[size_t(i)]);
    }
}

}  // namespace

void KVKernelResample(const TKVKernelJob& job, TResampleFilter filter) {
    if (job.sourceWidth <= 0 || job.sourceHeight <= 0 || job.targetWidth <= 0 || job.targetHeight <= 0) return;
    if (filter < rfTriangle || filter > rfLinear) return;
    const TKernel& kernel = Kernels[filter];
    const TContributors columns(job.sourceWidth, job.targetWidth, kernel);
    const TContributors rows(job.sourceHeight, job.targetHeight, kernel);
    const size_t stride = size_t(job.targetWidth) * size_t(job.channels);
    std::vector<uint8_t> work(stride * size_t(job.sourceHeight));
    for (int y = 0; y < job.sourceHeight; ++y) {
        const uint8_t* source = job.sourceRow(y);
        uint8_t* out = work.data() + stride * size_t(y);
        if (job.channels == 3) HorizontalRow<3>(source, out, columns);
        else HorizontalRow<1>(source, out, columns);
        if (job.progress) job.progress(y + 1);
    }
    std::vector<int> sums(stride);
    std::vector<uint8_t> out(stride);
    for (int j = 0; j < job.targetHeight; ++j) {
        std::fill(sums.begin(), sums.end(), 0);
        const size_t first = size_t(rows.first[size_t(j)]);
        for (int k = 0; k < rows.count[size_t(j)]; ++k) {
            const uint8_t* row = work.data() + stride * size_t(rows.index[first + size_t(k)]);
            const int w = rows.weight[first + size_t(k)];
            for (size_t x = 0; x < stride; ++x) sums[x] += w * row[x];
        }
        const int weightSum = rows.weightSum[size_t(j)];
        for (size_t x = 0; x < stride; ++x) out[x] = Finish(sums[x], weightSum);
        job.storeRow(j, out.data());
        if (job.progress) job.progress(job.sourceHeight + j + 1);
    }
}
