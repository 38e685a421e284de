// Three-layer sensor files: the Huffman-coded loader and the seven integer passes that turn the
// layer samples into colours. Products that can pass 32 bits are formed in 64 bits.
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "imaging/raw/RawStages.h"

namespace {

using TLong = int64_t;

TLong Shr(TLong a, int s) { return a >= 0 ? a >> s : -((-a) >> s); }

// A table given as leading values followed by runs of {value, count}.
struct TCurve {
    std::vector<int> v;
    TCurve(std::initializer_list<int> head, std::initializer_list<std::pair<int, int>> runs) : v(head) {
        for (const auto& [value, count] : runs) v.insert(v.end(), size_t(count), value);
    }
    TLong operator()(TLong x) const {
        // x <= -n: one below the negated last value; beyond the end: one above the last.
        const TLong n = TLong(v.size());
        if (x <= -n) return -v.back() - 1;
        if (x < 0) return -v[size_t(-x)];
        if (x < n) return v[size_t(x)];
        return v.back() + 1;
    }
};

const TCurve curveA({0, 1, 2, 2, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10, 11, 11, 12, 13, 13, 14, 14, 15, 16, 16, 17, 17, 18, 18, 18,
                     19, 19, 20, 20, 20, 21, 21, 21, 22, 22, 22, 23, 23, 23, 23, 23, 24, 24, 24, 24, 24, 25, 25, 25, 25,
                     25, 25, 25, 25},
                    {{26, 14}});
const TCurve curveB({0, 1, 1, 2, 3, 3, 4, 4, 5, 5, 6, 6, 6}, {{7, 7}});
const TCurve curveC[3] = {
    TCurve({0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 8, 9, 9, 10, 10, 10, 10, 11, 11, 11, 12, 12, 12, 12, 12, 12},
           {{13, 8}, {14, 32}}),
    TCurve({0, 1, 1, 2, 3, 3, 4, 4, 5, 6, 6, 7, 7, 7, 8, 8, 9, 9, 9, 10, 10, 10, 11, 11, 11, 11, 11}, {{12, 9}}),
    TCurve({0,  1,  1,  2,  3,  3,  4,  5,  6,  6,  7,  7,  8,  9,  9,  10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16,
            16, 17, 17, 18, 18, 18, 19, 19, 19, 20, 20, 20, 21, 21, 21, 21, 22, 22, 22, 22, 22, 23, 23, 23, 23, 23},
           {{24, 8}, {25, 12}, {26, 37}}),
};

constexpr float gain[3] = {1.0321f, 1.0f, 1.1124f};
constexpr int K[3][9] = {{4141, 37726, 11265, -30437, 16066, -41102, 326, -413, 362},
                         {1770, -1316, 3480, -2139, 213, -4998, -2381, 3496, -2008},
                         {-3838, -24025, -12968, 20144, -12195, 30272, -631, -2025, 822}};
constexpr int M[3][3] = {{7576, -2933, 1279}, {-11594, 29911, -12394}, {4000, -18850, 20772}};

struct TPlane {
    TKVRawContext& raw;
    int w, h;
    TRawPixel& P(int row, int col) { return raw.image[size_t(row) * size_t(w) + size_t(col)]; }
};

void CorrectPixels(TPlane& pl) {
    for (int row = 0; row < pl.h; ++row) {
        TRawPixel previous = pl.P(row, 0);
        for (int col = 0; col < pl.w; ++col) {
            TRawPixel& p = pl.P(row, col);
            const TRawPixel original = p;
            TLong t[3];
            for (size_t c = 0; c < 3; ++c) {
                const TLong d = TLong(p[c]) - previous[c];
                t[c] = p[c] + Shr((d + d * d / 16384) * 13107, 14);
            }
            const TLong x[9] = {t[0] * t[0] >> 14, t[1] * t[1] >> 14, t[2] * t[2] >> 14,
                                t[0] * t[1] >> 14, t[2] * t[0] >> 14, t[1] * t[2] >> 14,
                                (t[0] * t[0] >> 14) * t[0] >> 14, (t[1] * t[1] >> 14) * t[1] >> 14,
                                (t[2] * t[2] >> 14) * t[2] >> 14};
            for (size_t c = 0; c < 3; ++c) {
                TLong sum = 0;
                for (size_t k = 0; k < 9; ++k) sum += K[c][k] * x[k];
                const double v = std::nearbyint(double(Shr(sum, 14) + t[c]) * gain[c]);
                p[c] = uint16_t(std::clamp(v, 0.0, 32000.0));
            }
            previous = original;
        }
    }
}

// Horizontal 1-4-6-4-1 averages of sample 0, from the values before the pass.
void SharpenFirstSample(TPlane& pl) {
    const int w = pl.w;
    std::vector<TLong> h(size_t(w) * size_t(pl.h));
    for (int row = 0; row < pl.h; ++row)
        for (int col = 2; col < w - 2; ++col) {
            auto s = [&](int c) { return TLong(pl.P(row, c)[0]); };
            h[size_t(row) * size_t(w) + size_t(col)] =
                (6 * s(col) + 4 * (s(col - 1) + s(col + 1)) + s(col - 2) + s(col + 2) + 8) >> 4;
        }
    for (int row = 2; row < pl.h - 2; ++row) {
        TLong previous = 0;
        for (int col = 2; col < w - 2; ++col) {
            auto H = [&](int r) { return h[size_t(r) * size_t(w) + size_t(col)]; };
            const TLong s = Shr(4 * (H(row - 1) + H(row + 1)) + 6 * H(row) + H(row - 2) + H(row + 2) + 8, 4);
            if (col == 2) previous = s;
            const TLong m = Shr(7 * s + previous, 3);
            uint16_t& v = pl.P(row, col)[0];
            v = uint16_t(std::clamp<TLong>(v + Shr(v - m, 2), 0, 10000));
            previous = s;
        }
    }
}

void ClampToNeighbours(TPlane& pl) {
    for (int row = 1; row < pl.h - 1; ++row) {
        TRawPixel left = pl.P(row, 0);
        for (int col = 1; col < pl.w - 1; ++col) {
            TRawPixel& p = pl.P(row, col);
            const TRawPixel original = p;
            for (size_t c = 0; c < 3; ++c) {
                int lo = left[c], hi = left[c];
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        if ((dy == 0 && dx <= 0)) continue;
                        const int v = pl.P(row + dy, col + dx)[c];
                        lo = std::min(lo, v), hi = std::max(hi, v);
                    }
                p[c] = uint16_t(std::clamp<int>(p[c], lo, hi));
            }
            left = original;
        }
    }
}

