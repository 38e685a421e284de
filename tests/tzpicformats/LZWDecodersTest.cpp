#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "TiffStrips.h"
#include "imaging/io/KVLzw.h"
#include "platform/Classes.h"
#include "tzpicformats/LZWDecoders.h"
#include "tzpicformats/PicFormatGraphic.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Decode(TDecoder& decoder, const Bytes& packed, size_t unpacked) {
    Bytes out(unpacked, 0xEE);
    const uint8_t* source = packed.data();
    uint8_t* target = out.data();
    decoder.Decode(source, target, int64_t(unpacked), int64_t(packed.size()));
    return out;
}

// 9-bit codes packed most significant bit first, as TIFF stores them.
Bytes PackTiffCodes(const std::vector<unsigned>& codes) {
    Bytes out;
    uint64_t buffer = 0;
    int bits = 0;
    for (unsigned code : codes) {
        buffer = buffer << 9 | code;
        bits += 9;
        while (bits >= 8) out.push_back(uint8_t(buffer >> (bits -= 8)));
    }
    if (bits > 0) out.push_back(uint8_t(buffer << (8 - bits)));
    return out;
}

std::string MakeNoisyPicture(const TScratchFolder& folder, const std::string& name, const std::string& options) {
    const std::string path = folder.Path(name);
    const TCommandResult made = RunTool("convert -seed 5 -size 150x90 plasma:fractal " + options + " " + Quoted(path));
    EXPECT_EQ(made.status, 0) << made.output;
    return path;
}

TEST(LZWDecoders, TiffMatchesTiffcpWithAndWithoutPredictor) {
    TScratchFolder folder;
    const std::string picture = MakeNoisyPicture(folder, "p.tif", "-depth 8");
    const std::string raw = folder.Path("raw.tif"), lzw = folder.Path("lzw.tif"), predicted = folder.Path("pred.tif");
    ASSERT_EQ(RunTool("tiffcp -c none -r 1000 " + Quoted(picture) + " " + Quoted(raw)).status, 0);
    ASSERT_EQ(RunTool("tiffcp -c lzw -r 1000 " + Quoted(picture) + " " + Quoted(lzw)).status, 0);
    ASSERT_EQ(RunTool("tiffcp -c lzw:2 -r 1000 " + Quoted(picture) + " " + Quoted(predicted)).status, 0);
    const Bytes expected = AsBytes(JoinedStrips(ReadTiffStrips(raw)));
    const TTiffStrips plain = ReadTiffStrips(lzw);
    ASSERT_EQ(plain.Value(259), 5u);
    TTIFFLZWDecoder decoder;
    EXPECT_EQ(Decode(decoder, AsBytes(plain.strips.at(0)), expected.size()), expected);

    const TTiffStrips differenced = ReadTiffStrips(predicted);
    ASSERT_EQ(differenced.Value(317), 2u);
    Bytes rows = Decode(decoder, AsBytes(differenced.strips.at(0)), expected.size());
    for (size_t y = 0; y < 90; ++y) ApplyPredictor24(rows.data() + y * 150 * 3, 149);
    EXPECT_EQ(rows, expected);
}

// The image library keeps a TIFF LZW codec of its own; both read tiffcp's strips alike, and ours
// reads what theirs writes.
TEST(LZWDecoders, AgreeWithTheImageLibrarysCodec) {
    TScratchFolder folder;
    const std::string picture = MakeNoisyPicture(folder, "p.tif", "-depth 8");
    ASSERT_EQ(RunTool("tiffcp -c lzw -r 1000 " + Quoted(picture) + " " + Quoted(folder.Path("lzw.tif"))).status, 0);
    const Bytes strip = AsBytes(ReadTiffStrips(folder.Path("lzw.tif")).strips.at(0));
    const int64_t rowLength = 150 * 3;
    Bytes theirs;
    TKVTIFFLZWDecodeState* state = nullptr;
    while (const uint8_t* row = TIFFLZWDecode(strip.data(), int64_t(strip.size()), rowLength, state))
        theirs.insert(theirs.end(), row, row + rowLength);
    TIFFLZWDecode(nullptr, 0, 0, state);
    ASSERT_EQ(theirs.size(), size_t(rowLength * 90));
    TTIFFLZWDecoder ours;
    EXPECT_EQ(Decode(ours, strip, theirs.size()), theirs);

    TMemoryStream encoded;
    TKVTIFFLZWEncodeState* encoder = nullptr;
    TIFFLZWEncode(theirs.data(), int64_t(theirs.size()), encoded, encoder);
    TIFFLZWEncode(nullptr, 0, encoded, encoder);
    Bytes packed(size_t(encoded.Size()));
    encoded.SetPosition(0);
    encoded.ReadBuffer(packed.data(), int64_t(packed.size()));
    EXPECT_EQ(Decode(ours, packed, theirs.size()), theirs);
}

// The image data of the first image of a GIF file and its global colour table.
struct TGifImage {
    int codeSize = 0;
    Bytes data, palette;
};

TGifImage ReadGif(const std::string& bytes) {
    TGifImage gif;
    size_t at = 13;
    const uint8_t flags = uint8_t(bytes.at(10));
    if (flags & 0x80) {
        const size_t size = 3u << ((flags & 7) + 1);
        gif.palette = AsBytes(bytes.substr(at, size));
        at += size;
    }
    while (bytes.at(at) == 0x21) {  // extensions
        at += 2;
        while (uint8_t(bytes.at(at)) != 0) at += uint8_t(bytes.at(at)) + 1u;
        ++at;
    }
    EXPECT_EQ(bytes.at(at), 0x2C);
    EXPECT_EQ(uint8_t(bytes.at(at + 9)) & 0xC0, 0);  // no local table, not interlaced
    at += 10;
    gif.codeSize = bytes.at(at++);
    while (uint8_t(bytes.at(at)) != 0) {
        const size_t size = uint8_t(bytes.at(at));
        const Bytes block = AsBytes(bytes.substr(at + 1, size));
        gif.data.insert(gif.data.end(), block.begin(), block.end());
        at += size + 1;
    }
    return gif;
}

