#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "TiffStrips.h"
#include "tzlib/Errors.h"
#include "tzpicformats/PicFormatGraphic.h"
#include "tzpicformats/TIFFJPEGDecoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// What the TIFF reader would put in the record for this file.
TImageProperties PropertiesOf(const TTiffStrips& tiff) {
    TImageProperties p;
    p.Width = tiff.Value(256);
    p.Height = tiff.Value(257);
    p.BitsPerSample = uint8_t(tiff.Value(258));
    p.SamplesPerPixel = uint8_t(tiff.Value(277));
    p.ColorScheme = tiff.Value(262) == 6 ? smYCbCr : (p.SamplesPerPixel == 1 ? smGray : smRGB);
    p.PlanarConfig = tiff.Value(284, 1);
    p.RowsPerStrip = {tiff.Value(278, p.Height)};
    p.BytesPerLine = int32_t(p.Width * p.SamplesPerPixel);
    if (tiff.Value(262) == 6) {
        const auto found = tiff.tags.find(530);
        p.YCbCrSubSampling = found == tiff.tags.end() ? std::vector<uint8_t>{2, 2}
                                                      : std::vector<uint8_t>{uint8_t(found->second[0]), uint8_t(found->second[1])};
    }
    const std::string tables = tiff.Tag(347);
    p.JPEGTables.assign(tables.begin(), tables.end());
    p.StripCount = int32_t(tiff.strips.size());
    return p;
}

// Every strip decoded in turn, the rows as the decoder gives them.
Bytes DecodeAll(const TTiffStrips& tiff, TImageProperties& p) {
    TTIFFJPEGDecoder decoder(p);
    decoder.StartDecoding();
    Bytes image;
    for (size_t i = 0; i < tiff.strips.size(); ++i) {
        p.CurrentStrip = int32_t(i);
        p.CurrentRow = uint32_t(i) * p.RowsPerStrip[0];
        const uint32_t rows = std::min(p.RowsPerStrip[0], p.Height - p.CurrentRow);
        Bytes out(size_t(rows) * size_t(p.BytesPerLine));
        const Bytes packed = AsBytes(tiff.strips[i]);
        const uint8_t* source = packed.data();
        uint8_t* target = out.data();
        decoder.Decode(source, target, int64_t(out.size()), int64_t(packed.size()));
        image.insert(image.end(), out.begin(), out.end());
    }
    decoder.FinishDecoding();
    return image;
}

std::string MakeTiff(const TScratchFolder& folder, const std::string& name, const std::string& compression) {
    const std::string picture = folder.Path("source.tif"), path = folder.Path(name);
    EXPECT_EQ(RunTool("convert -seed 4 -size 45x37 plasma:fractal -blur 0x1 -depth 8 " + Quoted(picture)).status, 0);
    const TCommandResult made = RunTool("tiffcp -c " + compression + " -r 16 " + Quoted(picture) + " " + Quoted(path));
    EXPECT_EQ(made.status, 0) << made.output;
    return path;
}

TEST(TIFFJPEGDecoder, MatchesImageMagickInBlueGreenRedOrder) {
    TScratchFolder folder;
    for (const char* compression : {"jpeg", "jpeg:r"}) {
        SCOPED_TRACE(compression);
        const std::string path = MakeTiff(folder, "j.tif", compression);
        const TTiffStrips tiff = ReadTiffStrips(path);
        ASSERT_EQ(tiff.Value(259), 7u);
        ASSERT_EQ(tiff.strips.size(), 3u);
        TImageProperties p = PropertiesOf(tiff);
        ASSERT_FALSE(p.JPEGTables.empty());
        const Bytes bgr = DecodeAll(tiff, p);
        const TRgbImage expected = ReadWithImageMagick(path);
        ASSERT_EQ(expected.width, 45);
        int worst = 0;
        for (int i = 0; i < 45 * 37; ++i)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(int(bgr[size_t(i) * 3 + 2 - size_t(c)]) - int(expected.pixels[size_t(i) * 3 + size_t(c)])));
        EXPECT_LE(worst, 3);
    }
}

