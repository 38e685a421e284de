// White balance and scaling, the quick bilinear interpolation of the filter pattern, the mixing of
// the camera's colours into RGB with a brightness per pixel, and the colour matrices.
#include <algorithm>
#include <cmath>

#include "imaging/raw/RawStages.h"

const float rawNikonMatrix[3][4] = {{-1.936280f, 1.800443f, -1.448486f, 2.584324f},
                                    {1.405365f, -0.524955f, -0.289090f, 0.408680f},
                                    {-1.204965f, 1.082304f, 2.941367f, -1.818705f}};
const float rawF828Matrix[3][4] = {{1.321918f, 0, 0.149829f, -0.471747f},
                                   {-0.288764f, 1.129213f, -0.486517f, 0.646067f},
                                   {0.061336f, -0.199343f, 1.138007f, 0}};
const float rawDc20Matrix[3][4] = {{0.5f * 2.25f + 0.5f, 0.5f * 0.75f, 0.5f * -1.75f, 0.5f * -0.25f},
                                   {0.5f * -0.25f, 0.5f * 0.75f + 0.25f, 0.5f * 0.75f + 0.25f, 0.5f * -0.25f},
                                   {0.5f * -0.25f, 0.5f * -1.75f, 0.5f * 0.75f, 0.5f * 2.25f + 0.5f}};

void RawSetFixedMatrix(TKVRawContext& raw, const float (&matrix)[3][4]) {
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 4; ++c) raw.colorMatrix[r][c] = matrix[r][c];
    raw.useMatrix = true;
}

void RawSetFoveonMatrix(TKVRawContext& raw) {
    static constexpr float m[3][3] = {{2.034395f, -0.727533f, -0.306746f},
                                      {-0.228719f, 1.231793f, -0.002829f},
                                      {-0.008615f, -0.153336f, 1.161781f}};
    for (size_t r = 0; r < 3; ++r) {
        for (size_t c = 0; c < 3; ++c) raw.colorMatrix[r][c] = raw.multipliers[r] * m[r][c];
        raw.colorMatrix[r][3] = 0;
    }
    raw.useMatrix = true;
}

void RawSetCmygMatrix(TKVRawContext& raw) {
    static constexpr double response[4][3] = {{0.11, 0.86, 0.08}, {0.50, 0.29, 0.51}, {0.11, 0.92, 0.75}, {0.81, 0.98, 0.08}};
    double sum[3][4] = {};
    for (int k = 0; k < 4; ++k) {
        // The three other colours' responses, inverted by Gauss-Jordan elimination.
        double work[3][6] = {};
        int used[3], j = 0;
        for (int c = 0; c < 4; ++c)
            if (c != k) used[j++] = c;
        for (int i = 0; i < 3; ++i) {
            for (int c = 0; c < 3; ++c) work[i][c] = response[used[i]][c];
            work[i][3 + i] = 1;
        }
        for (int p = 0; p < 3; ++p) {
            const double pivot = work[p][p];
            for (double& v : work[p]) v /= pivot;
            for (int i = 0; i < 3; ++i) {
                if (i == p) continue;
                const double f = work[i][p];
                for (int c = 0; c < 6; ++c) work[i][c] -= f * work[p][c];
            }
        }
        for (int i = 0; i < 3; ++i)
            for (int jj = 0; jj < 3; ++jj) sum[i][used[jj]] += work[i][3 + jj];
    }
    for (size_t i = 0; i < 3; ++i) {
        const double total = sum[i][0] + sum[i][1] + sum[i][2] + sum[i][3];
        for (size_t c = 0; c < 4; ++c) raw.colorMatrix[i][c] = float(sum[i][c] / total);
    }
    raw.useMatrix = true;
}

namespace {

// mean[c] = sum[c] / count[c]; a colour without samples keeps a multiplier of 1, as infinite
// or undefined factors would spoil the whole picture.
void MultipliersFromMeans(TKVRawContext& raw, const double* sum, const int64_t* count) {
    double mean[4] = {}, dmax = 0;
    for (int c = 0; c < raw.colors; ++c) {
        if (count[c] > 0 && sum[c] > 0) mean[c] = sum[c] / double(count[c]);
        dmax = std::max(dmax, mean[c]);
    }
    for (int c = 0; c < raw.colors; ++c) raw.multipliers[size_t(c)] = mean[c] > 0 ? float(dmax / mean[c]) : 1.0f;
}

}  // namespace

