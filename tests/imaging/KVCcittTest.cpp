#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "DriverTestSupport.h"
#include "imaging/io/KVCcitt.h"

namespace {

using TRows = std::vector<std::vector<uint8_t>>;

// Rows with 1 for black: short and long runs (past 2560), a black first pixel, a row change.
TRows FaxRows(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    TRows rows(size_t(height), std::vector<uint8_t>(size_t((width + 7) / 8), 0));
    for (int y = 0; y < height; ++y) {
        int x = y % 5 == 0 ? 0 : int(random() % 40);
        bool black = true;
        while (x < width) {
            const int run = y % 7 == 3 ? int(random() % 3000) : 1 + int(random() % (y % 2 ? 9 : 200));
            for (int i = x; i < std::min(x + run, width) && black; ++i) rows[size_t(y)][size_t(i / 8)] |= uint8_t(0x80 >> (i % 8));
            x += run;
            black = !black;
        }
    }
    return rows;
}

// The decoders give 1 for white; the rows above use 1 for black.
std::vector<uint8_t> Inverted(const std::vector<uint8_t>& row, int width) {
    std::vector<uint8_t> out(row.size());
    for (size_t i = 0; i < row.size(); ++i) out[i] = uint8_t(~row[i]);
    if (width % 8) out.back() &= uint8_t(0xFF << (8 - width % 8));
    return out;
}

std::vector<uint8_t> Masked(std::vector<uint8_t> row, int width) {
    if (width % 8) row.back() &= uint8_t(0xFF << (8 - width % 8));
    return row;
}

enum TScheme { G3, G3TwoD, G4 };

std::string Encode(const TRows& rows, int width, TScheme scheme, int fillOrder) {
    TMemoryStream out;
    std::atomic<bool> abort{false};
    TCCITTEncodeState state;
    for (const auto& row : rows) {
        if (scheme == G3) CCITTEncodeG3(row.data(), width, out, fillOrder, abort, state);
        if (scheme == G3TwoD) CCITTEncodeG3_2D(row.data(), width, out, fillOrder, abort, state);
        if (scheme == G4) CCITTEncodeG4(row.data(), width, out, fillOrder, abort, state);
    }
    if (scheme == G3) CCITTEncodeG3(nullptr, width, out, fillOrder, abort, state);
    if (scheme == G3TwoD) CCITTEncodeG3_2D(nullptr, width, out, fillOrder, abort, state);
    if (scheme == G4) CCITTEncodeG4(nullptr, width, out, fillOrder, abort, state);
    EXPECT_FALSE(abort.load());
    return StreamBytes(out);
}

TRows Decode(const std::string& bytes, int width, int height, TScheme scheme, int fillOrder) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    std::vector<uint8_t> reference(size_t((width + 7) / 8), 0xFF);
    TRows rows;
    int64_t position = 0;
    for (int y = 0; y < height; ++y) {
        std::vector<uint8_t> row(reference.size());
        position = scheme == G3 ? CCITTDecode1D(row.data(), data, int64_t(bytes.size()), fillOrder, position, width)
                                : CCITTDecode2D(row.data(), data, int64_t(bytes.size()), scheme == G3TwoD, fillOrder,
                                                position, reference.data(), width);
        rows.push_back(Masked(row, width));
    }
    return rows;
}

TEST(CcittTest, EveryCodingRoundTripsInBothFillOrders) {
    for (const int width : {1, 5, 9, 64, 1728, 2600, 5200}) {
        const TRows rows = FaxRows(width, 23, unsigned(width));
        TRows expected;
        for (const auto& row : rows) expected.push_back(Inverted(row, width));
        for (const TScheme scheme : {G3, G3TwoD, G4})
            for (const int fillOrder : {1, 2}) {
                SCOPED_TRACE(testing::Message() << "width " << width << " scheme " << scheme << " fill " << fillOrder);
                EXPECT_EQ(Decode(Encode(rows, width, scheme, fillOrder), width, 23, scheme, fillOrder), expected);
            }
    }
}

TEST(CcittTest, FillOrderTwoIsTheSameDataWithBitsReversed) {
    const int width = 300;
    const std::string bytes = Encode(FaxRows(width, 9, 3), width, G4, 1);
    std::string reversed = bytes;
    for (char& c : reversed) {
        uint8_t b = uint8_t(c), r = 0;
        for (int i = 0; i < 8; ++i) r |= uint8_t(((b >> i) & 1) << (7 - i));
        c = char(r);
    }
    EXPECT_EQ(Decode(reversed, width, 9, G4, 2), Decode(bytes, width, 9, G4, 1));
    EXPECT_EQ(Encode(FaxRows(width, 9, 3), width, G4, 2), reversed);
}

