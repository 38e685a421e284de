#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "TiffStrips.h"
#include "imaging/io/KVCcitt.h"
#include "tzpicformats/CCITTDecoders.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

template <class Decoder>
Bytes Decode(Decoder&& decoder, const Bytes& packed, size_t unpacked) {
    Bytes out(unpacked, 0xEE);
    const uint8_t* source = packed.data();
    uint8_t* target = out.data();
    decoder.Decode(source, target, int64_t(unpacked), int64_t(packed.size()));
    return out;
}

// Damaged data may end a decode with the library's error, and nothing else.
template <class Decoder>
void DecodeDamaged(Decoder&& decoder, const Bytes& packed, size_t unpacked) {
    try {
        Decode(decoder, packed, unpacked);
    } catch (const EGraphicCompression&) {
    }
}

// Bytes from a text of bits, zero-filled to the last byte.
Bytes Bits(const std::string& text) {
    Bytes out;
    int used = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (used % 8 == 0) out.push_back(0);
        if (c == '1') out.back() = uint8_t(out.back() | (0x80 >> (used % 8)));
        ++used;
    }
    return out;
}

// A bilevel picture with runs of many lengths, and its rows as PBM stores them (black 1).
struct TBilevel {
    std::string pbm, tiff;
    int width, height;
    Bytes rows;
};

TBilevel MakeBilevel(const TScratchFolder& folder, int width, int height) {
    TBilevel picture{folder.Path("p.pbm"), folder.Path("p.tif"), width, height, {}};
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const TCommandResult made = RunTool("convert -seed 3 -size " + size + " plasma:fractal -blur 0x3 -monochrome " +
                                        Quoted("pbm:" + picture.pbm) + " && convert " + Quoted(picture.pbm) +
                                        " " + Quoted(picture.tiff));
    EXPECT_EQ(made.status, 0) << made.output;
    const std::string pbm = ReadFile(picture.pbm);
    const size_t rowBytes = size_t(width + 7) / 8;
    picture.rows = AsBytes(pbm.substr(pbm.size() - rowBytes * size_t(height)));
    return picture;
}

// Each strip decoded into its own rows.
template <class MakeDecoder>
Bytes DecodeStrips(const TTiffStrips& tiff, MakeDecoder make) {
    const uint32_t width = tiff.Value(256), height = tiff.Value(257), rowsPerStrip = tiff.Value(278, height);
    const size_t rowBytes = (width + 7) / 8;
    Bytes all;
    for (size_t i = 0; i < tiff.strips.size(); ++i) {
        const uint32_t rows = std::min<uint32_t>(rowsPerStrip, height - uint32_t(i) * rowsPerStrip);
        const Bytes strip = Decode(make(), AsBytes(tiff.strips[i]), rowBytes * rows);
        all.insert(all.end(), strip.begin(), strip.end());
    }
    return all;
}

TEST(CCITTDecoders, Fax3MatchesTiffcpInBothBitOrders) {
    TScratchFolder folder;
    for (const int width : {1728, 37}) {
        SCOPED_TRACE(width);
        const TBilevel picture = MakeBilevel(folder, width, 40);
        const std::string raw = folder.Path("raw.tif"), msb = folder.Path("msb.tif"), lsb = folder.Path("lsb.tif");
        ASSERT_EQ(RunTool("tiffcp -c none " + Quoted(picture.tiff) + " " + Quoted(raw)).status, 0);
        ASSERT_EQ(RunTool("tiffcp -c g3:1d -r 16 " + Quoted(picture.tiff) + " " + Quoted(msb)).status, 0);
        ASSERT_EQ(RunTool("tiffcp -c g3:1d:fill -f lsb2msb -r 1000 " + Quoted(picture.tiff) + " " + Quoted(lsb)).status, 0);
        const Bytes expected = AsBytes(JoinedStrips(ReadTiffStrips(raw)));
        const TTiffStrips msbStrips = ReadTiffStrips(msb);
        ASSERT_EQ(msbStrips.Value(259), 3u);
        ASSERT_GT(msbStrips.strips.size(), 1u);
        EXPECT_EQ(DecodeStrips(msbStrips, [&] { return TCCITTFax3Decoder(0, width, false, false); }), expected);
        const TTiffStrips lsbStrips = ReadTiffStrips(lsb);
        ASSERT_EQ(lsbStrips.Value(266), 2u);
        EXPECT_EQ(DecodeStrips(lsbStrips, [&] { return TCCITTFax3Decoder(0, width, false, true); }), expected);
    }
}

