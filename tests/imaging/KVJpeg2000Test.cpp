#include <gtest/gtest.h>

#include <algorithm>

#include "DriverTestSupport.h"
#include "PictureFixtures.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KVJpeg2000.h"

namespace {

// What opj_dump says of the main header: one "name=value" text per line.
std::string DumpOf(const std::string& path) { return RunTool("opj_dump -i " + Quoted(path), false).output; }

// opj_decompress's reading, through netpbm to eight bits.
TRgbImage DecodedByOpenJpeg(const std::string& path, const std::string& folder) {
    const std::string out = folder + "/decoded.pnm";
    RunTool("opj_decompress -i " + Quoted(path) + " -o " + Quoted(out), false);
    return ParsePpm(RunTool("pnmdepth 255 " + Quoted(out) + " | ppmtoppm", false).output);
}

}  // namespace

TEST(KVJpeg2000, ReadsWhatOpenJpegWrites) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(37, 21));
    const std::string in = Quoted(folder.Path("p.ppm"));
    RunTool("ppmtopgm " + in + " > " + Quoted(folder.Path("p.pgm")));
    const struct {
        const char* source;
        const char* name;
        const char* options;
        int type, samples;
    } cases[] = {{"p.ppm", "a.jp2", " -n 3", kvftJP2, 3},         {"p.ppm", "a.j2k", " -n 3", kvftJ2K, 3},
                 {"p.pgm", "g.jp2", " -n 4", kvftJP2, 1},         {"p.ppm", "r.jp2", " -p RLCP -n 3", kvftJP2, 3},
                 {"p.pgm", "g.j2c", " -n 2", kvftJ2K, 1}};
    for (const auto& c : cases) {
        const std::string path = folder.Path(c.name);
        MakeFixture(path, std::string("opj_compress -i ") + Quoted(folder.Path(c.source)) + " -o " + Quoted(path) + c.options);
        TKestovaIO io;
        ASSERT_TRUE(LoadsInto(io, path)) << c.name;
        EXPECT_EQ(DetectFileFormat(path, true), c.type) << c.name;
        EXPECT_EQ(io.Params().SamplesPerPixel, c.samples);
        EXPECT_EQ(io.Params().BitsPerSample, 8);
        // Lossless coding gives back the source exactly.
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ReadWithImageMagick(folder.Path(c.source)))) << c.name;
        TKestovaIO params;
        params.ParamsFromFile(path);
        EXPECT_EQ(params.Params().FileType, c.type);
        EXPECT_EQ(params.Params().Width, 37);
    }
}

TEST(KVJpeg2000, DeepSamplesKeepTheirTopEightBits) {
    TScratchFolder folder;
    // A 12-bit grey ramp: each value is shifted right by 4.
    std::string pgm = "P5\n4 1\n4095\n";
    for (int v : {0x000, 0x0F0, 0x7FF, 0xFFF}) pgm += {char(v >> 8), char(v & 255)};
    WriteFile(folder.Path("d.pgm"), pgm);
    const std::string path = MakeFixture(folder.Path("d.jp2"), "opj_compress -n 1 -i " + Quoted(folder.Path("d.pgm")) +
                                                                   " -o " + Quoted(folder.Path("d.jp2")));
    TKestovaIO io;
    ASSERT_TRUE(LoadsInto(io, path));
    EXPECT_EQ(io.Params().BitsPerSample, 12);
    EXPECT_EQ(io.WorkBitmap().GetPixelFormat(), kv24RGB);
    const TRgbImage loaded = PixelsOf(io.WorkBitmap());
    EXPECT_EQ(loaded.At(1, 0)[0], 0x0F);
    EXPECT_EQ(loaded.At(2, 0)[1], 0x7F);
    EXPECT_EQ(loaded.At(3, 0)[2], 0xFF);
}

TEST(KVJpeg2000, SignedSamplesAreMovedUpToUnsigned) {
    TScratchFolder folder;
    WriteFile(folder.Path("s.raw"), std::string("\x80\xFF\x00\x7F", 4));
    const std::string path = MakeFixture(folder.Path("s.j2k"), "opj_compress -n 1 -F 4,1,1,8,s -i " +
                                                                   Quoted(folder.Path("s.raw")) + " -o " + Quoted(folder.Path("s.j2k")));
    ASSERT_TRUE(Contains(DumpOf(path), "sgnd=1"));
    TKestovaIO io;
    ASSERT_TRUE(LoadsInto(io, path));
    EXPECT_EQ(PixelsOf(io.WorkBitmap()).pixels, std::vector<uint8_t>({0, 0, 0, 127, 127, 127, 128, 128, 128, 255, 255, 255}));
}