TEST(LZWDecoders, GifMatchesImageMagick) {
    TScratchFolder folder;
    for (const char* colours : {"4", "256"}) {
        SCOPED_TRACE(colours);
        const std::string path = MakeNoisyPicture(folder, std::string("p") + colours + ".gif",
                                                  std::string("-colors ") + colours + " +dither");
        const TGifImage gif = ReadGif(ReadFile(path));
        if (std::string(colours) == "4") EXPECT_EQ(gif.codeSize, 2);
        TGIFLZWDecoder decoder(gif.codeSize);
        const Bytes indexes = Decode(decoder, gif.data, 150 * 90);
        const TRgbImage expected = ReadWithImageMagick(path);
        ASSERT_EQ(expected.width, 150);
        for (int i = 0; i < 150 * 90; ++i) {
            const uint8_t* rgb = expected.pixels.data() + i * 3;
            ASSERT_EQ(Bytes(gif.palette.begin() + indexes[size_t(i)] * 3, gif.palette.begin() + indexes[size_t(i)] * 3 + 3),
                      Bytes(rgb, rgb + 3)) << i;
        }
    }
}

TEST(LZWDecoders, DecodeHandMadeCodes) {
    TTIFFLZWDecoder tiff;
    // A code equal to the next free code spells the old string plus its own first byte.
    EXPECT_EQ(Decode(tiff, PackTiffCodes({256, 'A', 258, 257, 'B'}), 4), (Bytes{'A', 'A', 'A', 0xEE}));
    // Codes not yet defined are dropped.
    EXPECT_EQ(Decode(tiff, PackTiffCodes({256, 'x', 300, 'y', 257}), 3), (Bytes{'x', 'y', 0xEE}));

    // Code size 2: clear 4, end 5, 3-bit codes least significant bit first. Codes after the end
    // code, in the next byte, are still decoded.
    TGIFLZWDecoder gif(2);
    EXPECT_EQ(Decode(gif, {0x4C, 0x01, 0x14}, 3), (Bytes{1, 2, 0xEE}));
}

TEST(LZWDecoders, TiffWidensWhenTheNextFreeCodeReaches511) {
    // After a clear, each code but the first adds an entry from 258 on: the 254th literal takes the
    // next free code to 511, and the code after it is 10 bits wide.
    Bytes stream;
    int used = 0;
    const auto push = [&](unsigned value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            if (used % 8 == 0) stream.push_back(0);
            if ((value >> i) & 1) stream.back() = uint8_t(stream.back() | (0x80 >> (used % 8)));
            ++used;
        }
    };
    push(256, 9);
    for (unsigned i = 0; i < 254; ++i) push(i, 9);
    push(7, 10);
    push(257, 10);
    TTIFFLZWDecoder tiff;
    const Bytes decoded = Decode(tiff, stream, 256);
    EXPECT_EQ(decoded[253], 253);
    EXPECT_EQ(decoded[254], 7);
    EXPECT_EQ(decoded[255], 0xEE);
}

TEST(LZWDecoders, RefuseStringsPastTheTarget) {
    TScratchFolder folder;
    const std::string picture = MakeNoisyPicture(folder, "p.tif", "-depth 8");
    ASSERT_EQ(RunTool("tiffcp -c lzw -r 1000 " + Quoted(picture) + " " + Quoted(folder.Path("lzw.tif"))).status, 0);
    const Bytes strip = AsBytes(ReadTiffStrips(folder.Path("lzw.tif")).strips.at(0));
    TTIFFLZWDecoder decoder;
    // A target that ends inside a string is refused; one that ends between strings is just full.
    const Bytes aaa = PackTiffCodes({256, 'A', 258, 257});
    EXPECT_EQ(MessageOf([&] { Decode(decoder, aaa, 2); }), "Compressed image data is damaged.");
    EXPECT_EQ(Decode(decoder, aaa, 1), (Bytes{'A'}));
    int refused = 0;
    for (size_t size = 1000; size < 1010; ++size) {
        const std::string message = MessageOf([&] { Decode(decoder, strip, size); });
        refused += message == "Compressed image data is damaged.";
        EXPECT_TRUE(message == "(no exception)" || message == "Compressed image data is damaged.") << message;
    }
    EXPECT_GT(refused, 0);
    // A full GIF table whose last entry is made to point at itself.
    Bytes selfLoop;
    uint32_t buffer = 0;
    int bits = 0, width = 3, nextFree = 6;
    const auto put = [&](unsigned code) {
        buffer |= code << bits;
        bits += width;
        while (bits >= 8) {
            selfLoop.push_back(uint8_t(buffer));
            buffer >>= 8;
            bits -= 8;
        }
    };
    put(4);
    put(0);
    for (int i = 0; i < 5000; ++i) {
        put(unsigned(std::min(nextFree, 4095)));
        if (nextFree == (1 << width) - 1 && width < 12) ++width;
        if (nextFree < 4095) ++nextFree;
    }
    TGIFLZWDecoder gif(2);
    EXPECT_EQ(MessageOf([&] { Decode(gif, selfLoop, 1 << 24); }), "Compressed image data is damaged.");
}

}  // namespace