TEST(CCITTDecoders, Fax3MatchesPbmtog3) {
    TScratchFolder folder;
    const TBilevel picture = MakeBilevel(folder, 203, 30);
    const TCommandResult g3 = RunTool("pbmtog3 -nofixedwidth " + Quoted(picture.pbm), false);
    ASSERT_EQ(g3.status, 0);
    EXPECT_EQ(Decode(TCCITTFax3Decoder(0, 203, false, false), AsBytes(g3.output), picture.rows.size()), picture.rows);
}

// The image library's one-dimensional rows of a strip, each row starting where the last ended.
Bytes ImagingRows(const Bytes& packed, int fillOrder, int width, int rows) {
    const size_t rowBytes = size_t(width + 7) / 8;
    Bytes all(rowBytes * size_t(rows));
    int64_t bit = 0;
    for (int r = 0; r < rows; ++r)
        bit = CCITTDecode1D(all.data() + size_t(r) * rowBytes, packed.data(), int64_t(packed.size()), fillOrder, bit, width);
    return all;
}

// The image library's rows are white 1, this library's white 0: flip and clear the padding bits.
Bytes Inverted(Bytes rows, int width) {
    const size_t rowBytes = size_t(width + 7) / 8;
    const uint8_t lastMask = uint8_t(0xFF << ((8 - width % 8) % 8));
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t(~rows[i] & (i % rowBytes == rowBytes - 1 ? lastMask : 0xFF));
    return rows;
}

// Both libraries' decoders keep their own polarity and bit order, and must agree on the same data.
TEST(CCITTDecoders, Fax3AgreesWithTheImageLibrarysDecoder) {
    TScratchFolder folder;
    const int width = 203, height = 30;
    const TBilevel picture = MakeBilevel(folder, width, height);
    const std::string raw = folder.Path("raw.tif"), msb = folder.Path("msb.tif"), lsb = folder.Path("lsb.tif");
    ASSERT_EQ(RunTool("tiffcp -c none " + Quoted(picture.tiff) + " " + Quoted(raw)).status, 0);
    ASSERT_EQ(RunTool("tiffcp -c g3:1d -r 1000 " + Quoted(picture.tiff) + " " + Quoted(msb)).status, 0);
    ASSERT_EQ(RunTool("tiffcp -c g3:1d:fill -f lsb2msb -r 1000 " + Quoted(picture.tiff) + " " + Quoted(lsb)).status, 0);
    const TCommandResult g3 = RunTool("pbmtog3 -nofixedwidth " + Quoted(picture.pbm), false);
    ASSERT_EQ(g3.status, 0);
    // The TIFF stores its rows as they are in its file, not necessarily black 1.
    const Bytes stored = AsBytes(JoinedStrips(ReadTiffStrips(raw)));
    const struct {
        const char* name;
        Bytes packed;
        bool reversed;
        const Bytes& expected;
    } fixtures[] = {
        {"pbmtog3", AsBytes(g3.output), false, picture.rows},
        {"tiffcp msb", AsBytes(JoinedStrips(ReadTiffStrips(msb))), false, stored},
        {"tiffcp lsb with fill", AsBytes(JoinedStrips(ReadTiffStrips(lsb))), true, stored},
    };
    for (const auto& fixture : fixtures) {
        SCOPED_TRACE(fixture.name);
        const Bytes ours = Decode(TCCITTFax3Decoder(0, width, false, fixture.reversed), fixture.packed, picture.rows.size());
        EXPECT_EQ(ours, fixture.expected);
        const Bytes theirs = ImagingRows(fixture.packed, fixture.reversed ? 2 : 1, width, height);
        EXPECT_EQ(Inverted(theirs, width), fixture.expected);
        EXPECT_EQ(Inverted(theirs, width), ours);
    }
}