// Samples of fewer than eight bits are stretched, so the largest value is white, as netpbm
// scales opj_decompress's output.
TEST(KVJpeg2000, ShallowSamplesStretchToTheFullRange) {
    TScratchFolder folder;
    const struct {
        int bits, components;
        std::string planes;
        std::vector<uint8_t> grey;  // expected for one component
    } cases[] = {{2, 1, std::string("\x00\x01\x02\x03", 4), {0, 85, 170, 255}},
                 {4, 1, std::string("\x00\x05\x0A\x0F", 4), {0, 85, 170, 255}},
                 {7, 1, std::string("\x00\x2A\x40\x7F", 4), {0, 84, 129, 255}},
                 {4, 3, std::string("\x0F\x00\x07\x03" "\x00\x0F\x08\x0C" "\x01\x0E\x0F\x00", 12), {}}};
    for (const auto& c : cases) {
        const std::string raw = folder.Path("s.raw"), path = folder.Path("s.j2k");
        WriteFile(raw, c.planes);
        MakeFixture(path, "opj_compress -n 1 -F 4,1," + std::to_string(c.components) + "," + std::to_string(c.bits) +
                              ",u -i " + Quoted(raw) + " -o " + Quoted(path));
        ASSERT_TRUE(Contains(DumpOf(path), "prec=" + std::to_string(c.bits))) << c.bits;
        TKestovaIO io;
        ASSERT_TRUE(LoadsInto(io, path)) << c.bits;
        EXPECT_EQ(io.Params().BitsPerSample, c.bits);
        const TRgbImage loaded = PixelsOf(io.WorkBitmap());
        EXPECT_TRUE(SamePixels(loaded, DecodedByOpenJpeg(path, folder.Path("")))) << c.bits << " bits, " << c.components;
        for (size_t x = 0; x < c.grey.size(); ++x) EXPECT_EQ(loaded.At(int(x), 0)[1], c.grey[x]) << c.bits << " bits, x " << x;
    }
}

// A lossy irreversible coding of hard 0/255 edges overshoots both ends; the decoded samples are
// clamped as opj_decompress clamps them, unsigned and signed.
TEST(KVJpeg2000, LossyOvershootIsClampedAsOpenJpegDoes) {
    TScratchFolder folder;
    const int side = 48;
    std::string pgm = "P5\n48 48\n255\n", signedRaw;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const bool light = (x / 6 + y / 5) % 2 || x == y;
            pgm += char(light ? 255 : 0);
            signedRaw += char(light ? 127 : -128);
        }
    WriteFile(folder.Path("e.pgm"), pgm);
    WriteFile(folder.Path("e.raw"), signedRaw);
    const struct {
        const char* name;
        std::string options;
    } cases[] = {{"u.j2k", "-I -r 40 -i " + Quoted(folder.Path("e.pgm"))},
                 {"s.j2k", "-I -r 20 -F 48,48,1,8,s -i " + Quoted(folder.Path("e.raw"))}};
    for (const auto& c : cases) {
        const std::string path = MakeFixture(folder.Path(c.name), "opj_compress " + c.options + " -o " + Quoted(folder.Path(c.name)));
        TKestovaIO io;
        ASSERT_TRUE(LoadsInto(io, path)) << c.name;
        const TRgbImage expected = DecodedByOpenJpeg(path, folder.Path(""));
        const TRgbImage loaded = PixelsOf(io.WorkBitmap());
        EXPECT_LE(MaxDifference(loaded, expected), 1) << c.name;
        // The coding is lossy enough to overshoot, so the clamping is what is compared.
        EXPECT_GT(std::count(expected.pixels.begin(), expected.pixels.end(), 0), 0) << c.name;
        EXPECT_GT(std::count(expected.pixels.begin(), expected.pixels.end(), 255), 0) << c.name;
        EXPECT_GT(MeanDifference(loaded, ParsePpm(RunTool("pgmtoppm white " + Quoted(folder.Path("e.pgm")), false).output)), 1) << c.name;
    }
}

