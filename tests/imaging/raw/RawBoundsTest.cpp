// Hostile sizes and values: what a file claims is checked against the picture, predictors stay
// within their samples' range, and every way out of a reader leaves the stream where it was.
#include <gtest/gtest.h>

#include <cstring>

#include "../DriverTestSupport.h"
#include "RawLoaderCases.h"
#include "RawTestSupport.h"
#include "imaging/core/KVStreams.h"
#include "imaging/raw/KVRaw.h"

namespace {

TEST(RawBounds, MetadataKeepsTheStreamPositionOnEveryReturn) {
    TBytes heap = WriteCanonCiffCompressed("Canon EOS Test", MosaicRaster(0x94949494, 8, 16, 900));
    TBytes cutHeap(heap.begin(), heap.begin() + 40);
    TBytes wrongMark = heap;
    wrongMark[0] = wrongMark[1] = 'X';
    std::memcpy(wrongMark.data() + 6, "HEAPXXXX", 8);
    const struct {
        const char* name;
        TBytes bytes;
    } cases[] = {
        {"shorter than the head", TBytes(10, 'I')},
        {"neither byte order nor heap", wrongMark},
        {"heap cut short", cutHeap},
        {"whole heap", heap},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDriverCall call;
        TKVMemStream stream(c.bytes.data(), int64_t(c.bytes.size()));
        stream.SetPosition(3);
        KVReadRawMetadata(stream, call.params);
        EXPECT_EQ(stream.Position(), 3);
    }
}

int Sample(const TKVRawContext& raw, int row, int col) {
    return raw.image[size_t(row) * size_t(raw.imageWidth) + size_t(col)][size_t(raw.FC(row, col))];
}

TEST(RawBounds, LosslessJpegClaimingMoreSamplesThanTheRasterIsRefused) {
    // The raster holds 16 rows of 40 samples.
    const TLoaderCase c = CaseOfSize(RawLoadJpegLossless, 16, 40);
    const struct {
        const char* name;
        int height, width;
        bool refused;
    } cases[] = {{"the raster's size", 16, 40, false}, {"fewer rows", 8, 40, false},
                 {"more rows", 17, 40, true},          {"twice as wide", 16, 80, true},
                 {"rows of 131070", 1, 131070, true}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const TBytes input = LosslessJpeg(k.height, k.width, std::vector<int>(size_t(k.height) * size_t(k.width), 0));
        TKVRawContext raw(input);
        PrepareLoader(raw, c, false);
        if (k.refused) EXPECT_THROW(c.loader(raw), EInvalidGraphic);
        else EXPECT_NO_THROW(c.loader(raw));
    }
}

TEST(RawBounds, PredictorsStayWithinTheSampleRange) {
    // Differences of 16 bits would carry a predictor past the largest sample; it stays there, so
    // the difference back down reaches 0 (unclamped it would land above the curve's end).
    constexpr int up = 65535, down = -65535;
    {
        SCOPED_TRACE("lossless JPEG");
        const TLoaderCase c = CaseOfSize(RawLoadJpegLossless, 4, 8);
        std::vector<int> diffs(32, 0);
        diffs[2] = diffs[4] = up, diffs[6] = down;        // along row 0
        diffs[0] = diffs[8] = up, diffs[16] = down;       // down column 0
        const TBytes input = LosslessJpeg(4, 8, diffs);
        TKVRawContext raw(input);
        PrepareLoader(raw, c, false);
        c.loader(raw);
        EXPECT_EQ(Sample(raw, 0, 4), 4095 * 4);
        EXPECT_EQ(Sample(raw, 0, 6), 0);
        EXPECT_EQ(Sample(raw, 1, 0), 4095 * 4);
        EXPECT_EQ(Sample(raw, 2, 0), 0);
    }
    {
        SCOPED_TRACE("Nikon compressed");
        const TLoaderCase c = CaseOfSize(RawLoadNikonCompressed, 6, 8);
        std::vector<int> diffs(48, 0);
        diffs[2] = diffs[4] = up, diffs[6] = down;        // along row 0
        diffs[0] = diffs[16] = up, diffs[32] = down;      // down column 0 of the even rows
        std::vector<uint16_t> curve(4096);
        for (size_t i = 0; i < curve.size(); ++i) curve[i] = uint16_t(i);
        const TBytes input = WriteNikonCompressed({2048, 2048, 2048, 2048}, curve, diffs);
        TKVRawContext raw(input);
        PrepareLoader(raw, c, false);
        raw.dataOffset = 2 * 5 + 2 * int64_t(curve.size());
        raw.in.Seek(raw.dataOffset);
        c.loader(raw);
        EXPECT_EQ(Sample(raw, 0, 4), 4095 * 4);
        EXPECT_EQ(Sample(raw, 0, 6), 0);
        EXPECT_EQ(Sample(raw, 2, 0), 4095 * 4);
        EXPECT_EQ(Sample(raw, 4, 0), 0);
    }
}

TEST(RawBounds, ThreeLayerRowOfLargeDifferencesStaysAtTheLargestSample) {
    // Two one-bit codes: 0 adds 32767, 1 adds nothing. A row of zero bits sums past 2^31.
    constexpr int width = 70000;
    TBytes file(260, 0);
    for (int i = 0; i < 1024; ++i) Put16(file, file.size(), i == 0 ? 32767 : 0, true);
    for (uint32_t i = 0; i < 1024; ++i) Put32(file, file.size(), i < 2 ? (1u << 27 | i) : 0, true);
    file.resize(file.size() + size_t(width) * 3 / 8 + 8, 0);
    TKVRawContext raw(file);
    raw.rawHeight = raw.height = raw.imageHeight = 1;
    raw.rawWidth = raw.width = raw.imageWidth = width;
    raw.image.assign(width, TRawPixel{});
    RawLoadFoveon(raw);
    EXPECT_EQ(raw.image[0][0], 32767);
    EXPECT_EQ(raw.image[width - 1][0], 65535);
    EXPECT_EQ(raw.image[width - 1][2], 65535);
}

TEST(RawBounds, SizesAtTheEndsOfTheIntegersFailCleanly) {
    // Identification adds to and rounds the sizes a file gives.
    const struct {
        const char* name;
        TBytes file;
    } cases[] = {
        {"full-colour size rounded up to even", WriteKodakTiff({"DCS760C", 0x7FFFFFFF, 0x7FFFFFFF, 65000, 2, 0, TBytes(64)})},
        {"width less 4", WriteKodakTiff({"DCS420", 16, int(0x80000000u), 1, 32803, 0, TBytes(64)})},
        {"width plus 3", WriteSubIfdTiff("NIKON CORPORATION", {"NIKON D100 ", 16, 0x7FFFFFFF, 34713, 32803, 0, TBytes(300)})},
        {"negative size", WriteSubIfdTiff("NIKON CORPORATION", {"NIKON D1", int(0xFFFFFFF0u), 16, 1, 32803, 0, TBytes(300)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDriverCall call;
        TKVBitmap bitmap;
        TKVMemStream stream(c.file.data(), int64_t(c.file.size()));
        KVReadRawStream(stream, bitmap, call.params, false, call.progress);
        EXPECT_TRUE(call.Aborted());
        EXPECT_TRUE(bitmap.IsEmpty());
    }
}

TEST(RawBounds, RolleiThumbnailSizesBeyondAnIntegerAreNoNumbers) {
    TBytes header;
    for (const char* text : {"DSC-Image", "HDR=2048", "X  =16", "Y  =8", "TX =4000000000", "TY =4000000000", "EOHD"}) {
        TBytes record(128, 0);
        std::memcpy(record.data(), text, std::strlen(text));
        header.insert(header.end(), record.begin(), record.end());
    }
    header.resize(4096);
    TRawRun run(header);
    ASSERT_EQ(run.identified, 0);
    EXPECT_EQ(run.raw->dataOffset, 2048);
}

}  // namespace
