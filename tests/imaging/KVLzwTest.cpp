#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "DriverTestSupport.h"
#include "imaging/io/KVLzw.h"

namespace {

// Indexes with runs, repeats and noise, so that the tables fill and restart.
std::vector<uint8_t> Indexes(int width, int height, int bits, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(size_t(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(((i / 7) % 5 == 0 ? random() : (i % 97) / 3) & ((1u << bits) - 1));
    return pixels;
}

std::vector<uint8_t> GifDecode(const std::string& bytes, int width, int height, bool interlaced, int64_t& position) {
    TMemoryStream stream;
    LoadBytes(stream, "x" + bytes);
    stream.SetPosition(1);
    std::vector<uint8_t> out(size_t(width) * height, 0xEE);
    GIFLZWDecode(stream, height, width, out.data(), interlaced);
    position = stream.Position();
    return out;
}

TEST(LzwTest, GifCodesRoundTripAtEveryDepth) {
    struct Case { int width, height, bits; bool interlaced; } cases[] = {
        {1, 1, 1, false}, {13, 7, 1, true}, {40, 30, 2, false}, {64, 64, 4, true},
        {300, 200, 8, false}, {301, 199, 8, true}, {1000, 60, 8, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " bits " << c.bits);
        const std::vector<uint8_t> pixels = Indexes(c.width, c.height, c.bits, unsigned(c.width));
        TMemoryStream out;
        GIFLZWEncode(out, c.height, c.width, c.bits, pixels.data(), c.interlaced);
        const std::string bytes = StreamBytes(out);
        EXPECT_EQ(bytes[0], char(std::max(c.bits, 2)));
        EXPECT_EQ(bytes.back(), '\0');
        int64_t position = 0;
        EXPECT_EQ(GifDecode(bytes + "tail", c.width, c.height, c.interlaced, position), pixels);
        EXPECT_EQ(position, 1 + int64_t(bytes.size()));
    }
}

// Packs codes least significant bit first the way a GIF decoder reads them: the width grows
// when the table reaches the next power of two, and a clear code starts over.
std::string PackGifCodes(const std::vector<int>& codes, int codeSize) {
    const int clear = 1 << codeSize;
    int width = codeSize + 1, freeCode = clear + 2;
    bool first = true;
    std::string data;
    uint32_t buffer = 0;
    int bits = 0;
    for (int code : codes) {
        buffer |= uint32_t(code) << bits;
        bits += width;
        for (; bits >= 8; bits -= 8, buffer >>= 8) data += char(buffer & 0xFF);
        if (code == clear) {
            width = codeSize + 1, freeCode = clear + 2, first = true;
        } else if (!first && freeCode < 4096 && ++freeCode == (1 << width) && width < 12) {
            ++width;
        } else {
            first = false;
        }
    }
    if (bits > 0) data += char(buffer & 0xFF);
    std::string blocks(1, char(codeSize));
    for (size_t at = 0; at < data.size(); at += 255) {
        const std::string piece = data.substr(at, 255);
        blocks += char(piece.size()) + piece;
    }
    return blocks + '\0';
}

TEST(LzwTest, GifDecodingRefusesWhatItCannotDecodeAndStaysPut) {
    std::vector<int> fullTable{256};
    fullTable.insert(fullTable.end(), 3839, 0);  // entries 258..4095
    std::vector<int> afterFull = fullTable, cleared = fullTable;
    afterFull.push_back(0);
    cleared.insert(cleared.end(), {256, 1, 1});
    struct Case {
        const char* name;
        std::string bytes;
        int width;
        bool decodes;
    } cases[] = {
        {"code size 1", std::string("\x01\x01\x00\x00", 4), 1, false},
        {"code size 10", std::string("\x0A\x02\x00\x04\x00", 5), 1, false},
        {"no data", std::string("\x02\x00", 2), 1, false},
        {"no terminator", PackGifCodes({4, 1, 1}, 2).substr(0, 3), 2, false},
        {"code past the table", PackGifCodes({4, 1, 7}, 2), 3, false},
        {"end before the picture", PackGifCodes({4, 1, 5}, 2), 3, false},
        {"table full, then a clear", PackGifCodes(cleared, 8), 3841, true},
        {"table full, then no clear", PackGifCodes(afterFull, 8), 3841, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int64_t position = 0;
        const std::vector<uint8_t> out = GifDecode(c.bytes, c.width, 1, false, position);
        EXPECT_EQ(position, c.decodes ? 1 + int64_t(c.bytes.size()) : 1);
        if (c.decodes) {
            EXPECT_EQ(out.back(), 1);
        }
    }
}

TEST(LzwTest, InterlacedRowsArriveInFourPasses) {
    std::vector<uint8_t> stored(8 * 3);
    for (int row = 0; row < 8; ++row) std::memset(stored.data() + row * 3, row, 3);
    TMemoryStream out;
    GIFLZWEncode(out, 8, 3, 3, stored.data(), false);
    int64_t position = 0;
    const std::vector<uint8_t> shown = GifDecode(StreamBytes(out), 3, 8, true, position);
    const int passOrder[8] = {0, 4, 2, 6, 1, 3, 5, 7};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(shown[size_t(passOrder[k]) * 3], k) << "row " << passOrder[k];
}

std::vector<uint8_t> TiffEncode(const std::vector<uint8_t>& data, size_t pieces) {
    TMemoryStream out;
    TKVTIFFLZWEncodeState* state = nullptr;
    const size_t step = (data.size() + pieces - 1) / pieces;
    for (size_t at = 0; at < data.size(); at += step)
        TIFFLZWEncode(data.data() + at, int64_t(std::min(step, data.size() - at)), out, state);
    TIFFLZWEncode(nullptr, 0, out, state);
    EXPECT_EQ(state, nullptr);
    return out.Bytes();
}

// The rows of a strip; stops at the first row the decoder cannot give.
std::vector<uint8_t> TiffDecode(const std::vector<uint8_t>& strip, int64_t rowLength, int rows) {
    std::vector<uint8_t> out;
    TKVTIFFLZWDecodeState* state = nullptr;
    for (int i = 0; i < rows; ++i) {
        const uint8_t* row = TIFFLZWDecode(strip.data(), int64_t(strip.size()), rowLength, state);
        if (!row) break;
        out.insert(out.end(), row, row + rowLength);
    }
    TIFFLZWDecode(nullptr, 0, 0, state);
    EXPECT_EQ(state, nullptr);
    return out;
}

// A one-strip 8-bit gray TIFF around the strip.
std::string GrayTiff(int width, int height, int compression, const std::vector<uint8_t>& strip) {
    std::string tiff("II*\0\x08\0\0\0", 8);
    auto u16 = [&](int v) { tiff += char(v & 0xFF), tiff += char(v >> 8); };
    auto u32 = [&](uint32_t v) { u16(int(v & 0xFFFF)), u16(int(v >> 16)); };
    const int entries = 8;
    const uint32_t dataAt = 8 + 2 + entries * 12 + 4;
    u16(entries);
    auto entry = [&](int tag, int type, uint32_t value) { u16(tag), u16(type), u32(1), u32(value); };
    entry(256, 4, uint32_t(width)), entry(257, 4, uint32_t(height)), entry(258, 3, 8), entry(259, 3, uint32_t(compression));
    entry(262, 3, 1), entry(273, 4, dataAt), entry(278, 4, uint32_t(height)), entry(279, 4, uint32_t(strip.size()));
    u32(0);
    return tiff + std::string(strip.begin(), strip.end());
}

// The first strip of a TIFF written by libtiff.
std::vector<uint8_t> FirstStrip(const std::string& tiff) {
    auto u16 = [&](size_t at) { return uint32_t(uint8_t(tiff[at])) | uint32_t(uint8_t(tiff[at + 1])) << 8; };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    const size_t ifd = u32(4);
    uint32_t offset = 0, count = 0;
    for (uint32_t i = 0; i < u16(ifd); ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const uint32_t value = u16(e + 2) == 3 ? u16(e + 8) : u32(e + 8);
        if (u16(e) == 273) offset = value;
        if (u16(e) == 279) count = value;
    }
    return std::vector<uint8_t>(tiff.begin() + offset, tiff.begin() + offset + count);
}

TEST(LzwTest, TiffStripsAgreeWithLibtiffBothWays) {
    TScratchFolder folder;
    const int width = 233, height = 151;
    const std::vector<uint8_t> pixels = Indexes(width, height, 8, 7);
    // Ours, decoded by libtiff.
    WriteFile(folder.Path("ours.tif"), GrayTiff(width, height, 5, TiffEncode(pixels, 5)));
    const std::string raw = RunTool("tiffcp -c none " + Quoted(folder.Path("ours.tif")) + " " +
                                    Quoted(folder.Path("plain.tif"))).output;
    EXPECT_EQ(raw, "");
    EXPECT_EQ(FirstStrip(ReadFile(folder.Path("plain.tif"))), pixels);
    // Libtiff's, decoded by us, and ours by us.
    WriteFile(folder.Path("plain-in.tif"), GrayTiff(width, height, 1, pixels));
    ASSERT_EQ(RunTool("tiffcp -c lzw -r 100000 " + Quoted(folder.Path("plain-in.tif")) + " " +
                      Quoted(folder.Path("theirs.tif"))).status, 0);
    EXPECT_EQ(TiffDecode(FirstStrip(ReadFile(folder.Path("theirs.tif"))), width, height), pixels);
    EXPECT_EQ(TiffDecode(TiffEncode(pixels, 1), width, height), pixels);
}

// Packs codes most significant bit first the way a TIFF decoder reads them: each code after the
// first one since a clear makes a table entry, and the width grows one entry early (at 511,
// 1023 and 2047 entries); a clear code starts over.
std::vector<uint8_t> PackTiffCodes(const std::vector<int>& codes) {
    int width = 9, nextEntry = 258;
    bool first = true;
    std::vector<uint8_t> data;
    uint64_t buffer = 0;
    int bits = 0;
    for (int code : codes) {
        buffer = buffer << width | uint64_t(code);
        bits += width;
        for (; bits >= 8; bits -= 8) data.push_back(uint8_t(buffer >> (bits - 8)));
        if (code == 256) {
            width = 9, nextEntry = 258, first = true;
            continue;
        }
        if (!first && nextEntry < 4096) ++nextEntry;
        first = false;
        if (nextEntry == 511) width = 10;
        else if (nextEntry == 1023) width = 11;
        else if (nextEntry == 2047) width = 12;
    }
    if (bits > 0) data.push_back(uint8_t(buffer << (8 - bits)));
    return data;
}

// The rows a strip gives, as text; each case's rows are worked out by hand from its codes.
TEST(LzwTest, HostileTiffStripsGiveTheRowsBeforeTheirDamage) {
    std::vector<int> full{256};
    full.insert(full.end(), 1 + 3838, 'z');  // the first makes no entry, then entries 258..4095
    std::vector<int> overflow = full, cleared = full;
    overflow.push_back('z');  // no room for its entry
    cleared.insert(cleared.end(), {256, 'B', 257});
    std::vector<uint8_t> cut = PackTiffCodes({256, 'A', 'B', 'C', 257});
    cut.resize(4);  // 32 bits: three whole codes and part of the fourth
    struct Case {
        const char* name;
        std::vector<uint8_t> strip;
        int64_t rowLength;
        std::string rows;
    } cases[] = {
        {"no clear code first", PackTiffCodes({'A', 'B', 258, 257}), 4, "ABAB"},
        {"the code being made", PackTiffCodes({256, 'A', 258, 259, 257}), 6, "AAAAAA"},
        {"a code past the table", PackTiffCodes({256, 'A', 'B', 300, 'C', 257}), 1, "AB"},
        {"two clear codes", PackTiffCodes({256, 256, 'A', 257}), 1, ""},
        {"a clear code then the end", PackTiffCodes({256, 257}), 1, ""},
        {"the end before the data", PackTiffCodes({256, 'A', 257, 'B'}), 1, "A"},
        {"no end code", PackTiffCodes({256, 'A', 'B'}), 1, "AB"},
        {"cut inside a code", cut, 1, "AB"},
        {"a part row at the end", PackTiffCodes({256, 'A', 'B', 'C', 257}), 2, "AB"},
        {"the table full", PackTiffCodes(overflow), 3839, std::string(3839, 'z')},
        {"the table full, then cleared", PackTiffCodes(cleared), 1, std::string(3839, 'z') + "B"},
        {"no data", {}, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> rows = TiffDecode(c.strip, c.rowLength, 100000);
        EXPECT_EQ(std::string(rows.begin(), rows.end()), c.rows);
    }
}

TEST(LzwTest, DamagedTiffStripsGiveNoRowAndNeverOverrun) {
    const std::vector<uint8_t> pixels = Indexes(100, 50, 8, 3);
    const std::vector<uint8_t> strip = TiffEncode(pixels, 1);
    // Cut short: the rows before the cut come, then none.
    const std::vector<uint8_t> cut(strip.begin(), strip.begin() + int64_t(strip.size() / 2));
    const std::vector<uint8_t> rows = TiffDecode(cut, 100, 50);
    EXPECT_LT(rows.size(), pixels.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), pixels.begin()));
    // A code far past the table.
    EXPECT_TRUE(TiffDecode({0x80, 0x3F, 0xF0, 0x00}, 1, 2).size() <= 1);
    // Bit flips: any rows, but no sanitizer report.
    for (size_t i = 0; i < strip.size(); i += 3) {
        std::vector<uint8_t> flipped = strip;
        flipped[i] ^= uint8_t(1 << (i % 8));
        TiffDecode(flipped, 100, 50);
    }
    // Noise as a strip.
    std::vector<uint8_t> noise;
    for (int i = 0; i < 8000; ++i) noise.push_back(uint8_t(i * 37));
    EXPECT_LT(TiffDecode(noise, 1, 100000).size(), 100000u);
}

}  // namespace
