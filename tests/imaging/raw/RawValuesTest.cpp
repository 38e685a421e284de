// Values worked out by hand from the formulas for small inputs, not from the decoder's own
// reading: white balance and interpolation of a 4 x 4 mosaic, the tone curve of the output,
// three-layer pixels through the reconstruction's passes and the mixing of four colours.
#include <gtest/gtest.h>

#include "../DriverTestSupport.h"
#include "RawTestSupport.h"
#include "imaging/core/KVStreams.h"
#include "imaging/raw/KVRaw.h"

namespace {

TRawPixel& Pixel(TKVRawContext& raw, int row, int col) { return raw.image[size_t(row) * size_t(raw.width) + size_t(col)]; }

// A 4 x 4 picture of red, green / green, blue cells (pattern 0x94949494), black 100, white 4096,
// multipliers 2, 1, 1.5.
struct TMosaic {
    TKVRawContext raw{std::span<const uint8_t>{}};
    TMosaic() {
        const int samples[4][4] = {{1100, 2100, 1300, 2300}, {2200, 600, 2400, 800}, {1500, 2500, 2500, 2700}, {2600, 1000, 2800, 1200}};
        raw.height = raw.width = raw.imageHeight = raw.imageWidth = 4;
        raw.filterPattern = 0x94949494;
        raw.blackLevel = 100;
        raw.whiteLevel = 4096;
        raw.multipliers = {2, 1, 1.5f, 1};
        raw.image.assign(16, TRawPixel{});
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 4; ++col) raw.Store(row, col, samples[row][col]);
    }
    int Own(int row, int col) { return Pixel(raw, row, col)[size_t(raw.FC(row, col))]; }
};

TEST(RawValues, WhiteBalanceAndInterpolationOfAFourByFourMosaic) {
    TMosaic m;
    RawBalanceWhites(m.raw);
    // (sample - 100) x multiplier, at most 4096 - 100.
    const int balanced[4][4] = {{2000, 2000, 2400, 2200}, {2100, 750, 2300, 1050}, {2800, 2400, 3996, 2600}, {2500, 1350, 2700, 1650}};
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) EXPECT_EQ(m.Own(row, col), balanced[row][col]) << row << "," << col;
    RawInterpolate(m.raw);
    RawMixChannels(m.raw);
    // Missing colours: orthogonal neighbours weigh 2, diagonal ones 1. The blue at (1, 1) gets
    // red (2000 + 2400 + 2800 + 3996) / 4 and green 2 (2000 + 2100 + 2300 + 2400) / 8; the
    // brightness is half the length of the colour.
    const struct {
        int row, col;
        TRawPixel pixel;
    } interpolated[] = {{1, 1, {2799, 2200, 750, 1819}}, {1, 2, {3198, 2300, 900, 2020}},
                        {2, 1, {3398, 2400, 1050, 2145}}, {2, 2, {3996, 2500, 1200, 2432}}};
    for (const auto& p : interpolated) EXPECT_EQ(Pixel(m.raw, p.row, p.col), p.pixel) << p.row << "," << p.col;
}

TEST(RawValues, WhiteBalanceClipsAtWhiteLessBlack) {
    // The red photosite of 2500 at (2, 2) scales to 2 x 2400, past 4096 - 100.
    TMosaic m;
    RawBalanceWhites(m.raw);
    EXPECT_EQ(m.raw.whiteLevel, 3996);
    EXPECT_EQ(m.Own(2, 2), 3996);
}

TEST(RawValues, FourColourGreensAreAveragedWithoutAMatrix) {
    TKVRawContext raw{std::span<const uint8_t>{}};
    raw.height = raw.width = raw.imageHeight = raw.imageWidth = 1;
    raw.colors = 4;
    raw.whiteLevel = 0xFFFF;
    raw.image = {{100, 300, 500, 701}};
    RawMixChannels(raw);
    // Green (300 + 701) / 2; brightness sqrt(100^2 + 500^2 + 500^2) / 2 = 357.07.
    EXPECT_EQ(raw.image[0], (TRawPixel{100, 500, 500, 357}));
}

