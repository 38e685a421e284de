#include <gtest/gtest.h>

#include "PictureFixtures.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVPxm.h"
#include "imaging/io/KVWbmp.h"
#include "platform/PictureLimits.h"

namespace {

struct TLoaded {
    bool ok;
    TRgbImage pixels;
    int bitsPerSample;
};

TLoaded Load(const std::string& bytes, int type, bool native = false) {
    TKestovaIO io;
    io.Params().IsNativePixelFormat = native;
    io.LoadFromBuffer(bytes.data(), int64_t(bytes.size()), type);
    return {!io.AbortFlag, PixelsOf(io.WorkBitmap()), io.Params().BitsPerSample};
}

std::vector<uint8_t> Gray(std::initializer_list<int> values) {
    std::vector<uint8_t> rgb;
    for (int v : values) rgb.insert(rgb.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
    return rgb;
}

}  // namespace

TEST(KVPxm, ReadsEveryKindAsNetpbmWritesIt) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(17, 9));
    const std::string in = Quoted(folder.Path("p.ppm"));
    for (const std::string& command : {"pnmtoplainpnm " + in, "ppmtopgm " + in, "ppmtopgm " + in + " | pnmtoplainpnm",
                                      "ppmtopgm " + in + " | pgmtopbm", "ppmtopgm " + in + " | pgmtopbm | pnmtoplainpnm",
                                      "pnmdepth 15 " + in, "pnmdepth 1000 " + in, "ppmtopgm " + in + " | pnmdepth 700"}) {
        const std::string path = MakeFixture(folder.Path("x.pnm"), command + " > " + Quoted(folder.Path("x.pnm")));
        TKestovaIO io;
        io.LoadFromFileFormat(path, kvftPXM);
        ASSERT_FALSE(io.AbortFlag) << command;
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ReadWithImageMagick(path))) << command;
    }
}

TEST(KVPxm, SamplesScaleFromTheirMaximum) {
    // Maximum 15: 15 reads as 255, 7 as 119, and 20 (above the maximum) as 255.
    TLoaded loaded = Load("P2\n3 1\n15\n15 7 20\n", kvftPXM);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels, Gray({255, 119, 255}));
    // Two-byte raw samples.
    loaded = Load(std::string("P5 2 1 1000\n\x03\xE8\x01\xF4", 16), kvftPXM);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels, Gray({255, 127}));
    // Plain bits with line breaks inside rows and comments in the header.
    loaded = Load("P1\n# made by hand\n3 2\n0 1\n0\n1 1 0\n", kvftPXM);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels, Gray({255, 0, 255, 0, 0, 255}));
    EXPECT_EQ(loaded.bitsPerSample, 1);
}

TEST(KVPxm, RefusesDamagedFiles) {
    TPictureLimits limits;
    limits.maxSide = 5000;
    TPictureLimitsOverride lower(limits);
    for (const std::string& bytes : {std::string("P5 2 2 0\n\1\2\3\4"), std::string("P5 2 2 255\n\1\2\3"), std::string("P6 2 1 70000\n"),
                                    std::string("P7 2 2 255\n"), std::string("P3 2 1 255\n1 2 3 4 5"), std::string("P1 4 1\n0 1"),
                                    std::string("P4 6000 1\n") + std::string(750, 'x'), std::string("P5 100000 100000 255\n\1"),
                                    std::string("P2 0 3 255\n"), std::string("P6 3")}) {
        TKestovaIO io;
        io.WorkBitmap().Allocate(2, 2, kv24RGB);
        io.LoadFromBuffer(bytes.data(), int64_t(bytes.size()), kvftPXM);
        EXPECT_TRUE(io.AbortFlag) << bytes.substr(0, 12);
        EXPECT_TRUE(io.WorkBitmap().IsEmpty()) << bytes.substr(0, 12);
    }
}

TEST(KVPxm, WritesWhatNetpbmAndWeReadBack) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(10, 4));
    const struct {
        int bitsPerSample, samplesPerPixel;
        const char* magic;
    } cases[] = {{8, 3, "P6"}, {8, 1, "P5"}, {1, 1, "P4"}, {16, 3, "P6"}};
    for (const auto& c : cases) {
        TKestovaIO io;
        ASSERT_TRUE(LoadsInto(io, folder.Path("p.ppm")));
        io.Params().BitsPerSample = c.bitsPerSample;
        io.Params().SamplesPerPixel = c.samplesPerPixel;
        io.Params().PxmComments.Add("first line");
        io.Params().PxmComments.Add("second line");
        const std::string path = folder.Path("out.ppm");
        io.SaveToFile(path);
        ASSERT_FALSE(io.AbortFlag) << c.magic;
        EXPECT_EQ(ReadFile(path).substr(0, 2), c.magic);
        EXPECT_EQ(RunTool("pnmfile " + Quoted(path)).status, 0);
        TKestovaIO back;
        ASSERT_TRUE(LoadsInto(back, path)) << c.magic;
        // ImageMagick copies the comments into what it prints, so they are stripped first.
        const TRgbImage reference = ParsePpm(RunTool("convert " + Quoted(path) + " -strip -depth 8 ppm:-", false).output);
        EXPECT_TRUE(SamePixels(PixelsOf(back.WorkBitmap()), reference)) << c.magic;
        if (c.samplesPerPixel == 3) {
            EXPECT_TRUE(SamePixels(PixelsOf(back.WorkBitmap()), PixelsOf(io.WorkBitmap())));
        }
        EXPECT_EQ(back.Params().PxmComments.Count(), 2);
        EXPECT_EQ(back.Params().PxmComments.Strings(1), "second line");
    }
}

