#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "TiffStrips.h"
#include "tzpicformats/LZ77Decoder.h"
#include "tzpicformats/PicFormatGraphic.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Deflated(const Bytes& data) {
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), uLong(data.size()), 9), Z_OK);
    out.resize(size);
    return out;
}

TEST(LZ77Decoder, InflatesTiffcpDeflateWithPredictor) {
    TScratchFolder folder;
    const std::string picture = folder.Path("p.tif"), raw = folder.Path("raw.tif"), zip = folder.Path("zip.tif");
    ASSERT_EQ(RunTool("convert -seed 2 -size 64x48 plasma:fractal -depth 8 " + Quoted(picture)).status, 0);
    ASSERT_EQ(RunTool("tiffcp -c none -r 1000 " + Quoted(picture) + " " + Quoted(raw)).status, 0);
    ASSERT_EQ(RunTool("tiffcp -c zip:2 -r 10 " + Quoted(picture) + " " + Quoted(zip)).status, 0);
    const TTiffStrips strips = ReadTiffStrips(zip);
    ASSERT_EQ(strips.Value(259), 8u);
    ASSERT_EQ(strips.Value(317), 2u);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
    decoder.StartDecoding();
    Bytes image;
    for (size_t i = 0; i < strips.strips.size(); ++i) {
        const size_t rows = std::min<size_t>(10, 48 - i * 10);
        Bytes out(rows * 64 * 3);
        const Bytes packed = AsBytes(strips.strips[i]);
        const uint8_t* source = packed.data();
        uint8_t* target = out.data();
        decoder.Decode(source, target, int64_t(out.size()), int64_t(packed.size()));
        EXPECT_EQ(target, out.data() + out.size());
        for (size_t y = 0; y < rows; ++y) ApplyPredictor24(out.data() + y * 64 * 3, 63);
        image.insert(image.end(), out.begin(), out.end());
    }
    decoder.FinishDecoding();
    EXPECT_EQ(image, AsBytes(JoinedStrips(ReadTiffStrips(raw))));
}

TEST(LZ77Decoder, ContinuesOneStreamAcrossCallsWithoutAutoReset) {
    Bytes data(5000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 / 3);
    const Bytes packed = Deflated(data);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.StartDecoding();
    Bytes out(data.size() + 10, 0xEE);
    const uint8_t* source = packed.data();
    uint8_t* target = out.data();
    // The stream comes in two pieces, as PNG data does in two chunks.
    const int64_t half = int64_t(packed.size()) / 2;
    decoder.Decode(source, target, 3000, half);
    EXPECT_EQ(decoder.AvailableInput(), 0);
    decoder.Decode(source, target, int64_t(out.data() + out.size() - target), int64_t(packed.size()) - half);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5000), data);
    EXPECT_EQ(decoder.AvailableOutput(), 10);
    // After the end of the stream nothing more is decoded.
    const uint8_t* again = packed.data();
    uint8_t* more = out.data();
    decoder.Decode(again, more, 100, int64_t(packed.size()));
    EXPECT_EQ(more, out.data());
    decoder.FinishDecoding();
}

TEST(LZ77Decoder, RefusesDamagedData) {
    Bytes packed = Deflated(Bytes(100, 'x'));
    packed[0] = 0x00;  // no zlib header
    TLZ77Decoder decoder(Z_FINISH, false);
    decoder.StartDecoding();
    Bytes out(100);
    const uint8_t* source = packed.data();
    uint8_t* target = out.data();
    EXPECT_EQ(MessageOf([&] { decoder.Decode(source, target, 100, int64_t(packed.size())); }),
              "LZ77 decompression error.");
}

}  // namespace
