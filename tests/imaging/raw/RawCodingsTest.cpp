// The cameras with codings of their own, decoded back from our writers: the scrambled F828, the
// Kodak block coder of compression 65000, the DC120's JPEG, the DC40/DC50 predictive coder and
// the sensors laid out at 45 degrees with their upright rebuild.
#include <gtest/gtest.h>

#include <cmath>

#include "../DriverTestSupport.h"
#include "RawTestSupport.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVJpegFilter.h"

namespace {

int Sample(const TKVRawContext& raw, int row, int col) {
    return raw.image[size_t(row) * size_t(raw.width) + size_t(col)][size_t(raw.FC(row, col))];
}

TBytes Kodak65000Cfa(const TRaster& raster, bool store, int* stored = nullptr) {
    return WriteKodakTiff({"DCS760C", raster.height, raster.width, 65000, 32803, 0, EncodeKodak65000Cfa(raster, store, stored)});
}

TEST(RawCodings, ScrambledAndBlockCodedSamplesComeBackExactly) {
    struct TCase {
        const char* name;
        TRaster raster;
        std::function<TBytes(const TRaster&)> write;
        int stored;  // factor from written to decoded sample
    };
    const TCase cases[] = {
        // 604 columns: blocks of 256, 256 and 92 values, the last preloading 16 bits.
        {"compression 65000, coded", MosaicRaster(0x61616161, 6, 604, 4000),
         [](const TRaster& r) { return Kodak65000Cfa(r, false); }, 4},
        {"compression 65000, coded and stored blocks", MosaicRaster(0x61616161, 6, 604, 4000),
         [](const TRaster& r) { return Kodak65000Cfa(r, true); }, 4},
        {"F828 key stream", MosaicRaster(0xb4b4b4b4, 2460, 3360, 16000),
         [](const TRaster& r) { return WriteSonyF828(r, 0x12345678, 0x9abcdef0); }, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TRawRun run(c.write(c.raster));
        ASSERT_EQ(run.identified, 0);
        run.Load();
        const TKVRawContext& raw = *run.raw;
        int wrong = 0;
        for (int row = 0; row < raw.height; ++row)
            for (int col = 0; col < raw.width; ++col)
                wrong += Sample(raw, row, col) != c.raster.At(row, col + raw.leftMargin) * c.stored;
        EXPECT_EQ(wrong, 0);
    }
    int stored = 0;
    Kodak65000Cfa(MosaicRaster(0x61616161, 6, 604, 4000), true, &stored);
    EXPECT_GT(stored, 0);  // both kinds of block were read
    EXPECT_LT(stored, 18);
}

TEST(RawCodings, F828BlackLevelComesFromTheColumnsOutsideThePicture) {
    TRaster raster = MosaicRaster(0xb4b4b4b4, 2460, 3360, 16000);
    for (int row = 0; row < raster.height; ++row)
        for (int col = 0; col < 3360; ++col)
            if (col < 5 || col >= 5 + 3288) raster.samples[size_t(row) * 3360 + size_t(col)] = 64 + (col >= 3343 ? 1000 : 0);
    TRawRun run(WriteSonyF828(raster, 7, 99));
    ASSERT_EQ(run.identified, 0);
    run.Load();
    EXPECT_EQ(run.raw->blackLevel, 64);  // the columns past the 3343rd are not counted
}

TEST(RawCodings, Kodak65000FullColourCells) {
    // 10 x 262: blocks of 128 columns, the last one of 6 columns with 20 lengths (4 over a
    // multiple of 8, so it preloads 16 bits).
    TKodakColour picture{10, 262, {}, {}, {}};
    for (int row = 0; row < picture.height; ++row)
        for (int col = 0; col < picture.width; ++col) picture.luma.push_back(200 + 7 * col + 31 * row);
    for (int cell = 0; cell < 5 * 131; ++cell) {
        picture.cb.push_back(-150 + cell % 300);
        picture.cr.push_back(90 - cell % 170);
    }
    TRawRun run(WriteKodakTiff({"DCS Pro 14n", 9, 261, 65000, 2, 0, EncodeKodak65000Colour(picture)}));
    ASSERT_EQ(run.identified, 0);
    EXPECT_EQ(run.raw->height, 10);  // rounded up to even
    EXPECT_EQ(run.raw->width, 262);
    EXPECT_EQ(run.raw->filterPattern, 0u);
    run.Load();
    int wrong = 0;
    for (int row = 0; row < 10; ++row)
        for (int col = 0; col < 262; ++col) {
            const size_t cell = size_t(row / 2) * 131 + size_t(col / 2);
            const int y = picture.luma[size_t(row) * 262 + size_t(col)];
            const int expected[3] = {y + picture.cr[cell], y, y + picture.cb[cell]};
            const TRawPixel& p = run.raw->image[size_t(row) * 262 + size_t(col)];
            for (size_t c = 0; c < 3; ++c) wrong += p[c] != (expected[c] > 0 ? expected[c] * 4 : 0);
        }
    EXPECT_EQ(wrong, 0);
}

TEST(RawCodings, Dc120JpegRowsFillTwoSensorRowsEach) {
    // The camera's JPEG holds half the rows; green comes from each pixel, red and blue from the
    // sum of two. Our JPEG driver decodes the same stream as the reference.
    TKVBitmap picture;
    ImageToBitmap(PatternImage(848, 488), picture);
    TMemoryStream jpeg;
    TDriverCall write;
    WriteJPEGStream(jpeg, picture, write.params, write.progress);
    TBytes data(jpeg.Bytes());
    if (data.size() % 2) data.push_back(0);
    for (size_t i = 0; i < data.size(); i += 2) std::swap(data[i], data[i + 1]);
    TKVBitmap reference;
    TDriverCall read;
    jpeg.SetPosition(0);
    ReadJPEGStream(jpeg, nullptr, reference, true, false, true, false, false, read.progress, read.params);
    const TRgbImage p = BitmapToImage(reference);

    TRawRun run(WriteKodakTiff({"DC120", 976, 848, 7, 2, 0, data}));
    ASSERT_EQ(run.identified, 0);
    EXPECT_EQ(run.raw->loader, RawLoadKodakDc120Jpeg);
    run.Load();
    const TKVRawContext& raw = *run.raw;
    auto at = [&](int row, int col, int c) { return int(p.pixels[(size_t(row) * 848 + size_t(col)) * 3 + size_t(c)]); };
    int wrong = 0;
    for (int d = 0; d < 488; ++d)
        for (int i = 0; i < 848; i += 2) {
            wrong += Sample(raw, 2 * d, i) != at(d, i, 1) * 64;
            wrong += Sample(raw, 2 * d + 1, i + 1) != at(d, i + 1, 1) * 64;
            wrong += Sample(raw, 2 * d, i + 1) != (at(d, i, 0) + at(d, i + 1, 0)) * 32;
            wrong += Sample(raw, 2 * d + 1, i) != (at(d, i, 2) + at(d, i + 1, 2)) * 32;
        }
    EXPECT_EQ(wrong, 0);

    // Data cut short fail rather than leave the rest of the picture grey.
    TBytes cut(data.begin(), data.begin() + long(data.size() / 2));
    TRawRun truncated(WriteKodakTiff({"DC120", 976, 848, 7, 2, 0, cut}));
    ASSERT_EQ(truncated.identified, 0);
    EXPECT_THROW(truncated.Load(), EShortData);

    // A JPEG of another size is refused.
    TKVBitmap small;
    ImageToBitmap(PatternImage(848, 400), small);
    TMemoryStream other;
    WriteJPEGStream(other, small, write.params, write.progress);
    TBytes wrongSize(other.Bytes());
    wrongSize.push_back(0);
    for (size_t i = 0; i + 1 < wrongSize.size(); i += 2) std::swap(wrongSize[i], wrongSize[i + 1]);
    TRawRun bad(WriteKodakTiff({"DC120", 976, 848, 7, 2, 0, wrongSize}));
    ASSERT_EQ(bad.identified, 0);
    EXPECT_THROW(bad.Load(), EInvalidGraphic);
}

TEST(RawCodings, PredictiveCoderOfDc40AndDc50StaysCloseToThePicture) {
    // The coder is lossy: values come from small tables of steps or from 5 or 6 bits. Smooth
    // ramps through our closed-loop writer decode within 40 dB of the picture (about 45 seen).
    const std::vector<int> samples = KnownMosaic(0x61616161, 512, 768, 3000, 400);
    struct TCase {
        const char* model;
        uint32_t dataOffset;
        bool coarse;
    };
    for (const TCase& c : {TCase{"Digital Camera 40", 1152, true}, TCase{"DC50", 0x4d00, false}}) {
        SCOPED_TRACE(c.model);
        TRawRun run(WriteKodakTiff({c.model, 512, 768, 0, 2, c.dataOffset, EncodeKodakDc40(samples, 512, 768, c.coarse)}));
        ASSERT_EQ(run.identified, 0);
        ASSERT_EQ(run.raw->loader, RawLoadKodakDc40);
        run.Load();
        double error = 0;
        for (int row = 0; row < 512; ++row)
            for (int col = 0; col < 768; ++col) {
                const double d = Sample(*run.raw, row, col) - samples[size_t(row) * 768 + size_t(col)];
                error += d * d;
            }
        const double psnr = 10 * std::log10(4095.0 * 4095.0 / std::max(error / (512 * 768), 1e-9));
        EXPECT_GT(psnr, 40);
    }
}

// Sensor value of raster row r, word k: a smooth ramp that is never 0.
int SensorValue(int r, int k) { return 1 + (r * 3 + k * 2) % 4000; }

TEST(RawCodings, RotatedSensorsPlaceEachRasterRowOnADiagonal) {
    struct TCase {
        const char* model;
        uint32_t skip;
        int rows, rowBytes, words;  // words used per row
        bool bigEndian;
        int scale;
        // Image position of word k of raster row r.
        std::function<std::pair<int, int>(int, int)> place;
    };
    const TCase cases[] = {
        {"FinePixS2Pro", 141376, 2144, 5888, 2880, true, 4, [](int r, int i) { return std::pair(r + (i + 1) / 2, 2143 + i / 2 - r); }},
        {"FinePix S5000", 11824, 2152, 4 * 1472, 1424, false, 4, [](int r, int k) { return std::pair(1423 + r / 2 - k, k + (r + 1) / 2); }},
        {"FinePix S7000", 0, 3080, 4 * 2048, 2048, false, 4, [](int r, int k) { return std::pair(2047 + r / 2 - k, k + (r + 1) / 2); }},
        {"FinePix F700", 0, 2168, 5888, 1440, false, 1, [](int r, int j) { return std::pair(r / 2 - j + 1439, j + (r + 1) / 2); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.model);
        TBytes data(c.skip, 0);
        for (int r = 0; r < c.rows; ++r) {
            TBytes row(size_t(c.rowBytes), 0xEE);
            for (int k = 0; k < c.words; ++k) {
                const int v = SensorValue(r, k);
                row[size_t(2 * k)] = uint8_t(c.bigEndian ? v >> 8 : v);
                row[size_t(2 * k + 1)] = uint8_t(c.bigEndian ? v : v >> 8);
            }
            data.insert(data.end(), row.begin(), row.end());
        }
        TRawRun run(WriteFujiFile(c.model, 1024, data));
        ASSERT_EQ(run.identified, 0);
        run.Load();
        EXPECT_TRUE(run.raw->rotated45);
        int wrong = 0;
        for (int r = 0; r < c.rows; ++r)
            for (int k = 0; k < c.words; ++k) {
                const auto [row, col] = c.place(r, k);
                wrong += Sample(*run.raw, row, col) != SensorValue(r, k) * c.scale;
            }
        EXPECT_EQ(wrong, 0);
        // Every photosite inside the diamond holds exactly one word: none fell outside or
        // landed on another.
        int64_t filled = 0;
        for (const TRawPixel& p : run.raw->image) filled += p[0] || p[1] || p[2];
        EXPECT_EQ(filled, int64_t(c.rows) * c.words);
    }
}

TEST(RawCodings, RotatedSensorIsRebuiltUprightAfterInterpolation) {
    // An S5000 raster sampled from a known picture on the sensor's own grid, where raster row r
    // is picture row r and word k sits at column 2k, shifted by one on odd rows. The loader
    // stores each word times 4.
    constexpr int rows = 2152, words = 1424, n = 1423, height = 2499, width = 2500;
    const uint32_t pattern = 0x49494949;
    constexpr int scale = 8000;
    TBytes data(11824, 0);
    for (int r = 0; r < rows; ++r) {
        TBytes line(4 * 1472, 0);
        for (int k = 0; k < words; ++k) {
            const int colour = FilterColour(pattern, n + r / 2 - k, k + (r + 1) / 2);
            const double v = KnownColour(r, 2 * k + (r & 1), rows, 2 * words)[size_t(colour)];
            const int sample = int(std::lround(v * scale));
            line[size_t(2 * k)] = uint8_t(sample), line[size_t(2 * k + 1)] = uint8_t(sample >> 8);
        }
        data.insert(data.end(), line.begin(), line.end());
    }
    TRawRun run(WriteFujiFile("FinePix S5000", 1024, data));
    ASSERT_EQ(run.identified, 0);
    run.Load();
    TKVRawContext& raw = *run.raw;
    RawBalanceWhites(raw);
    RawInterpolate(raw);
    // The linear picture inside the border as 48 bits, then the rebuild.
    TKVBitmap bitmap;
    bitmap.Allocate(width - 2, height - 2, kvRGB48);
    for (int row = 1; row < height - 1; ++row) {
        auto* line = reinterpret_cast<uint16_t*>(bitmap.GetScanline(row - 1));
        for (int col = 1; col < width - 1; ++col)
            for (size_t c = 0; c < 3; ++c) line[3 * (col - 1) + int(c)] = raw.image[size_t(row) * width + size_t(col)][c];
    }
    RawUpright45(bitmap);
    const int outWidth = bitmap.GetWidth(), outHeight = bitmap.GetHeight();
    EXPECT_NEAR(outWidth, 2 * words, 8);
    EXPECT_NEAR(outHeight, rows, 8);
    // Find the shift that lines the rebuilt picture up with the known one, then measure.
    auto psnr = [&](int dy, int dx) {
        double error = 0;
        int64_t count = 0;
        for (int y = 40; y < outHeight - 40; y += 3)
            for (int x = 40; x < outWidth - 40; x += 3) {
                const auto* line = reinterpret_cast<const uint16_t*>(bitmap.GetScanline(y));
                const auto known = KnownColour(y + dy, x + dx, rows, 2 * words);
                for (size_t c = 0; c < 3; ++c) {
                    const double expected = std::min(known[c] * scale * 4 * double(raw.multipliers[c]), double(raw.whiteLevel));
                    const double d = line[3 * x + int(c)] - expected;
                    error += d * d;
                    ++count;
                }
            }
        return 10 * std::log10(double(raw.whiteLevel) * raw.whiteLevel / std::max(error / double(count), 1e-9));
    };
    double best = 0;
    for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx) best = std::max(best, psnr(dy, dx));
    // Bilinear on the diagonal grid and the rebuild's four-neighbour mean are nearly exact on the
    // ramps (about 90 dB seen); a picture turned or mirrored the wrong way falls far below 60 dB.
    EXPECT_GT(best, 60);
}

}  // namespace