TEST(KVPxm, DeepPicturesKeepAllSixteenBits) {
    TKestovaIO io;
    TKVBitmap& b = io.WorkBitmap();
    b.Allocate(2, 1, kvRGB48);
    b.SetRGB48(0, 0, TKVRGB48{0x1234, 0xABCD, 0x0001});
    b.SetRGB48(1, 0, TKVRGB48{0xFFFF, 0x0000, 0x8001});
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftPXM);
    ASSERT_FALSE(io.AbortFlag);
    TKestovaIO back;
    back.Params().IsNativePixelFormat = true;
    stream.SetPosition(0);
    back.LoadFromStream(stream);
    ASSERT_FALSE(back.AbortFlag);
    ASSERT_EQ(back.WorkBitmap().GetPixelFormat(), kvRGB48);
    EXPECT_EQ(back.WorkBitmap().GetRGB48(0, 0), (TKVRGB48{0x1234, 0xABCD, 0x0001}));
    EXPECT_EQ(back.WorkBitmap().GetRGB48(1, 0), (TKVRGB48{0xFFFF, 0x0000, 0x8001}));
    EXPECT_EQ(back.Params().BitsPerSample, 16);
}

TEST(KVWbmp, RoundTripsLargeSizesAndReadsNetpbm) {
    TScratchFolder folder;
    // 300 x 2: both sides are written as multi-byte integers, nothing is cropped.
    TKestovaIO io;
    TKVBitmap& b = io.WorkBitmap();
    b.Allocate(300, 2, kv1Bit);
    b.SetByte(37, 1, 0x55);
    const std::string path = folder.Path("wide.wbmp");
    io.SaveToFile(path);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(ReadFile(path).substr(0, 5), std::string("\0\0\x82\x2C\x02", 5));
    EXPECT_EQ(RunTool("wbmptopbm " + Quoted(path) + " | pnmfile").output.find("300 by 2") != std::string::npos, true);
    TKestovaIO back;
    ASSERT_TRUE(LoadsInto(back, path));
    EXPECT_TRUE(SamePixels(PixelsOf(back.WorkBitmap()), PixelsOf(b)));

    MakeFixture(folder.Path("n.wbmp"), "pbmmake -g 13 5 | pbmtowbmp > " + Quoted(folder.Path("n.wbmp")));
    TKestovaIO netpbm;
    ASSERT_TRUE(LoadsInto(netpbm, folder.Path("n.wbmp")));
    MakeFixture(folder.Path("n.pbm"), "wbmptopbm " + Quoted(folder.Path("n.wbmp")) + " > " + Quoted(folder.Path("n.pbm")));
    EXPECT_TRUE(SamePixels(PixelsOf(netpbm.WorkBitmap()), ReadWithImageMagick(folder.Path("n.pbm"))));

    // A colour picture is written from a black-and-white copy and stays as it was.
    TKestovaIO colour;
    colour.WorkBitmap().Allocate(3, 1, kv24RGB);
    colour.WorkBitmap().Fill(0xFFFFFF);
    TMemoryStream stream;
    colour.SaveToStreamFormat(stream, kvftWBMP);
    EXPECT_EQ(StreamBytesOf(stream), std::string("\0\0\3\1\xE0", 5));
    EXPECT_EQ(colour.WorkBitmap().GetPixelFormat(), kv24RGB);
}

TEST(KVWbmp, RefusesDamagedFiles) {
    for (const std::string& bytes : {std::string("\0\1\2\2\0\0", 6), std::string("\0\0\2\2\0", 5), std::string("\0\0\xFF\xFF\xFF\xFF\xFF\1", 8),
                                    std::string("\0\0\x90\x80\x80\x01\x01", 7), std::string("\0\0", 2)}) {
        TKestovaIO io;
        io.LoadFromBuffer(bytes.data(), int64_t(bytes.size()), kvftWBMP);
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_TRUE(io.WorkBitmap().IsEmpty());
    }
}