void ToneCurves(TPlane& pl) {
    const int w = pl.w;
    // Sums of five horizontal neighbours, from the values before the pass.
    std::vector<std::array<TLong, 3>> h(size_t(w) * size_t(pl.h));
    for (int row = 0; row < pl.h; ++row)
        for (int col = 2; col < w - 2; ++col)
            for (size_t c = 0; c < 3; ++c) {
                TLong s = 0;
                for (int d = -2; d <= 2; ++d) s += pl.P(row, col + d)[c];
                h[size_t(row) * size_t(w) + size_t(col)][c] = s;
            }
    for (int row = 2; row < pl.h - 2; ++row)
        for (int col = 2; col < w - 2; ++col) {
            TLong S[3] = {};
            for (int r = row - 2; r <= row + 2; ++r)
                for (size_t c = 0; c < 3; ++c) S[c] += h[size_t(r) * size_t(w) + size_t(col)][c];
            TRawPixel& p = pl.P(row, col);
            const TLong total = 1500 + S[0] + S[1] + S[2];
            const TLong u = (60 + TLong(p[0]) + p[1] + p[2]) * 65536 / total;
            TLong v[3];
            for (size_t c = 0; c < 3; ++c) {
                const TLong a = curveA(Shr(u * S[c], 16) - p[c]) + p[c] - 13 - (c == 1);
                v[c] = a - curveB(a);
            }
            const TLong m = Shr(v[0] + 2 * v[1] + v[2], 2);
            for (size_t c = 0; c < 3; ++c) p[c] = uint16_t(std::clamp<TLong>(v[c] - curveB(v[c] - m), 0, 65535));
        }
}

void ColourMatrix(TPlane& pl) {
    for (TRawPixel& p : pl.raw.image) {
        TLong out[3];
        for (size_t c = 0; c < 3; ++c) out[c] = std::clamp<TLong>(Shr(M[c][0] * TLong(p[0]) + M[c][1] * TLong(p[1]) + M[c][2] * TLong(p[2]) + 4096, 13), 0, 24000);
        for (size_t c = 0; c < 3; ++c) p[c] = uint16_t(out[c]);
    }
}

