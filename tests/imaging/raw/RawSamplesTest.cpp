// Each writer's file decoded back to the samples written, exactly, and the machinery below the
// loaders: bit reader, stuffing and Huffman trees.
#include <gtest/gtest.h>

#include "RawTestSupport.h"

namespace {

struct TSampleCase {
    const char* name;
    std::function<TBytes(const TRaster&)> write;
    uint32_t pattern;
    int height, width;  // the raster written
    int scale;          // largest sample value written
    int stored;         // factor from written to decoded sample
};

TEST(RawSamples, EveryCodingGivesBackTheSamplesWritten) {
    const TSampleCase cases[] = {
        {"16-bit big-endian (TIFF)", WriteLeafTiff, 0x94949494, 20, 32, 60000, 1},
        {"16-bit little-endian (TIFF)", [](const TRaster& r) { return WriteOlympusTiff(r); }, 0x61616161, 20, 32, 16000, 1},
        {"lossless JPEG (TIFF)", WriteCanonLosslessJpeg, 0x61616161, 18, 34, 4000, 4},
        {"Huffman-coded CIFF", [](const TRaster& r) { return WriteCanonCiffCompressed("Canon EOS Test", r); },
         0x94949494, 16, 64, 1000, 16},
        {"10-bit packed (CIFF)", WriteCanonA5, 0x1e4e1e4e, 776, 992, 1000, 16},
        {"8-bit by file size", WritePcCam600, 0x49494949, 768, 1024, 250, 64},
        {"12-bit packed by file size", WriteOptioS, 0x94949494, 1544, 2068, 4000, 4},
    };
    for (const TSampleCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TRaster raster = MosaicRaster(c.pattern, c.height, c.width, c.scale);
        TRawRun run(c.write(raster));
        ASSERT_EQ(run.identified, 0);
        EXPECT_EQ(run.raw->filterPattern, c.pattern);
        run.Load();
        const TKVRawContext& raw = *run.raw;
        int wrong = 0;
        for (int row = 0; row < raw.height; ++row)
            for (int col = 0; col < raw.width; ++col)
                wrong += raw.image[size_t(row) * size_t(raw.width) + size_t(col)][size_t(raw.FC(row, col))] !=
                         raster.At(row + raw.topMargin, col + raw.leftMargin) * c.stored;
        EXPECT_EQ(wrong, 0);
    }
}

TEST(RawSamples, FoveonLayersComeBackPerPixelWithRowsEndingOnAWord) {
    // Width 16 fills whole 32-bit words per row, width 13 leaves a partial word.
    for (const int width : {16, 13}) {
        SCOPED_TRACE(width);
        const int height = 9;
        std::vector<std::array<int, 3>> pixels;
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) pixels.push_back({1 + 20 * c + r, 300 - 10 * r, 5 + (c * r) % 200});
        TRawRun run(WriteFoveon("SD9", height, width, pixels));
        ASSERT_EQ(run.identified, 0);
        EXPECT_TRUE(run.raw->isFoveon);
        run.Load();
        int wrong = 0;
        for (size_t i = 0; i < pixels.size(); ++i)
            for (size_t c = 0; c < 3; ++c) wrong += run.raw->image[i][c] != pixels[i][c];
        EXPECT_EQ(wrong, 0);
    }
}

TEST(RawSamples, BitReaderReadsMsbFirstAndDropsStuffing) {
    const TBytes data = {0xA5, 0xFF, 0x00, 0x3C, 0x0F, 0xF0, 0x12, 0x34, 0x56};
    for (const bool stuffing : {false, true}) {
        TKVRawContext raw(data);
        raw.ffStuffing = stuffing;
        RawGetBits(raw, -1);
        const int64_t filled = raw.in.Tell();
        EXPECT_EQ(RawGetBits(raw, 0), 0u);
        EXPECT_EQ(raw.in.Tell(), filled);  // n = 0 reads nothing
        EXPECT_EQ(RawGetBits(raw, 4), 0xAu);
        EXPECT_EQ(RawGetBits(raw, 4), 0x5u);
        EXPECT_EQ(RawGetBits(raw, 8), 0xFFu);
        // With stuffing the 00 after FF is dropped, so 3C follows directly.
        EXPECT_EQ(RawGetBits(raw, 8), stuffing ? 0x3Cu : 0x00u);
    }
}

TEST(RawSamples, HuffmanTreeDecodesCanonicalCodesAcrossStuffedBytes) {
    // Codes 0, 10, 110 and 111: three 111 in a row make a byte FF that a code crosses.
    const uint8_t table[16 + 4] = {1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 3, 9, 0xEE};
    const auto codes = CanonicalCodes(table);
    TBitWriter bits(true);
    const int symbols[] = {0xEE, 0xEE, 0xEE, 7, 3, 9, 0xEE, 7};
    for (const int s : symbols) bits.Put(codes[size_t(s)].code, codes[size_t(s)].length);
    TBytes data = bits.Finish();
    data.insert(data.end(), 8, 0);
    ASSERT_EQ(data[0], 0xFF);
    ASSERT_EQ(data[1], 0x00);
    TKVRawContext raw(data);
    raw.ffStuffing = true;
    RawInitDecoder(raw);
    EXPECT_EQ(RawBuildDecoder(raw, table), 20);
    RawGetBits(raw, -1);
    for (const int s : symbols) EXPECT_EQ(RawDecodeLeaf(raw, 0), s);
}

TEST(RawSamples, TableLargerThanTheNodeStorageFails) {
    // 1530 codes of 11 to 16 bits need more than the fixed node storage.
    std::vector<uint8_t> table(16, 0);
    for (int length = 11; length <= 16; ++length) table[size_t(length - 1)] = 255;
    for (int i = 0; i < 6 * 255; ++i) table.push_back(uint8_t(i));
    TKVRawContext raw(std::span<const uint8_t>{});
    RawInitDecoder(raw);
    EXPECT_THROW(RawBuildDecoder(raw, table), EInvalidGraphic);
}

}  // namespace
