// Sensors laid out at 45 degrees: their loaders place each raster row along a diagonal of the
// image, so the decoded picture is a diamond in a black frame, which the upright rebuild turns
// back into a rectangle after output.
#include <cstring>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/raw/RawStages.h"
#include "platform/PictureLimits.h"

namespace {

void StoreInside(TKVRawContext& raw, int row, int col, int value) {
    if (raw.Inside(row, col)) raw.Store(row, col, value);
}

int WordLE(const uint8_t* at) { return at[0] | at[1] << 8; }

// Raster rows of w little-endian words each pair; word k of raster row r goes to the diagonal
// through (n + r / 2, (r + 1) / 2).
void LoadFujiRotated(TKVRawContext& raw, int w, int n, int rows) {
    raw.rotated45 = true;
    for (int r = 0; r < rows; ++r) {
        raw.LoaderProgress(r, rows);
        const auto words = raw.in.Bytes(int64_t(4) * w);
        for (int k = 0; k <= n && k < 2 * w; ++k)
            StoreInside(raw, n + r / 2 - k, k + (r + 1) / 2, WordLE(words.data() + 2 * k) * 4);
    }
}

}  // namespace

void RawLoadFujiS2pro(TKVRawContext& raw) {
    constexpr int rows = 2144;
    raw.rotated45 = true;
    raw.in.Skip(141376);
    for (int r = 0; r < rows; ++r) {
        raw.LoaderProgress(r, rows);
        const auto b = raw.in.Bytes(5888);
        for (int i = 0; i < 2880; ++i)
            StoreInside(raw, r + (i + 1) / 2, 2143 + i / 2 - r, (b[size_t(2 * i)] << 8 | b[size_t(2 * i + 1)]) * 4);
    }
}

void RawLoadFujiS5000(TKVRawContext& raw) {
    raw.in.Skip(11824);
    LoadFujiRotated(raw, 1472, 1423, 2152);
}

void RawLoadFujiS7000(TKVRawContext& raw) { LoadFujiRotated(raw, 2048, 2047, 3080); }

void RawLoadFujiF700(TKVRawContext& raw) {
    constexpr int rows = 2168;
    raw.rotated45 = true;
    const size_t frame = raw.useSecondFrame ? 1472 : 0;
    for (int r = 0; r < rows; ++r) {
        raw.LoaderProgress(r, rows);
        const auto b = raw.in.Bytes(5888);
        for (int j = 0; j < 1440; ++j)
            StoreInside(raw, r / 2 - j + 1439, j + (r + 1) / 2, WordLE(b.data() + 2 * (frame + size_t(j))));
    }
}

namespace {

// The diamond's rows as the rebuild reads them: pixels of `bytes` bytes, zero outside.
class TDiamond {
public:
    TDiamond(int rows, int cols, int bytes) : cols_(cols), bytes_(bytes), data_(size_t(rows) * size_t(cols) * size_t(bytes)) {}
    uint8_t* At(int row, int col) { return data_.data() + (size_t(row) * size_t(cols_) + size_t(col)) * size_t(bytes_); }

private:
    int cols_, bytes_;
    std::vector<uint8_t> data_;
};

bool IsBlack(const uint8_t* pixel, int bytes) {
    for (int i = 0; i < bytes; ++i)
        if (pixel[i]) return false;
    return true;
}

template <typename TSample> void Average4(uint8_t* out, const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d) {
    for (size_t s = 0; s < 3; ++s) {
        const auto at = [s](const uint8_t* p) {
            TSample v;
            std::memcpy(&v, p + s * sizeof(TSample), sizeof v);
            return unsigned(v);
        };
        const TSample v = TSample((at(a) + at(b) + at(c) + at(d)) >> 2);
        std::memcpy(out + s * sizeof(TSample), &v, sizeof v);
    }
}

}  // namespace

void RawUpright45(TKVBitmap& bitmap) {
    const bool deep = bitmap.GetPixelFormat() == kvRGB48;
    const int bytes = deep ? 6 : 3;
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    // The diamond's top corner in row 0 gives its size.
    const uint8_t* top = bitmap.GetScanline(0);
    int first = width, last = -1;
    for (int col = 0; col < width; ++col)
        if (!IsBlack(top + size_t(col) * size_t(bytes), bytes)) {
            if (first == width) first = col;
            last = col;
        }
    const int b = last + 1;
    const int n = b - 1, c = 2 * width - 2 * first, rows = c - 4, cols = 2 * n;
    // Without a corner to start from there is nothing to turn: the picture stays as decoded.
    if (n < 2 || rows < 2) return;
    CheckPictureSize(cols, rows, deep ? 48 : 24, -1);

    TDiamond diamond(rows, n, bytes);
    for (int r = 0; r < height; ++r) {
        const uint8_t* line = bitmap.GetScanline(r);
        for (int k = 0; k < width; ++k) {
            const int d = r + k - b + 6, f = (k + n - r - 1) / 2;
            if (d >= 0 && d < rows && f >= 0 && f < n)
                std::memcpy(diamond.At(d, f), line + size_t(k) * size_t(bytes), size_t(bytes));
        }
    }

    TKVBitmap upright;
    upright.Allocate(cols, rows, deep ? kvRGB48 : kv24RGB);
    std::vector<uint8_t> out(size_t(cols) * size_t(bytes));
    for (int k = 1; k <= rows - 1; ++k) {
        for (int m = 1; m <= cols - 1; ++m) {
            uint8_t* pixel = out.data() + size_t(m) * size_t(bytes);
            const int half = m / 2;
            if ((k + m) % 2 == 0) {
                std::memcpy(pixel, diamond.At(k, half), size_t(bytes));
            } else if (k - 1 < rows - 2 && m - 1 < cols - 2) {
                const int left = k % 2 ? half - 1 : half;
                uint8_t *above = diamond.At(k - 1, half), *below = diamond.At(k + 1, half);
                uint8_t *beside0 = diamond.At(k, left), *beside1 = diamond.At(k, left + 1);
                if (deep) Average4<uint16_t>(pixel, above, below, beside0, beside1);
                else Average4<uint8_t>(pixel, above, below, beside0, beside1);
            }
        }
        std::memcpy(upright.GetScanline(k - 1), out.data(), out.size());
    }
    // The rebuild produces one row less than the picture holds: the last repeats the one above.
    std::memcpy(upright.GetScanline(rows - 1), out.data(), out.size());
    bitmap.Assign(&upright);
}
