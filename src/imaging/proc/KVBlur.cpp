#include "imaging/proc/KVBlur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVCoreUtils.h"
#include "platform/Graphics.h"

void KVGaussianKernel(TKVGaussianKernel& kernel, double radius) {
    constexpr int R = TKVGaussianKernel::MaxRadius;
    double sum = 0;
    for (int i = -R; i <= R; ++i) {
        const double q = i / radius;
        kernel.Raw[i + R] = std::exp(-q * q / 2);
        sum += kernel.Raw[i + R];
    }
    for (int i = -R; i <= R; ++i) kernel.Weights[i + R] = int32_t(std::nearbyint(kernel.Raw[i + R] * 65536 / sum));
    kernel.Radius = R;
    while (kernel.Radius > 1 && kernel.Weight(kernel.Radius) == 0 && kernel.Weight(-kernel.Radius) == 0)
        --kernel.Radius;
}

namespace {

// Convolves `channels` interleaved channels; taps beyond either end read the end pixel.
template <int channels>
void BlurRow(const TKVGaussianKernel& kernel, const uint8_t* source, uint8_t* dest, int count) {
    const int r = kernel.Radius;
    for (int x = 0; x < count; ++x) {
        int64_t acc[channels];
        for (int c = 0; c < channels; ++c) acc[c] = 32768;
        const bool inside = x - r >= 0 && x + r < count;
        for (int k = -r; k <= r; ++k) {
            const int at = inside ? x + k : std::clamp(x + k, 0, count - 1);
            const int32_t w = kernel.Weight(k);
            for (int c = 0; c < channels; ++c) acc[c] += int64_t(w) * source[at * channels + c];
        }
        for (int c = 0; c < channels; ++c) dest[x * channels + c] = uint8_t(std::clamp<int64_t>(acc[c] >> 16, 0, 255));
    }
}

}  // namespace

void KVBlurRow24(const TKVGaussianKernel& kernel, const uint8_t* source, uint8_t* dest, int count) {
    BlurRow<3>(kernel, source, dest, count);
}

void KVBlurRow8(const TKVGaussianKernel& kernel, const uint8_t* source, uint8_t* dest, int count) {
    BlurRow<1>(kernel, source, dest, count);
}

void KVGaussianBlur(TKVBitmap& bitmap, double radius, TObject* sender, const TKVProgressEvent& progress) {
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    if ((format != kv8Gray && format != kv24RGB) || radius <= 0 || bitmap.IsEmpty()) return;
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight(), size = format == kv24RGB ? 3 : 1;
    TKVGaussianKernel kernel;
    KVGaussianKernel(kernel, radius);
    const auto blur = size == 3 ? KVBlurRow24 : KVBlurRow8;
    const double step = 100.0 / (int64_t(height) + width);
    TKVAccessScope access(bitmap, kvaReadWrite);
    std::vector<uint8_t> line(size_t(std::max(width, height)) * size), out(line.size());
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        blur(kernel, row, out.data(), width);
        std::memcpy(row, out.data(), size_t(width) * size);
        if (progress) progress(sender, int(std::trunc(y * step)));
    }
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) std::memcpy(&line[size_t(y) * size], bitmap.GetScanline(y) + int64_t(x) * size, size);
        blur(kernel, line.data(), out.data(), height);
        for (int y = 0; y < height; ++y) std::memcpy(bitmap.GetScanline(y) + int64_t(x) * size, &out[size_t(y) * size], size);
        if (progress) progress(sender, int(std::trunc((int64_t(height) + x) * step)));
    }
}

void KVSoftShadow(TKVBitmap& bitmap, int offsetX, int offsetY, TObject* sender, const TKVProgressEvent& progress,
                  uint32_t shadowColor, bool enlarge, double radius) {
    if (bitmap.IsEmpty() || bitmap.IsAlpha()) return;
    bitmap.GetAlphaChannel()->SetFull(false);
    if (enlarge) {
        const int grow = std::max(2 * std::max(std::abs(offsetX), std::abs(offsetY)) + int(std::trunc(radius * 5)), 1);
        bitmap.ResizeCanvas(bitmap.GetWidth() + grow, bitmap.GetHeight() + grow, 1, 1, 0, 0);
    }
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    TKVBitmap kept;
    kept.Assign(&alpha);
    KVGaussianBlur(alpha, radius, sender, progress);
    if (offsetX != 0 || offsetY != 0) alpha.MoveRegion(0, 0, width - 1, height - 1, offsetX, offsetY, 0);
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    const TKVRGB color = KVCreateRGB(uint8_t(shadowColor >> 16), uint8_t(shadowColor >> 8), uint8_t(shadowColor));
    TKVAccessScope readKept(kept, kvaRead);
    TKVAccessScope writeAlpha(alpha, kvaReadWrite);
    TKVAccessScope writePixels(bitmap, kvaReadWrite);
    for (int y = 0; y < height; ++y) {
        const uint8_t* a = kept.GetScanline(y);
        uint8_t* s = alpha.GetScanline(y);
        uint8_t* pixels = bitmap.GetScanline(y);
        for (int x = 0; x < width; ++x) {
            if (a[x] != 0 || s[x] == 0) {
                s[x] = a[x];
            } else if (format == kv24RGB) {
                reinterpret_cast<TKVRGB*>(pixels)[x] = color;
            } else if (format == kv1Bit) {
                pixels[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
            }
        }
    }
    alpha.SetFull(false);
}

void KVRoundCorners(TKVBitmap& bitmap, int rx, int ry) {
    if (bitmap.IsEmpty() || rx == 0 || ry == 0) return;
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight(), right = width - 1, bottom = height - 1;
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    auto clear = [&](int k, int j) {
        if (j < 0 || j >= height) return;
        if (k >= 0 && k < width) alpha.SetByte(k, j, 0);
        const int mirror = width - 1 - k;
        if (mirror >= 0 && mirror < width) alpha.SetByte(mirror, j, 0);
    };
    for (const TPoint& p : KVBezierPoints({rx, 0}, {rx, 0}, {0, 0}, {0, ry}, rx + ry))
        for (int j = 0; j <= std::min(p.Y, bottom); ++j)
            for (int k = 0; k <= std::min(p.X, right); ++k) clear(k, j);
    for (const TPoint& p : KVBezierPoints({right - rx, bottom}, {right - rx, bottom}, {right, bottom},
                                          {right, bottom - ry}, rx + ry))
        for (int j = std::max(p.Y, 0); j <= bottom; ++j)
            for (int k = std::max(p.X, 0); k <= right; ++k) clear(k, j);
    alpha.SyncFull();
}