TEST(RawValues, ToneCurveMapsBrightnessThroughTheWhitePoint) {
    // A back of 20 x 32 photosites of 1000 with a block of 6 x 6 of 4000. Its multipliers
    // 1.1629 and 1.3556 give the dark pixels (1163, 1000, 1356), brightness 1024, and the 16
    // inner pixels of the block (4652, 4000, 5422), brightness 4094: more than 1% of the 640
    // pixels, so the white point is (4094 >> 3) x 16 = 8176. The curve at 1024 is
    // (2 x 1024 / 8176)^(0.6 - 1) x 442 / 8176 = 0.0940515; at 4094, 0.0540293.
    TRaster raster = MosaicRaster(0x94949494, 20, 32, 0);
    for (int row = 0; row < 20; ++row)
        for (int col = 0; col < 32; ++col) raster.samples[size_t(row * 32 + col)] = row >= 8 && row <= 13 && col >= 12 && col <= 17 ? 4000 : 1000;
    const TBytes file = WriteLeafTiff(raster);
    for (const bool deep : {false, true}) {
        SCOPED_TRACE(deep ? "48 bits" : "24 bits");
        TDriverCall call;
        call.params.IsNativePixelFormat = deep;
        TKVBitmap bitmap;
        TKVMemStream stream(file.data(), int64_t(file.size()));
        KVReadRawStream(stream, bitmap, call.params, false, call.progress);
        ASSERT_FALSE(call.Aborted());
        // Picture (3, 3) and (10, 14), one row and column up and left for the border.
        auto rgb = [&](int row, int col) {
            const uint8_t* line = bitmap.GetScanline(row - 1);
            if (deep) {
                const auto* w = reinterpret_cast<const uint16_t*>(line) + 3 * (col - 1);
                return std::array<int, 3>{w[0], w[1], w[2]};
            }
            const uint8_t* b = line + 3 * (col - 1);
            return std::array<int, 3>{b[2], b[1], b[0]};
        };
        // 24 bits: 1163 x 0.0940515 = 109.38; 4652 x 0.0540293 = 251.34, blue past 255. 48 bits:
        // the curve times 65535 / 255.
        EXPECT_EQ(rgb(3, 3), deep ? (std::array<int, 3>{28111, 24171, 32776}) : (std::array<int, 3>{109, 94, 127}));
        EXPECT_EQ(rgb(10, 14), deep ? (std::array<int, 3>{64595, 55541, 65535}) : (std::array<int, 3>{251, 216, 255}));
    }
}

TEST(RawValues, ThreeLayerPixelsThroughEveryPass) {
    // A 5 x 5 picture of smooth layers, the first brighter at (4, 4) so that its cube weighs in
    // the correction. Pixel (2, 2) passes all seven passes, (3, 1) and (1, 3) all but the
    // sharpening and tone curves (which need two pixels around), (0, 0) the correction, the
    // matrix and the noise removal, and (4, 4), outside the 4 x 4 blocks, only the correction and
    // the matrix. A change of 2 to any correction weight changes one of them.
    TKVRawContext raw{std::span<const uint8_t>{}};
    raw.height = raw.width = raw.imageHeight = raw.imageWidth = 5;
    raw.isFoveon = true;
    for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 5; ++col)
            raw.image.push_back({uint16_t(5000 + 40 * row + 25 * col + (row == 4 && col == 4 ? 3000 : 0)),
                                 uint16_t(9800 - 30 * row + 50 * col), uint16_t(11000 + 20 * row + 15 * col), 0});
    RawFoveonInterpolate(raw);
    const struct {
        int row, col;
        std::array<int, 3> pixel;
    } expected[] = {{2, 2, {3578, 8534, 8826}}, {3, 1, {3559, 8409, 9056}}, {1, 3, {3550, 8915, 8652}},
                    {0, 0, {3455, 8722, 8732}}, {4, 4, {8321, 225, 11980}}};
    for (const auto& e : expected) {
        const TRawPixel& p = Pixel(raw, e.row, e.col);
        EXPECT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), e.pixel) << e.row << "," << e.col;
    }
}

}  // namespace
