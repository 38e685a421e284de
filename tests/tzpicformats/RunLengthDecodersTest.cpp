#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "TiffStrips.h"
#include "tzpicformats/RunLengthDecoders.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string kDamaged = "Compressed image data is damaged.";

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Decodes packed into exactly unpackedBytes, so ASan sees any write beyond the target, in the
// calling order of the readers.
Bytes Decode(TDecoder& decoder, const Bytes& packed, int64_t unpackedBytes, int64_t unpackedUnits = -1) {
    Bytes out(size_t(unpackedBytes), 0xEE);
    const uint8_t* source = packed.data();
    uint8_t* target = out.data();
    decoder.StartDecoding();
    decoder.Decode(source, target, unpackedUnits < 0 ? unpackedBytes : unpackedUnits, int64_t(packed.size()));
    decoder.FinishDecoding();
    return out;
}

// A picture with flat rows and noisy rows, so encoders write both runs and literals.
std::string MakePicture(const TScratchFolder& folder, const std::string& name, const std::string& options = "") {
    const std::string path = folder.Path(name);
    const TCommandResult made = RunTool("convert -seed 1 \\( -size 37x4 gradient:red-blue \\) \\( -size 37x3 "
                                        "plasma:fractal \\) -append " + options + " " + Quoted(path));
    EXPECT_EQ(made.status, 0) << made.output;
    return path;
}

TEST(RunLengthDecoders, PackbitsMatchesTiffcp) {
    TScratchFolder folder;
    const std::string picture = MakePicture(folder, "p.tif", "-depth 8");
    ASSERT_EQ(RunTool("tiffcp -c none -r 100 " + Quoted(picture) + " " + Quoted(folder.Path("raw.tif"))).status, 0);
    ASSERT_EQ(RunTool("tiffcp -c packbits -r 100 " + Quoted(picture) + " " + Quoted(folder.Path("pb.tif"))).status, 0);
    const TTiffStrips raw = ReadTiffStrips(folder.Path("raw.tif"));
    const TTiffStrips packed = ReadTiffStrips(folder.Path("pb.tif"));
    ASSERT_EQ(packed.Value(259), 32773u);
    ASSERT_EQ(packed.strips.size(), 1u);
    TPackbitsRLEDecoder decoder;
    const std::string expected = JoinedStrips(raw);
    EXPECT_EQ(Decode(decoder, AsBytes(packed.strips[0]), int64_t(expected.size())), AsBytes(expected));
}

TEST(RunLengthDecoders, TargaMatchesImageMagickAndEncodesBack) {
    TScratchFolder folder;
    const std::string rle = MakePicture(folder, "r.tga", "-compress RLE");
    const std::string plain = MakePicture(folder, "u.tga", "-compress None");
    const std::string rleBytes = ReadFile(rle), plainBytes = ReadFile(plain);
    ASSERT_EQ(uint8_t(rleBytes[2]), 10);  // run-length true colour
    const size_t headerSize = 18 + uint8_t(rleBytes[0]);
    const size_t pixels = 37 * 7, depth = uint8_t(rleBytes[16]);
    const Bytes expected = AsBytes(plainBytes.substr(18 + uint8_t(plainBytes[0]), pixels * depth / 8));
    TTargaRLEDecoder decoder{int(depth)};
    const Bytes packed = AsBytes(rleBytes.substr(headerSize));
    EXPECT_EQ(Decode(decoder, packed, int64_t(expected.size()), int64_t(pixels)), expected);

    // Our own encoding of the same pixels decodes back to them.
    Bytes encoded(pixels * (depth / 8 + 1));
    int64_t written = 0;
    decoder.Encode(expected.data(), encoded.data(), written, int64_t(pixels));
    encoded.resize(size_t(written));
    EXPECT_EQ(Decode(decoder, encoded, int64_t(expected.size()), int64_t(pixels)), expected);
}

TEST(RunLengthDecoders, TargaEncodesPacketsOfAtMost128) {
    TTargaRLEDecoder coder(8);
    const Bytes abccc{'A', 'B', 'C', 'C', 'C'};
    Bytes out(16);
    int64_t written = 0;
    coder.Encode(abccc.data(), out.data(), written, 5);
    out.resize(size_t(written));
    EXPECT_EQ(out, (Bytes{1, 'A', 'B', 0x82, 'C'}));

    const Bytes same(300, 7);
    Bytes runs(600);
    coder.Encode(same.data(), runs.data(), written, 300);
    runs.resize(size_t(written));
    EXPECT_EQ(runs, (Bytes{0xFF, 7, 0xFF, 7, 128 + 43, 7}));
}