void RawBalanceWhites(TKVRawContext& raw) {
    raw.whiteLevel -= raw.blackLevel;
    if (raw.autoWhiteBalance || (raw.cameraWhiteBalance && raw.cameraRed == -1)) {
        double sum[4] = {};
        int64_t count[4] = {};
        for (const TRawPixel& p : raw.image)
            for (int c = 0; c < raw.colors; ++c) {
                if (!p[size_t(c)]) continue;
                const int v = p[size_t(c)] - raw.blackLevel;
                if (v > raw.whiteLevel - 100) continue;
                sum[c] += std::max(v, 0);
                ++count[c];
            }
        MultipliersFromMeans(raw, sum, count);
    }
    if (raw.cameraWhiteBalance && raw.cameraRed != -1) {
        double sum[4] = {};
        int64_t count[4] = {};
        for (int row = 0; row < 8; ++row)
            for (int col = 0; col < 8; ++col) {
                const int c = raw.FC(row, col);
                const int v = raw.grayPatch[size_t(row)][size_t(col)] - raw.blackLevel;
                if (v > 0) sum[c] += v;
                ++count[c];
            }
        double dmin = 1.7e308, dmax = 0;
        for (int c = 0; c < raw.colors; ++c) {
            const double mean = count[c] ? sum[c] / double(count[c]) : 0;
            dmin = std::min(dmin, mean);
            dmax = std::max(dmax, mean);
        }
        if (dmin > 0) {
            MultipliersFromMeans(raw, sum, count);
        } else if (raw.cameraRed != 0 && raw.cameraBlue != 0) {
            raw.multipliers = {raw.cameraRed, 1, raw.cameraBlue, 1};
        }
    }
    if (!raw.useMatrix) {
        raw.multipliers[0] *= raw.redScale;
        raw.multipliers[2] *= raw.blueScale;
    }
    for (TRawPixel& p : raw.image)
        for (int c = 0; c < raw.colors; ++c) {
            uint16_t& v = p[size_t(c)];
            if (!v) continue;
            const long scaled = std::lround((v - raw.blackLevel) * double(raw.multipliers[size_t(c)]));
            v = uint16_t(std::clamp<long>(scaled, 0, std::clamp(raw.whiteLevel, 0, 0xFFFF)));
        }
}

void RawInterpolate(TKVRawContext& raw) {
    struct TTerm {
        int offset, color, shift;
    };
    struct TCode {
        TTerm terms[8];
        int missing[4][2];  // colour, total weight
        int missingCount = 0;
    };
    const int width = raw.width;
    TCode codes[8][2];
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 2; ++col) {
            TCode& code = codes[row][col];
            int weight[4] = {}, n = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if (!dy && !dx) continue;
                    const int shift = (dy == 0) + (dx == 0);
                    const int color = raw.FC(row + 8 + dy, col + 8 + dx);
                    code.terms[n++] = {dy * width + dx, color, shift};
                    weight[color] += 1 << shift;
                }
            const int own = raw.FC(row, col);
            for (int c = 0; c < raw.colors; ++c)
                if (c != own && weight[c]) {
                    code.missing[code.missingCount][0] = c;
                    code.missing[code.missingCount++][1] = weight[c];
                }
        }
    for (int row = 1; row < raw.height - 1; ++row)
        for (int col = 1; col < width - 1; ++col) {
            const TCode& code = codes[row & 7][col & 1];
            TRawPixel* pixel = &raw.image[size_t(row) * size_t(width) + size_t(col)];
            int sum[4] = {};
            for (const TTerm& t : code.terms) sum[t.color] += pixel[t.offset][size_t(t.color)] << t.shift;
            for (int i = 0; i < code.missingCount; ++i)
                (*pixel)[size_t(code.missing[i][0])] = uint16_t(sum[code.missing[i][0]] / code.missing[i][1]);
        }
}

void RawMixChannels(TKVRawContext& raw) {
    if (raw.documentMode) raw.colors = 1;
    std::fill(raw.histogram.begin(), raw.histogram.end(), 0);
    const double white = std::max(raw.whiteLevel, 0);
    for (int row = raw.border; row < raw.height - raw.border; ++row)
        for (int col = raw.border; col < raw.width - raw.border; ++col) {
            TRawPixel& p = raw.image[size_t(row) * size_t(raw.width) + size_t(col)];
            if (raw.documentMode) p[0] = p[size_t(raw.FC(row, col))];
            if (raw.colors == 4 && !raw.useMatrix) p[1] = uint16_t((p[1] + p[3]) >> 1);
            double rgb[3] = {double(p[0]), double(p[1]), double(p[2])};
            bool mixed = true;
            if (raw.colors == 1) {
                rgb[0] = rgb[1] = rgb[2] = p[0];
            } else if (raw.useMatrix) {
                for (size_t r = 0; r < 3; ++r) {
                    rgb[r] = 0;
                    for (size_t c = 0; c < size_t(raw.colors); ++c) rgb[r] += p[c] * double(raw.colorMatrix[r][c]);
                }
            } else if (raw.cmySensor) {
                rgb[0] = double(p[0]) + p[1] - p[2];
                rgb[1] = double(p[1]) + p[2] - p[0];
                rgb[2] = double(p[2]) + p[0] - p[1];
            } else {
                mixed = false;
            }
            if (mixed)
                for (size_t c = 0; c < 3; ++c) p[c] = uint16_t(std::lround(std::clamp(rgb[c], 0.0, std::min(white, 65535.0))));
            const double brightness = std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]) / 2;
            p[3] = uint16_t(std::lround(std::min(brightness, 65535.0)));
            ++raw.histogram[size_t(p[3] >> 3)];
        }
}
