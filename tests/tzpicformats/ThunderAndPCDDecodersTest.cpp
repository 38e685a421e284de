#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "TiffStrips.h"
#include "platform/Classes.h"
#include "tzpicformats/PCDDecoder.h"
#include "tzpicformats/ThunderDecoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes DecodeThunder(int rowBytes, const Bytes& packed, size_t unpacked) {
    Bytes out(unpacked, 0xEE);
    const uint8_t* source = packed.data();
    uint8_t* target = out.data();
    TThunderDecoder(rowBytes).Decode(source, target, int64_t(unpacked), int64_t(packed.size()));
    return out;
}

// A one-strip little-endian TIFF of 4-bit gray pixels holding ThunderScan data.
std::string ThunderTiff(int width, int height, const Bytes& strip) {
    std::string f = "II*";
    f += '\0';
    const auto u16 = [&](unsigned v) { f += char(v & 0xFF), f += char(v >> 8); };
    const auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
    u32(8);
    const unsigned tags[][2] = {{256, unsigned(width)}, {257, unsigned(height)}, {258, 4}, {259, 32809},
                                {262, 1}, {273, 8 + 2 + 9 * 12 + 4}, {277, 1}, {278, unsigned(height)},
                                {279, unsigned(strip.size())}};
    u16(9);
    for (const auto& tag : tags) {
        u16(tag[0]);
        u16(4);
        u32(1);
        u32(tag[1]);
    }
    u32(0);
    f.append(strip.begin(), strip.end());
    return f;
}

TEST(ThunderDecoder, MatchesLibtiffOnHandMadeRows) {
    // Width 10 (5 bytes a row): raw pixels, runs at even and odd counts, both delta kinds with skips.
    // No run ends a row: libtiff writes nothing for a run that reaches the row's end.
    const Bytes strip{
        0xC3, 0x02, 0x80 | (1 << 3) | 6, 0x40 | (1 << 4) | (2 << 2) | 3, 0xCF, 0x01, 0xC5,  // row 1: 3 3 3 4 2 3 2 15 15 5
        0xC1, 0x08, 0xC9,                                                                  // row 2: 1, eight 1s, 9
        0xC0, 0x40 | (1 << 4) | (1 << 2) | 1, 0x40 | (1 << 4) | (1 << 2) | 1, 0x02, 0xCA,  // row 3: 0 to 6, 6 6 10
    };
    TScratchFolder folder;
    WriteFile(folder.Path("t.tif"), ThunderTiff(10, 3, strip));
    const TCommandResult copied = RunTool("tiffcp -c none " + Quoted(folder.Path("t.tif")) + " " + Quoted(folder.Path("raw.tif")));
    ASSERT_EQ(copied.status, 0) << copied.output;
    const Bytes expected = AsBytes(JoinedStrips(ReadTiffStrips(folder.Path("raw.tif"))));
    ASSERT_EQ(expected.size(), 15u);
    EXPECT_EQ(DecodeThunder(5, strip, 15), expected);
}

TEST(ThunderDecoder, WritesRunsAndSkipsAsTheCodesSay) {
    // A run of 5 at an even count: two full bytes and a high nibble.
    EXPECT_EQ(DecodeThunder(4, {0xC7, 0xC7, 0x05}, 4), (Bytes{0x77, 0x77, 0x77, 0x70}));
    // Only skip codes: no pixel.
    EXPECT_EQ(DecodeThunder(1, {0b01101010, 0xC2, 0xC3}, 1), (Bytes{0x23}));
    // A run past the row's end is refused.
    EXPECT_EQ(MessageOf([] { DecodeThunder(2, {0xC1, 0x3F}, 2); }), "Compressed image data is damaged.");
    EXPECT_EQ(MessageOf([] { DecodeThunder(2, {0xC1}, 3); }), "Compressed image data is damaged.");
}

// Writes bits most significant first.
class TBitWriter {
public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() = uint8_t(bytes_.back() | (0x80 >> (used_ % 8)));
            ++used_;
        }
    }
    // A row header: the sync word, the plane, the row number and one spare bit.
    void Row(unsigned plane, unsigned row) {
        Put(0xFFFFFE, 24);
        Put(plane, 2);
        Put(row, 13);
        Put(0, 1);
    }
    const Bytes& Bytes_() const { return bytes_; }