TEST(CcittTest, LongWhiteRunUsesTheLargestMakeUpCode) {
    // 2561 white pixels: 000000011111 (2560) then 000111 (1), after the row's EOL.
    const int width = 2561;
    const TRows rows(1, std::vector<uint8_t>(size_t((width + 7) / 8), 0));
    TMemoryStream out;
    std::atomic<bool> abort{false};
    CCITTEncodeMH(rows[0].data(), width, out, 1, abort);
    // 12 + 6 bits padded to 3 bytes: 0000 0001 1111 0001 11|00 0000
    EXPECT_EQ(StreamBytes(out), std::string("\x01\xF1\xC0", 3));
}

TEST(CcittTest, ModifiedHuffmanRowConsumesWholeBytes) {
    // 9 pixels: 4 white (1011), 5 black (0011): 8 bits, then the terminating white 0 ... row done at 9.
    std::vector<uint8_t> row = {0x07, 0x80};  // pixels 5-8 black
    TMemoryStream out;
    std::atomic<bool> abort{false};
    CCITTEncodeMH(row.data(), 9, out, 1, abort);
    const std::string bytes = StreamBytes(out) + "\xAA";
    std::vector<uint8_t> decoded(2);
    EXPECT_EQ(CCITTDecodeMH(decoded.data(), reinterpret_cast<const uint8_t*>(bytes.data()), int64_t(bytes.size()), 1, 9),
              int64_t(bytes.size() - 1));
    EXPECT_EQ(Masked(decoded, 9), Inverted(row, 9));
}

TEST(CcittTest, EolInMidRowEndsTheRowInTheCurrentColour) {
    // EOL, white 2 (0111), black 3 (10), EOL mid-row (5 of 8 pixels), then a row of white 8 (10011).
    // Bits: 000000000001 0111 10 000000000001 10011
    const std::string bits = "000000000001" "0111" "10" "000000000001" "10011";
    std::string bytes((bits.size() + 7) / 8, '\0');
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') bytes[i / 8] = char(uint8_t(bytes[i / 8]) | (0x80 >> (i % 8)));
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    std::vector<uint8_t> row(1);
    const int64_t next = CCITTDecode1D(row.data(), data, int64_t(bytes.size()), 1, 0, 8);
    EXPECT_EQ(row[0], 0xC7);  // 2 white, 3 black, then the current colour (white again)
    CCITTDecode1D(row.data(), data, int64_t(bytes.size()), 1, next, 8);
    EXPECT_EQ(row[0], 0xFF);
}

TEST(CcittTest, DamagedDataStaysInsideTheRow) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(size_t(1 + random() % 64), '\0');
        for (char& c : bytes) c = char(random());
        const int width = 1 + int(random() % 40);
        for (const TScheme scheme : {G3, G3TwoD, G4}) Decode(bytes, width, 5, scheme, 1 + round % 2);
    }
}

TEST(CcittTest, NetpbmReadsOurGroup3AndWeReadItsOwn) {
    TScratchFolder folder;
    const int width = 1728, height = 40;
    const TRows rows = FaxRows(width, height, 11);
    // Ours to g3topbm; a raw fax stream (unlike a TIFF strip) ends with six EOLs.
    WriteFile(folder.Path("ours.g3"), Encode(rows, width, G3, 1) + std::string("\x00\x10\x01\x00\x10\x01\x00\x10\x01", 9));
    const TCommandResult toPbm =
        RunTool("g3topbm " + Quoted(folder.Path("ours.g3")) + " > " + Quoted(folder.Path("ours.pbm")), false);
    ASSERT_EQ(toPbm.status, 0) << toPbm.output;
    const std::string pbm = ReadFile(folder.Path("ours.pbm"));
    const std::string header = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
    ASSERT_EQ(pbm.substr(0, header.size()), header) << pbm.substr(0, 300);
    std::string expected;
    for (const auto& row : rows) expected.append(row.begin(), row.end());
    EXPECT_EQ(pbm.substr(header.size()), expected);
    // Theirs to us.
    const TCommandResult toG3 =
        RunTool("pbmtog3 " + Quoted(folder.Path("ours.pbm")) + " > " + Quoted(folder.Path("theirs.g3")), false);
    ASSERT_EQ(toG3.status, 0) << toG3.output;
    TRows inverted;
    for (const auto& row : rows) inverted.push_back(Inverted(row, width));
    EXPECT_EQ(Decode(ReadFile(folder.Path("theirs.g3")), width, height, G3, 1), inverted);
}

}  // namespace