TEST(TIFFJPEGDecoder, RefusesStripsThatDoNotFitTheImage) {
    TScratchFolder folder;
    const TTiffStrips tiff = ReadTiffStrips(MakeTiff(folder, "j.tif", "jpeg"));
    const struct {
        const char* name;
        void (*change)(TImageProperties&);
        const char* message;
    } cases[] = {
        {"width", [](TImageProperties& p) { p.Width = 44; p.BytesPerLine = 44 * 3; }, "Improper JPEG strip/tile size."},
        {"samples", [](TImageProperties& p) { p.SamplesPerPixel = 4; }, "Improper JPEG component count."},
        {"precision", [](TImageProperties& p) { p.BitsPerSample = 12; }, "Improper JPEG data precision."},
        {"sampling", [](TImageProperties& p) { p.YCbCrSubSampling = {1, 1}; }, "Improper JPEG sampling factors."},
        {"tiles", [](TImageProperties& p) { p.Options = ioTiled; }, "Improper JPEG strip/tile size."},
        {"rows too short", [](TImageProperties& p) { p.BytesPerLine = 45; }, "Improper JPEG strip/tile size."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TImageProperties p = PropertiesOf(tiff);
        c.change(p);
        EXPECT_EQ(MessageOf([&] { DecodeAll(tiff, p); }), c.message);
    }

    TImageProperties whole = PropertiesOf(tiff);
    TTIFFJPEGDecoder fractional(whole);
    fractional.StartDecoding();
    const Bytes strip = AsBytes(tiff.strips[0]);
    Bytes out(16 * 45 * 3 + 1);
    const uint8_t* source = strip.data();
    uint8_t* target = out.data();
    EXPECT_EQ(MessageOf([&] { fractional.Decode(source, target, int64_t(out.size()), int64_t(strip.size())); }),
              "Fractional JPEG scanline unsupported.");

    TImageProperties bogus = PropertiesOf(tiff);
    ASSERT_EQ(RunTool("convert -size 8x8 xc:gray " + Quoted(folder.Path("whole.jpg"))).status, 0);
    const std::string image = ReadFile(folder.Path("whole.jpg"));
    bogus.JPEGTables.assign(image.begin(), image.end());
    TTIFFJPEGDecoder decoder(bogus);
    EXPECT_EQ(MessageOf([&] { decoder.StartDecoding(); }), "Bogus JPEG tables field.");
}

TEST(TIFFJPEGDecoder, TruncatedStripsWarnInTheLogAndKeepTheirRows) {
    TScratchFolder folder;
    const TTiffStrips tiff = ReadTiffStrips(MakeTiff(folder, "j.tif", "jpeg"));
    TImageProperties p = PropertiesOf(tiff);
    const std::string savedLog = LogFileName;
    LogFileName = folder.Path("log.txt");
    TTIFFJPEGDecoder decoder(p);
    decoder.StartDecoding();
    const Bytes packed = AsBytes(tiff.strips[0].substr(0, tiff.strips[0].size() / 2));
    Bytes out(16 * 45 * 3, 0xEE);
    const uint8_t* source = packed.data();
    uint8_t* target = out.data();
    EXPECT_EQ(MessageOf([&] { decoder.Decode(source, target, int64_t(out.size()), int64_t(packed.size())); }),
              "(no exception)");
    decoder.FinishDecoding();
    LogFileName = savedLog;
    EXPECT_TRUE(Contains(ReadFile(folder.Path("log.txt")), "JPEG decompression error. Unexpected end of input."));
    EXPECT_NE(out[0], 0xEE);  // the rows before the cut are there

    // Garbage in place of the strip is the library's fatal error.
    TTIFFJPEGDecoder damaged(p);
    damaged.StartDecoding();
    const Bytes garbage(300, 0x55);
    source = garbage.data();
    target = out.data();
    EXPECT_TRUE(Contains(MessageOf([&] { damaged.Decode(source, target, int64_t(out.size()), 300); }), "JPEG error #"));
}

}  // namespace