private:
    Bytes bytes_;
    int used_ = 0;
};

// The residual table: 0 adds 5, 10 subtracts 3, 11 adds nothing.
void PutTable(TBitWriter& w) {
    w.Put(3 - 1, 8);
    const struct { int length; unsigned code; int key; } entries[] = {{1, 0b0, 5}, {2, 0b10, -3}, {2, 0b11, 0}};
    for (const auto& e : entries) {
        w.Put(unsigned(e.length - 1), 8);
        w.Put(e.code << (16 - e.length), 16);
        w.Put(uint8_t(int8_t(e.key)), 8);
    }
}

struct TPCDRun {
    Bytes luminance, chroma1, chroma2;
    std::string message;
};

TPCDRun DecodePCD(const Bytes& stream, int width, int height, Bytes luminance) {
    TPCDRun run{std::move(luminance), Bytes(size_t(width * (height + 1) / 2), 128), Bytes(size_t(width * (height + 1) / 2), 128), {}};
    TMemoryStream data;
    data.WriteBuffer(stream.data(), int64_t(stream.size()));
    data.SetPosition(0);
    TPCDPlanes planes{run.luminance.data(), int64_t(run.luminance.size()), run.chroma1.data(), run.chroma2.data(),
                      int64_t(run.chroma1.size())};
    run.message = MessageOf([&] {
        const uint8_t* source = reinterpret_cast<const uint8_t*>(&planes);
        uint8_t* target = nullptr;
        TPCDDecoder(data).Decode(source, target, height, width);
    });
    return run;
}

TEST(PCDDecoder, AppliesResidualsRowByRow) {
    TBitWriter w;
    PutTable(w);
    w.Put(0, 8);  // filler before the first row
    w.Row(0, 1);
    w.Put(0b11, 2), w.Put(0b0, 1), w.Put(0b0, 1), w.Put(0b10, 2);
    w.Row(0, 0);
    w.Put(0b0, 1), w.Put(0b0, 1), w.Put(0b11, 2), w.Put(0b10, 2);
    w.Row(0, 2);  // the end row
    w.Put(0, 32);
    const TPCDRun run = DecodePCD(w.Bytes_(), 4, 2, {10, 250, 0, 100, 1, 2, 3, 4});
    EXPECT_EQ(run.message, "(no exception)");
    // 10 + 5 = 15 stores 14; 250 + 5 reaches 255 and stores 254; 0 + 0 stays 0; 100 - 3 stores 96.
    EXPECT_EQ(run.luminance, (Bytes{14, 254, 0, 96, 0, 6, 7, 0}));
}

TEST(PCDDecoder, KeepsToItsPlanesAndTables) {
    const auto stream = [](unsigned plane, unsigned row) {
        TBitWriter w;
        PutTable(w);
        w.Put(0, 8);
        w.Row(plane, row);
        w.Put(0, 4);
        w.Row(0, 9);
        w.Put(0, 32);
        return w.Bytes_();
    };
    // Width 1536 reads one table only, so chrominance has none to use.
    EXPECT_EQ(DecodePCD(stream(2, 0), 1536, 2, Bytes(1536 * 2, 9)).message, "Compressed image data is damaged.");
    // A row beyond the plane, and more codes than the row holds.
    EXPECT_EQ(DecodePCD(stream(0, 5), 4, 9, Bytes(4 * 2, 9)).message, "Compressed image data is damaged.");
    EXPECT_EQ(DecodePCD(stream(0, 0), 2, 9, Bytes(2 * 9, 9)).message, "Compressed image data is damaged.");
    // Plane code 1 is a silent abort; a file that ends first is a read error.
    EXPECT_EQ(DecodePCD(stream(1, 0), 4, 9, Bytes(4 * 9, 9)).message, "");
    const Bytes whole = stream(0, 0);
    const Bytes cut(whole.begin(), whole.begin() + 20);
    EXPECT_EQ(DecodePCD(cut, 4, 9, Bytes(4 * 9, 9)).message, "Photo-CD data end before the last row.");
}

}  // namespace