void RemoveColourNoise(TPlane& pl) {
    const int qw = pl.w / 4, qh = pl.h / 4;
    if (qw == 0 || qh == 0) return;
    std::vector<std::array<TLong, 3>> quarter(size_t(qw) * size_t(qh));
    for (int br = qh - 1; br >= 0; --br)
        for (int bc = 0; bc < qw; ++bc) {
            TLong sum[3] = {};
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    for (size_t k = 0; k < 3; ++k) sum[k] += pl.P(br * 4 + r, bc * 4 + c)[k];
            auto& q = quarter[size_t(br) * size_t(qw) + size_t(bc)];
            for (size_t k = 0; k < 3; ++k)
                q[k] = br == qh - 1 ? sum[k] >> 4 : Shr(1840 * quarter[size_t(br + 1) * size_t(qw) + size_t(bc)][k] + 141 * sum[k], 12);
        }
    const int cols = qw * 4;
    std::vector<std::array<TLong, 3>> ring0(static_cast<size_t>(cols)), ring1(ring0), ring2(ring0);
    for (int row = 0; row < qh * 4; ++row) {
        if (row % 4 == 0) {
            TLong acc[3] = {};
            for (int col = cols - 1; col >= 0; --col)
                for (size_t k = 0; k < 3; ++k)
                    ring0[size_t(col)][k] = acc[k] =
                        Shr(1485 * quarter[size_t(row / 4) * size_t(qw) + size_t(col / 4)][k] + 6707 * acc[k], 13);
        }
        TLong acc[3] = {};
        for (int col = 0; col < cols; ++col)
            for (size_t k = 0; k < 3; ++k) ring1[size_t(col)][k] = acc[k] = Shr(1485 * ring0[size_t(col)][k] + 6707 * acc[k], 13);
        for (int col = 0; col < cols; ++col)
            for (size_t k = 0; k < 3; ++k)
                ring2[size_t(col)][k] = row == 0 ? ring1[size_t(col)][k] : Shr(6707 * ring2[size_t(col)][k] + 1485 * ring1[size_t(col)][k], 13);
        for (int col = 0; col < cols; ++col) {
            TRawPixel& p = pl.P(row, col);
            const auto& g = ring2[size_t(col)];
            const TLong G = std::max<TLong>(60 + g[0] + g[1] + g[2], 1);
            const TLong k = ((60 + TLong(p[0]) + p[1] + p[2]) << 16) / G;
            TLong F[3];
            for (size_t c = 0; c < 3; ++c) F[c] = curveC[c](Shr(k * g[c], 16) - p[c]);
            const TLong m = Shr(F[0] + F[1] + F[2], 3);
            for (size_t c = 0; c < 3; ++c) p[c] = uint16_t(std::clamp<TLong>(p[c] + F[c] - m, 0, 65535));
        }
    }
}

int FoveonTree(TKVRawContext& raw, const std::vector<uint32_t>& codes, uint32_t code) {
    const int node = RawTakeNode(raw);
    if (code != 0) {
        const auto found = std::find(codes.begin(), codes.end(), code);
        if (found != codes.end()) {
            raw.nodes[size_t(node)].leaf = int(found - codes.begin());
            return node;
        }
    }
    if (code > 0xD7FFFFFF) return node;
    const uint32_t next = (((code >> 27) + 1) << 27) | ((code << 1) & 0x7FFFFFF);
    raw.nodes[size_t(node)].branch[0] = int16_t(FoveonTree(raw, codes, next));
    raw.nodes[size_t(node)].branch[1] = int16_t(FoveonTree(raw, codes, next + 1));
    return node;
}

}  // namespace

void RawLoadFoveon(TKVRawContext& raw) {
    raw.in.order = rawLittleEndian;
    raw.in.Seek(260);
    std::vector<int> diff(1024);
    for (int& d : diff) d = int16_t(raw.in.Get16());
    std::vector<uint32_t> codes(1024);
    for (uint32_t& c : codes) c = raw.in.Get32();
    RawInitDecoder(raw);
    FoveonTree(raw, codes, 0);
    uint32_t buffer = 0;
    int bit = -1;
    for (int row = 0; row < raw.rawHeight; ++row) {
        raw.LoaderProgress(row, raw.rawHeight);
        // The sums over a whole row of differences fit in 64 bits.
        TLong pred[3] = {0, 0, 0};
        if (bit == 0) raw.in.Skip(4);
        bit = 0;
        for (int col = 0; col < raw.rawWidth; ++col) {
            for (size_t c = 0; c < 3; ++c) {
                const THuffNode* node = &raw.nodes[0];
                while (!node->IsLeaf()) {
                    if (bit % 32 == 0) buffer = raw.in.Get16BE() << 16 | raw.in.Get16BE();
                    bit = (bit + 31) & 31;
                    node = &raw.nodes[size_t(node->branch[(buffer >> bit) & 1])];
                }
                pred[c] += diff[size_t(node->leaf)];
            }
            const int irow = row - raw.topMargin, icol = col - raw.leftMargin;
            if (raw.Inside(irow, icol))
                for (size_t c = 0; c < 3; ++c)
                    if (pred[c] > 0) raw.At(irow, icol)[c] = uint16_t(std::min<TLong>(pred[c], 65535));
        }
    }
}

void RawFoveonInterpolate(TKVRawContext& raw) {
    TPlane plane{raw, raw.width, raw.height};
    CorrectPixels(plane);
    if (raw.width >= 5 && raw.height >= 5) {
        SharpenFirstSample(plane);
        ClampToNeighbours(plane);
        ToneCurves(plane);
    }
    ColourMatrix(plane);
    if (raw.width >= 4) RemoveColourNoise(plane);
}
