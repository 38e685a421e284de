// Each loader on a few bytes written out by hand, its samples worked out by hand from the
// packing the camera uses: bytes in, values out, no writer of ours in between.
#include <gtest/gtest.h>

#include "RawLoaderCases.h"
#include "RawTestSupport.h"

namespace {

// The case's loader run on the bytes; samples are read back in picture coordinates.
class TLoaded {
public:
    TLoaded(const TLoaderCase& c, TBytes bytes) : input_(std::move(bytes)), raw(input_) {
        PrepareLoader(raw, c, false);
        c.loader(raw);
    }
    std::vector<int> Row(int row) const {
        std::vector<int> samples;
        for (int col = 0; col < raw.width; ++col)
            samples.push_back(raw.image[size_t(row) * size_t(raw.imageWidth) + size_t(col)][size_t(raw.FC(row, col))]);
        return samples;
    }

private:
    TBytes input_;

public:
    TKVRawContext raw;
};

using TRow = std::vector<int>;

TBytes Concat(std::initializer_list<TBytes> parts, size_t padEachTo = 0) {
    TBytes all;
    for (TBytes part : parts) {
        if (part.size() < padEachTo) part.resize(padEachTo);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(RawLoaderValues, PowerShot600TenBitsInTenBytesEvenRowsFirst) {
    // Samples: s0 = b0 << 2 | b1 >> 6, s1 = b2 << 2 | (b1 >> 4 & 3) ... s7 = b8 << 2 | b9 >> 6, each
    // times 16. The second group of each row, ten bytes of 4, is past the picture's 8 columns:
    // samples 16, 16, 17, 16, 16, 17, 16, 16 = 130 a row, so black = 3 x 130 x 16 / (888 x 3) = 2.
    TBytes rows;
    for (const TBytes& first : {TBytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x13, 0x57},
                                TBytes{0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x24, 0x68},
                                TBytes{0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0x00, 0x12, 0x35, 0x79}}) {
        TBytes line = Concat({first, TBytes(10, 0x04)});
        line.resize(1120);
        rows.insert(rows.end(), line.begin(), line.end());
    }
    const TLoaded loaded(CaseOfSize(RawLoadCanonPs600, 3, 8), rows);
    EXPECT_EQ(loaded.Row(0), (TRow{1152, 5552, 7696, 9856, 12080, 14224, 15376, 1232}));
    EXPECT_EQ(loaded.Row(2), (TRow{2256, 6592, 8784, 10960, 13120, 15328, 96, 2320}));
    EXPECT_EQ(loaded.Row(1), (TRow{3344, 7696, 9872, 12064, 14224, 32, 1200, 3408}));
    EXPECT_EQ(loaded.raw.blackLevel, 2);
}

TEST(RawLoaderValues, E2100TwelveBitsInTwelveBytesTwoFieldsApart) {
    // s0 = b2 >> 4 | b3 << 4, s1 = b2 << 8 | b1, s2 = b7 >> 4 | b0 << 4 ... each of 12 bits, times
    // 4; rows 0 and 2, then 424 bytes, then rows 1 and 3.
    const TBytes file = Concat({{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x10, 0x32, 0x54, 0x76},
                                {0x22, 0x44, 0x66, 0x88, 0xAA, 0xCC, 0xEE, 0x10, 0x31, 0x53, 0x75, 0x97},
                                TBytes(424, 0xFF),
                                {0x43, 0x65, 0x87, 0xA9, 0xCB, 0xED, 0x0F, 0x31, 0x52, 0x74, 0x96, 0xB8},
                                {0x64, 0x86, 0xA8, 0xCA, 0xEC, 0x0E, 0x30, 0x52, 0x73, 0x95, 0xB7, 0xD9}});
    const TLoaded loaded(CaseOfSize(RawLoadNikonE2100, 4, 8), file);
    EXPECT_EQ(loaded.Row(0), (TRow{6608, 5260, 120, 16180, 10976, 9688, 5388, 2112}));
    EXPECT_EQ(loaded.Row(2), (TRow{8728, 6416, 2180, 952, 13096, 10844, 7508, 3268}));
    EXPECT_EQ(loaded.Row(1), (TRow{10848, 7572, 4300, 1084, 15216, 12000, 9628, 4424}));
    EXPECT_EQ(loaded.Row(3), (TRow{12968, 8728, 6420, 2240, 952, 13156, 11748, 5580}));
}

TEST(RawLoaderValues, Qv5700TenBitsInFiveBytes) {
    // s0 = b0 << 2 | b1 >> 6, s1 = b1 << 4 | b2 >> 4, s2 = b2 << 6 | b3 >> 2, s3 = b3 << 8 | b4, each
    // of 10 bits, times 16, in rows of 3232 bytes.
    const TBytes file = Concat({{0xA1, 0xB2, 0xC3, 0xD4, 0xE5}, {0xB4, 0xC5, 0xD6, 0xE7, 0xF8}}, 3232);
    const TLoaded loaded(CaseOfSize(RawLoadCasioQv5700, 2, 4), file);
    EXPECT_EQ(loaded.Row(0), (TRow{10336, 12992, 3920, 3664}));
    EXPECT_EQ(loaded.Row(1), (TRow{11568, 1488, 7056, 16256}));
}

TEST(RawLoaderValues, E950TenBitRowsEachFollowedBy28Bytes) {
    // Rows n = 0, 1, 2 are picture rows 2n mod 3 = 0, 2, 1: (101, 202, 303, 404), (515, 626, 737,
    // 848), (959, 1010, 21, 132), most significant bit first, times 16.
    const TBytes file = Concat({{0x19, 0x4C, 0xA4, 0xBD, 0x94}, {0x80, 0xE7, 0x2B, 0x87, 0x50}, {0xEF, 0xFF, 0x20, 0x54, 0x84}}, 33);
    const TLoaded loaded(CaseOfSize(RawLoadNikonE950, 3, 4), file);
    EXPECT_EQ(loaded.Row(0), (TRow{1616, 3232, 4848, 6464}));
    EXPECT_EQ(loaded.Row(2), (TRow{8240, 10016, 11792, 13568}));
    EXPECT_EQ(loaded.Row(1), (TRow{15344, 16160, 336, 2112}));
}

TEST(RawLoaderValues, NikonPlainTwelveBitsWithAByteAfterEveryTenth) {
    // Compression 34713: rows of 12 samples (100 + 37 i, then 4000 - 91 i) with 8 bits after the
    // tenth; the picture starts at column 2. Times 4.
    TLoaderCase c = CaseOfSize(RawLoadNikonPlain, 2, 12);
    c.model = "D1", c.width = 10, c.left = 2, c.compression = 34713;
    const TBytes file = {0x06, 0x40, 0x89, 0x0A, 0xE0, 0xD3, 0x0F, 0x81, 0x1D, 0x14, 0x21, 0x67, 0x18,
                         0xC1, 0xB1, 0xAB, 0x1D, 0x61, 0xFB, 0xFA, 0x0F, 0x45, 0xEE, 0xAE, 0x8F, 0xE3,
                         0x4D, 0xD9, 0xD7, 0xED, 0x23, 0xCC, 0x8C, 0x6D, 0xAB, 0xC1, 0x2B, 0xB7};
    const TLoaded loaded(c, file);
    EXPECT_EQ(loaded.Row(0), (TRow{696, 844, 992, 1140, 1288, 1436, 1584, 1732, 1880, 2028}));
    EXPECT_EQ(loaded.Row(1), (TRow{15272, 14908, 14544, 14180, 13816, 13452, 13088, 12724, 12360, 11996}));
}

TEST(RawLoaderValues, NikonPlainSmallModelsReadTheOddRowsFromHalfTheFile) {
    // Model E880: raster row n is picture row n / 2 + 2n mod 4 (0, 2, 1, 3); at picture row 1 the
    // reading moves to the middle of the file. Samples 111 ... 888 in 12 bits, times 4.
    TLoaderCase c = CaseOfSize(RawLoadNikonPlain, 4, 2);
    c.model = "E880", c.compression = 0;
    const TLoaded loaded(c, {0x06, 0xF0, 0xDE, 0x14, 0xD1, 0xBC, 0x22, 0xB2, 0x9A, 0x30, 0x93, 0x78});
    EXPECT_EQ(loaded.Row(0), (TRow{444, 888}));
    EXPECT_EQ(loaded.Row(2), (TRow{1332, 1776}));
    EXPECT_EQ(loaded.Row(1), (TRow{2220, 2664}));
    EXPECT_EQ(loaded.Row(3), (TRow{3108, 3552}));
}

TEST(RawLoaderValues, NikonCurveClampStopsAtTheLastEntry) {
    // Vertical predictors 1, 2, 3, 0 and the curve 10, 20, 30, 40, then the codes of the fixed
    // table (length 0: 11110, 1: 1110, 2: 101) with their bits: row 0 +1, 0, -1, +3; row 1 -2,
    // +2, 0, -3. Row 0, column 3 predicts 2 + 3 = 5, past the curve: its last entry, 40. Row 1,
    // column 3 predicts -1: the first, 10. Times 4.
    TLoaderCase c = CaseOfSize(RawLoadNikonCompressed, 2, 4);
    c.curveOffset = 0, c.dataOffset = 18;
    const TLoaded loaded(c, {0, 1, 0, 2, 0, 3, 0, 0, 0, 4, 0, 10, 0, 20, 0, 30, 0, 40, 0xEF, 0xB9, 0x7A, 0xDB, 0xD4});
    EXPECT_EQ(loaded.Row(0), (TRow{120, 120, 80, 160}));
    EXPECT_EQ(loaded.Row(1), (TRow{80, 120, 80, 40}));
}

TEST(RawLoaderValues, C5050EvenAndOddFieldsInPlanesOf2048Bytes) {
    // A 4 x 2 picture: rows 0 and 2 (1001, 1002, 2003, 2004) from the data position, rows 1 and 3
    // (3005, 3006, 4007, 4008) 2048 bytes on, 12 bits each, times 4.
    TBytes file = {0x3E, 0x93, 0xEA, 0x7D, 0x37, 0xD4};
    file.resize(2048);
    file.insert(file.end(), {0xBB, 0xDB, 0xBE, 0xFA, 0x7F, 0xA8});
    TLoaderCase c = CaseOfSize(RawLoadOlympusC5050, 4, 2);
    c.dataOffset = 0;
    const TLoaded loaded(c, file);
    EXPECT_EQ(loaded.Row(0), (TRow{4004, 4008}));
    EXPECT_EQ(loaded.Row(1), (TRow{12020, 12024}));
    EXPECT_EQ(loaded.Row(2), (TRow{8012, 8016}));
    EXPECT_EQ(loaded.Row(3), (TRow{16028, 16032}));
}

TEST(RawLoaderValues, NucoreLittleEndianWordsAndTheInterlacedBitmapRows) {
    const TLoaded plain(CaseOfSize(RawLoadNucore, 2, 2), {0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07});
    EXPECT_EQ(plain.Row(0), (TRow{0x0102 * 4, 0x0304 * 4}));
    EXPECT_EQ(plain.Row(1), (TRow{0x0506 * 4, 0x0708 * 4}));

    // A model starting with B, 2598 wide: raster row n is picture row 3 - n / 2 - (2 when n is
    // odd): 3, 1, 2, 0.
    TLoaderCase c = CaseOfSize(RawLoadNucore, 4, 2598);
    c.model = "BMQ";
    TBytes file(4 * 2598 * 2, 0);
    for (size_t n = 0; n < 4; ++n) file[n * 2598 * 2] = uint8_t(100 + n);
    const TLoaded interlaced(c, file);
    const int rows[4] = {3, 1, 2, 0};
    for (int n = 0; n < 4; ++n) EXPECT_EQ(interlaced.Row(rows[n])[0], (100 + n) * 4) << n;
}

TEST(RawLoaderValues, IxpressRowsBottomUpWordsRightToLeft) {
    TBytes file(49384, 0);
    for (const TBytes& row : {TBytes{10, 0, 20, 0, 30, 0}, TBytes{40, 0, 50, 0, 60, 0}}) {
        TBytes line = row;
        line.resize(8180);
        file.insert(file.end(), line.begin(), line.end());
    }
    const TLoaded loaded(CaseOfSize(RawLoadIxpress, 2, 3), file);
    EXPECT_EQ(loaded.Row(1), (TRow{30, 20, 10}));
    EXPECT_EQ(loaded.Row(0), (TRow{60, 50, 40}));
}

TEST(RawLoaderValues, PhaseOneWordPairsUnderTheirKeysAndMasks) {
    // Keys 0x0F0F and 0x3333 at 12 + 0 + 296. Raster rows of 4 big-endian words from 12; the
    // picture starts at row 1, column 1. Words 0x1234, 0xABCD: a = 0x1D3B, b = 0x98FE; word 1 =
    // (a & 0xAAAA) | (b & 0x5555) = 0x187E. Words 0xFFFF, 0: a = 0xF0F0, b = 0x3333; word 2 =
    // (b & 0xAAAA) | (a & 0x5555) = 0x7272.
    TLoaderCase c = CaseOfSize(RawLoadPhaseOne, 3, 4);
    c.height = 2, c.width = 2, c.top = 1, c.left = 1;
    TBytes file(20, 0);
    for (int row = 1; row < 3; ++row) file.insert(file.end(), {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0xFF, 0x00, 0x00});
    file.resize(308);
    file.insert(file.end(), {0x0F, 0x0F, 0x33, 0x33});
    const TLoaded loaded(c, file);
    EXPECT_EQ(loaded.Row(0), (TRow{0x187E, 0x7272}));
    EXPECT_EQ(loaded.Row(1), (TRow{0x187E, 0x7272}));
}

TEST(RawLoaderValues, KodakEasyBytesThroughTheCurveAndTheBlackOfTheMargins) {
    // An empty directory at 12, a curve of 5, 100, 200 at 16 (the rest repeats 200), rows of 4
    // bytes from 24 with the picture in columns 1 and 2. Row 0: 0, 1, 2, 7; row 1: 1, 0, 9, 2.
    // Black: (5 + 200 + 100 + 200) x 4 / (2 x 2) = 505; white: 200 x 4.
    TLoaderCase c = CaseOfSize(RawLoadKodakEasy, 2, 4);
    c.width = 2, c.left = 1, c.curveOffset = 16, c.curveLength = 3, c.dataOffset = 24;
    TBytes file(16, 0);
    file.insert(file.end(), {5, 0, 100, 0, 200, 0, 0, 0, 0, 1, 2, 7, 1, 0, 9, 2});
    const TLoaded loaded(c, file);
    EXPECT_EQ(loaded.Row(0), (TRow{400, 800}));
    EXPECT_EQ(loaded.Row(1), (TRow{20, 800}));
    EXPECT_EQ(loaded.raw.blackLevel, 505);
    EXPECT_EQ(loaded.raw.whiteLevel, 800);
}

TEST(RawLoaderValues, Dc120PlainRowsTurnedByTheirOffsets) {
    // Column i of row n takes byte (n x A + B + i) mod 848 of its row, A and B by n mod 4 from
    // (162, 192, 187, 92) and (0, 636, 424, 212); byte k of row n is 7k + n + 1 (mod 256). Times 64.
    TBytes file;
    for (int n = 0; n < 4; ++n)
        for (int k = 0; k < 848; ++k) file.push_back(uint8_t(7 * k + n + 1));
    const TLoaded loaded(CaseOfSize(RawLoadKodakDc120, 4, 3), file);
    EXPECT_EQ(loaded.Row(0), (TRow{64, 512, 960}));
    EXPECT_EQ(loaded.Row(1), (TRow{10624, 11072, 11520}));
    EXPECT_EQ(loaded.Row(2), (TRow{13632, 14080, 14528}));
    EXPECT_EQ(loaded.Row(3), (TRow{5888, 6336, 6784}));
}

TEST(RawLoaderValues, RolleiFiveSamplesAndThreeFromTheirHighBits) {
    // Samples 0..4: (b(2k) << 8 | b(2k+1)) & 0x3FF; their bytes b(2k) >> 2 make 30 bits whose
    // values >> 4, >> 2, >> 0, times 5, give samples 5, 6, 7 (4 x 2 x 5 / 8 = 5 on). Times 16.
    const TLoaded loaded(CaseOfSize(RawLoadRolleiD530flex, 2, 4), {0x85, 0x11, 0x46, 0x22, 0xC7, 0x33, 0x08, 0x44, 0xFD, 0x55});
    EXPECT_EQ(loaded.Row(0), (TRow{4368, 8736, 13104, 1088}));
    EXPECT_EQ(loaded.Row(1), (TRow{5456, 4976, 3760, 15280}));
}

}  // namespace
