// Every loader of the decoder on an input written from a known raster: the raster comes back at
// full size, and at half size (under the sanitizers) every write stays inside the picture.
#include <gtest/gtest.h>

#include <algorithm>

#include "RawLoaderCases.h"
#include "RawTestSupport.h"

namespace {

int Sample(const TKVRawContext& raw, int row, int col) {
    return raw.image[size_t(row) * size_t(raw.imageWidth) + size_t(col)][size_t(raw.FC(row, col))];
}

// Whether the cell's sample of each colour is one of the full picture's samples of that colour
// in the cell (0 when the cell has none of it). Without a filter pattern every pixel holds
// every colour.
bool CellHoldsItsSamples(const TKVRawContext& full, const TKVRawContext& half, int row, int col) {
    const TRawPixel& cell = half.image[size_t(row) * size_t(half.imageWidth) + size_t(col)];
    for (int colour = 0; colour < 4; ++colour) {
        std::vector<int> samples;
        for (int y = 2 * row; y < std::min(2 * row + 2, full.height); ++y)
            for (int x = 2 * col; x < std::min(2 * col + 2, full.width); ++x)
                if (!full.filterPattern || full.FC(y, x) == colour)
                    samples.push_back(full.image[size_t(y) * size_t(full.imageWidth) + size_t(x)][size_t(colour)]);
        const int got = cell[size_t(colour)];
        if (samples.empty() ? got != 0 : std::find(samples.begin(), samples.end(), got) == samples.end()) return false;
    }
    return true;
}

TEST(RawLoaders, EveryLoaderGivesBackItsRasterAtFullAndAtHalfSize) {
    for (const TLoaderCase& c : loaderCases) {
        SCOPED_TRACE(c.name);
        const TBytes input = WriteLoaderInput(c);
        const TRaster raster = LoaderRaster(c);
        TKVRawContext full(input);
        PrepareLoader(full, c, false);
        c.loader(full);
        int wrong = 0, filled = 0;
        for (int row = 0; row < full.height; ++row)
            for (int col = 0; col < full.width; ++col) {
                const int got = Sample(full, row, col);
                filled += got != 0;
                const bool skip = c.check == TLoaderCheck::none || (c.check == TLoaderCheck::filled && got == 0);
                wrong += !skip && got != raster.At(row + c.top, col + c.left) * c.scale;
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_GE(filled, c.check == TLoaderCheck::exact ? c.height * c.width : c.height);

        // The DC40's coder mixes each red and blue with the greens beside it, which share their
        // cell at half size; every other loader only stores.
        TKVRawContext half(input);
        PrepareLoader(half, c, true);
        c.loader(half);
        int strays = 0, cellsFilled = 0;
        for (int row = 0; row < half.imageHeight; ++row)
            for (int col = 0; col < half.imageWidth; ++col) {
                const TRawPixel& cell = half.image[size_t(row) * size_t(half.imageWidth) + size_t(col)];
                cellsFilled += cell[0] || cell[1] || cell[2] || cell[3];
                if (c.loader != RawLoadKodakDc40) strays += !CellHoldsItsSamples(full, half, row, col);
            }
        EXPECT_EQ(strays, 0);
        EXPECT_GT(cellsFilled, 0);
    }
}

}  // namespace