TEST(KVJpeg2000, WritesFilesAndCodeStreamsOpenJpegReads) {
    TScratchFolder folder;
    const struct {
        const char* name;
        int colorSpace, bits;
        double rate;
        int order;
        const char* progression;
    } cases[] = {{"a.jp2", 1, 8, 1.0, 0, "prg=0"}, {"b.j2k", 2, 8, 0, 1, "prg=0x1"},
                 {"g.jp2", 0, 8, 1.0, 0, "prg=0"}, {"h.jp2", 0, 12, 1.0, 1, "prg=0x1"}};
    for (const auto& c : cases) {
        TKestovaIO io;
        ImageToBitmap(PatternImage(40, 30), io.WorkBitmap());
        io.Params().J2KColorSpace = uint8_t(c.colorSpace);
        io.Params().BitsPerSample = c.bits;
        io.Params().J2KRate = c.rate;
        io.Params().J2KProgressionOrder = uint8_t(c.order);
        const std::string path = folder.Path(c.name);
        io.SaveToFile(path);
        ASSERT_FALSE(io.AbortFlag) << c.name;
        const std::string dump = DumpOf(path);
        EXPECT_TRUE(Contains(dump, c.progression)) << c.name << dump;
        EXPECT_TRUE(Contains(dump, "numlayers=1")) << c.name;
        EXPECT_TRUE(Contains(dump, "prec=" + std::to_string(c.bits))) << c.name;
        EXPECT_TRUE(Contains(dump, c.colorSpace ? "mct=1" : "mct=0")) << c.name;
        TKestovaIO back;
        ASSERT_TRUE(LoadsInto(back, path)) << c.name;
        EXPECT_TRUE(SamePixels(PixelsOf(back.WorkBitmap()), DecodedByOpenJpeg(path, folder.Path("")))) << c.name;
        if (c.colorSpace) {
            EXPECT_TRUE(SamePixels(PixelsOf(back.WorkBitmap()), PixelsOf(io.WorkBitmap()))) << c.name;
        }
    }
}

TEST(KVJpeg2000, RateKeepsAFractionOfTheRawSize) {
    TKestovaIO io;
    ImageToBitmap(PatternImage(128, 96), io.WorkBitmap());
    io.Params().J2KRate = 0.1;
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftJ2K);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_LT(stream.Size(), 128 * 96 * 3 / 10 + 200);
    TKestovaIO back;
    stream.SetPosition(0);
    back.LoadFromStreamFormat(stream, kvftJ2K);
    ASSERT_FALSE(back.AbortFlag);
    EXPECT_LT(MeanDifference(PixelsOf(back.WorkBitmap()), PixelsOf(io.WorkBitmap())), 12);
}

TEST(KVJpeg2000, OneBitPicturesAndBadInput) {
    TKestovaIO io;
    TKVBitmap& b = io.WorkBitmap();
    b.Allocate(9, 9, kv1Bit);
    b.FillRect(2, 2, 5, 6, 0xFFFFFF);
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftJP2);
    ASSERT_FALSE(io.AbortFlag);
    TKestovaIO back;
    stream.SetPosition(0);
    back.LoadFromStreamFormat(stream, kvftJP2);
    ASSERT_FALSE(back.AbortFlag);
    EXPECT_EQ(back.WorkBitmap().GetPixelFormat(), kv1Bit);
    EXPECT_TRUE(SamePixels(PixelsOf(back.WorkBitmap()), PixelsOf(b)));
    // Damaged streams and colour spaces the writer has no layout for.
    std::string bytes = StreamBytesOf(stream);
    for (const std::string& bad : {bytes.substr(0, bytes.size() / 2), bytes.substr(0, 40), std::string("\xFF\x4F\xFF\x51", 4),
                                   std::string("not jpeg 2000")}) {
        TKestovaIO damaged;
        damaged.LoadFromBuffer(bad.data(), int64_t(bad.size()), kvftJP2);
        EXPECT_TRUE(damaged.AbortFlag) << bad.size();
    }
    ImageToBitmap(PatternImage(4, 4), io.WorkBitmap());
    io.Params().J2KColorSpace = 3;
    TMemoryStream refused;
    io.SaveToStreamFormat(refused, kvftJP2);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(refused.Size(), 0);
}