// Writers may run a Targa packet on into the next row: decoded row by row, each row gets its part.
TEST(RunLengthDecoders, TargaPacketsGoOnIntoTheNextCall) {
    struct TCase {
        const char* name;
        Bytes packed;
        Bytes rows;  // two rows of three 16-bit pixels
    };
    const TCase cases[] = {
        {"run over both rows", {0x85, 1, 2}, {1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2}},
        {"literal over both rows", {0x03, 1, 1, 2, 2, 3, 3, 4, 4, 0x81, 5, 5},
         {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 5, 5}},
        {"run then literal across the edge", {0x81, 7, 7, 0x02, 1, 1, 2, 2, 3, 3, 0x00, 4, 4},
         {7, 7, 7, 7, 1, 1, 2, 2, 3, 3, 4, 4}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTargaRLEDecoder decoder(16);
        Bytes rows(12, 0xEE);
        const uint8_t* source = c.packed.data();
        decoder.StartDecoding();
        for (int row = 0; row < 2; ++row) {
            uint8_t* target = rows.data() + 6 * row;
            decoder.Decode(source, target, 3, int64_t(c.packed.data() + c.packed.size() - source));
        }
        decoder.FinishDecoding();
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(source, c.packed.data() + c.packed.size());
    }
}

TEST(RunLengthDecoders, SgiRowsMatchImageMagick) {
    TScratchFolder folder;
    const std::string rle = ReadFile(MakePicture(folder, "r.sgi", "-depth 8 -compress RLE"));
    const std::string plain = ReadFile(MakePicture(folder, "u.sgi", "-depth 8 -compress None"));
    ASSERT_GT(rle.size(), 512u);
    ASSERT_EQ(rle[2], 1);  // run-length storage
    const auto be32 = [&](size_t at) {
        return uint32_t(uint8_t(rle[at])) << 24 | uint32_t(uint8_t(rle[at + 1])) << 16 |
               uint32_t(uint8_t(rle[at + 2])) << 8 | uint8_t(rle[at + 3]);
    };
    const int width = 37, height = 7, channels = rle[11];
    TSGIRLEDecoder decoder(8);
    for (int row = 0; row < height * channels; ++row) {
        SCOPED_TRACE(row);
        const uint32_t start = be32(512 + size_t(row) * 4), length = be32(512 + size_t(height * channels + row) * 4);
        const Bytes packed = AsBytes(rle.substr(start, length));
        EXPECT_EQ(Decode(decoder, packed, width), AsBytes(plain.substr(512 + size_t(row) * width, width)));
    }
}

TEST(RunLengthDecoders, PcxMatchesImageMagick) {
    TScratchFolder folder;
    const std::string path = MakePicture(folder, "p.pcx", "-type truecolor");
    const std::string pcx = ReadFile(path);
    const int planes = pcx[65], bytesPerLine = uint8_t(pcx[66]) | uint8_t(pcx[67]) << 8;
    ASSERT_EQ(planes, 3);
    const int width = 37, height = 7;
    TPCXRLEDecoder decoder;
    const Bytes packed = AsBytes(pcx.substr(128));
    const Bytes planar = Decode(decoder, packed, int64_t(bytesPerLine) * planes * height);
    const TRgbImage expected = ReadWithImageMagick(path);
    ASSERT_EQ(expected.width, width);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(planar[size_t((y * planes + c) * bytesPerLine + x)], expected.At(x, y)[c]) << x << "," << y;
}

TEST(RunLengthDecoders, DecodeTheirOwnPackets) {
    struct TCase {
        const char* name;
        std::function<std::unique_ptr<TDecoder>()> make;
        Bytes packed;
        size_t unpacked;
        Bytes expected;
    };
    const auto packbits = [] { return std::make_unique<TPackbitsRLEDecoder>(); };
    const auto pcx = [] { return std::make_unique<TPCXRLEDecoder>(); };
    const auto cut = [] { return std::make_unique<TCUTRLEDecoder>(); };
    const auto psp = [] { return std::make_unique<TPSPRLEDecoder>(); };
    const auto rla = [] { return std::make_unique<TRLADecoder>(); };
    const auto sgi16 = [] { return std::make_unique<TSGIRLEDecoder>(16); };
    const TCase cases[] = {
        {"packbits -128 is a no-op", packbits, {0x80, 0x01, 'a', 'b', 0xFE, 'c'}, 5, {'a', 'b', 'c', 'c', 'c'}},
        {"packbits run cut at the target", packbits, {0xF0, 'x'}, 3, {'x', 'x', 'x'}},
        {"pcx count 0 writes nothing", pcx, {0xC0, 9, 0xC2, 5, 7}, 3, {5, 5, 7}},
        {"pcx run cut at the target", pcx, {0xFF, 4}, 2, {4, 4}},
        {"cut row ends at its zero header", cut, {9, 0, 0x83, 1, 2, 'a', 'b', 0, 0x85, 3}, 6,
         {1, 1, 1, 'a', 'b', 0xEE}},
        {"psp 128 writes nothing", psp, {0x80, 9, 0x83, 4, 2, 'a', 'b'}, 5, {4, 4, 4, 'a', 'b'}},
        {"rla literals and runs", rla, {0xFE, 'a', 'b', 0x02, 'c'}, 5, {'a', 'b', 'c', 'c', 'c'}},
        {"sgi 16-bit runs and literals", sgi16, {0, 2, 1, 2, 0, 0x81, 3, 4, 0, 0}, 8, {1, 2, 1, 2, 3, 4, 0xEE, 0xEE}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto decoder = c.make();
        EXPECT_EQ(Decode(*decoder, c.packed, int64_t(c.unpacked)), c.expected);
    }
}

TEST(RunLengthDecoders, PassBackTheSourcePositionWhereTheFormatSaysSo) {
    TCUTRLEDecoder cut;
    const Bytes row{3, 0, 0x82, 7, 0, 'n'};
    Bytes out(2);
    const uint8_t* source = row.data();
    uint8_t* target = out.data();
    cut.Decode(source, target, 2, int64_t(row.size()));
    EXPECT_EQ(source, row.data() + 5);
    EXPECT_EQ(target, out.data());

    TTargaRLEDecoder targa(24);
    const Bytes packets{0x81, 1, 2, 3, 0x00, 4, 5, 6, 'n'};
    Bytes pixels(9);
    source = packets.data();
    target = pixels.data();
    targa.Decode(source, target, 3, int64_t(packets.size()));
    EXPECT_EQ(source, packets.data() + 8);
    EXPECT_EQ(pixels, (Bytes{1, 2, 3, 1, 2, 3, 4, 5, 6}));
}

TEST(RunLengthDecoders, RefuseRunsPastEitherEnd) {
    struct TCase {
        const char* name;
        std::function<std::unique_ptr<TDecoder>()> make;
        Bytes packed;
        int64_t unpacked;
    };
    const auto targa = [] { return std::make_unique<TTargaRLEDecoder>(8); };
    const TCase cases[] = {
        {"targa run past the target", targa, {0x85, 1}, 3},
        {"targa literal past the data", targa, {0x05, 1, 2}, 6},
        {"targa data ends early", targa, {0x00, 1}, 4},
        {"pcx data ends early", [] { return std::make_unique<TPCXRLEDecoder>(); }, {1, 0xC5}, 4},
        {"packbits literal past the data", [] { return std::make_unique<TPackbitsRLEDecoder>(); }, {0x05, 1}, 6},
        {"sgi without its zero count", [] { return std::make_unique<TSGIRLEDecoder>(8); }, {0x02, 1}, 8},
        {"sgi run past the target", [] { return std::make_unique<TSGIRLEDecoder>(8); }, {0x7F, 1, 0}, 8},
        {"sgi 16-bit literal past the target", [] { return std::make_unique<TSGIRLEDecoder>(16); },
         {0, 0x83, 1, 2, 3, 4, 5, 6, 0, 0}, 4},
        {"cut run past the target", [] { return std::make_unique<TCUTRLEDecoder>(); }, {3, 0, 0xFF, 1, 0}, 8},
        {"cut shorter than its length", [] { return std::make_unique<TCUTRLEDecoder>(); }, {3}, 8},
        {"psp run past the target", [] { return std::make_unique<TPSPRLEDecoder>(); }, {0xFF, 1}, 8},
        {"psp literal past the data", [] { return std::make_unique<TPSPRLEDecoder>(); }, {0x05, 1}, 8},
        {"rla run past the target", [] { return std::make_unique<TRLADecoder>(); }, {0x7F, 1}, 8},
        {"rla literal past the data", [] { return std::make_unique<TRLADecoder>(); }, {0x80, 1}, 8},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto decoder = c.make();
        EXPECT_EQ(MessageOf([&] { Decode(*decoder, c.packed, c.unpacked); }), kDamaged);
    }
}

}  // namespace