TEST(CCITTDecoders, ModifiedHuffmanMatchesLibtiffThroughPillow) {
    TScratchFolder folder;
    const TBilevel picture = MakeBilevel(folder, 61, 50);
    const std::string mh = folder.Path("mh.tif"), raw = folder.Path("raw.tif");
    const TCommandResult made = RunTool("/usr/bin/python3 -c " +
                                        Quoted("import sys; from PIL import Image; Image.open(sys.argv[1]).convert('1')"
                                               ".save(sys.argv[2], compression='tiff_ccitt')") +
                                        " " + Quoted(picture.pbm) + " " + Quoted(mh));
    ASSERT_EQ(made.status, 0) << made.output;
    ASSERT_EQ(RunTool("tiffcp -c none " + Quoted(mh) + " " + Quoted(raw)).status, 0);
    const TTiffStrips strips = ReadTiffStrips(mh);
    ASSERT_EQ(strips.Value(259), 2u);
    EXPECT_EQ(DecodeStrips(strips, [] { return TCCITTMHDecoder(0, 61, false, false); }),
              AsBytes(JoinedStrips(ReadTiffStrips(raw))));
}

TEST(CCITTDecoders, DecodeHandMadeCodes) {
    struct TCase {
        const char* name;
        bool fax3;
        int width;
        bool wordAligned;
        std::string bits;
        Bytes expected;
    };
    const TCase cases[] = {
        {"white 0, black 5, white 1723", true, 1728, false,
         "000000000001 00110101 0011 011000 01011011", [] {
             Bytes row(216, 0);
             row[0] = 0xF8;
             return row;
         }()},
        {"make-up 64 then 3 makes 67", true, 72, false, "000000000001 11011 1000 0011",
         {0, 0, 0, 0, 0, 0, 0, 0, 0x1F}},
        // The first row ends early at an end of line; the second is looked for up to the next 1 bit
        // only, which takes the 01 in front of white 4, black 4, white 4.
        {"short row then the next", true, 16, false, "000000000001 0111 000000000001 01 1011 011 1011",
         {0x00, 0x00, 0x0F, 0x00}},
        {"a run past the row end is cut there", true, 8, false, "000000000001 0111 00011 000000000001 10011",
         {0x3F, 0x00}},
        {"mh rows start on a byte", false, 8, false, "10011 000 1011 011 0", {0x00, 0x0F}},
        {"mh word-aligned rows start on a word", false, 8, true, "10011 000 00000000 1011 011 0", {0x00, 0x0F}},
        {"invalid code ends a fax3 row", true, 8, false, "000000000001 000000001 000000000001 1011 011",
         {0x00, 0x0F}},
        {"the last code of the data counts", false, 8, false, "1000 0011", {0x1F}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes packed = Bits(c.bits);
        const Bytes decoded = c.fax3 ? Decode(TCCITTFax3Decoder(0, c.width, c.wordAligned, false), packed, c.expected.size())
                                     : Decode(TCCITTMHDecoder(0, c.width, c.wordAligned, false), packed, c.expected.size());
        EXPECT_EQ(decoded, c.expected);
    }
}

TEST(CCITTDecoders, RefuseMoreRowsThanTheTargetHolds) {
    const Bytes threeRows = Bits("10011 000 10011 000 10011 000");
    EXPECT_EQ(MessageOf([&] { Decode(TCCITTMHDecoder(0, 8, false, false), threeRows, 2); }),
              "Compressed image data is damaged.");
    EXPECT_EQ(MessageOf([&] { Decode(TCCITTFax3Decoder(0, 17, false, false), Bits("000000000001 0111"), 2); }),
              "Compressed image data is damaged.");
}

TEST(CCITTDecoders, SurviveTruncatedAndFlippedData) {
    TScratchFolder folder;
    const TBilevel picture = MakeBilevel(folder, 50, 12);
    const Bytes g3 = AsBytes(RunTool("pbmtog3 -nofixedwidth " + Quoted(picture.pbm), false).output);
    for (size_t cut = 0; cut <= g3.size(); ++cut) {
        const Bytes head(g3.begin(), g3.begin() + std::ptrdiff_t(cut));
        DecodeDamaged(TCCITTFax3Decoder(0, 50, false, false), head, picture.rows.size());
        DecodeDamaged(TCCITTMHDecoder(0, 50, true, true), head, picture.rows.size() * 4);
    }
    for (size_t bit = 0; bit < g3.size() * 8; bit += 3) {
        Bytes flipped = g3;
        flipped[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
        DecodeDamaged(TCCITTFax3Decoder(0, 50, false, false), flipped, picture.rows.size());
    }
}

}  // namespace
