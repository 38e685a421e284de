#include <gtest/gtest.h>

#include <cstring>

#include "DriverTestSupport.h"
#include "PictureFixtures.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KVTga.h"

using namespace std::string_literals;

namespace {

// An 18-byte Targa header; the ID, map and pixels follow.
std::string TgaHeader(int type, int width, int height, int depth, int descriptor, int mapLength = 0, int mapBits = 0) {
    std::string h(18, '\0');
    h[1] = char(mapLength ? 1 : 0);
    h[2] = char(type);
    h[5] = char(mapLength);
    h[6] = char(mapLength >> 8);
    h[7] = char(mapBits);
    h[12] = char(width);
    h[14] = char(height);
    h[16] = char(depth);
    h[17] = char(descriptor);
    return h;
}

struct TTgaLoad {
    bool ok;
    TRgbImage pixels;
    bool hasAlpha;
    uint8_t alpha00;
};

TTgaLoad LoadTga(const std::string& bytes) {
    TKestovaIO io;
    io.LoadFromBuffer(bytes.data(), int64_t(bytes.size()), kvftTGA);
    TKVBitmap& b = io.WorkBitmap();
    const bool alpha = !io.AbortFlag && b.GetHasAlphaChannel();
    return {!io.AbortFlag, PixelsOf(b), alpha, alpha ? b.GetAlpha(0, 0) : uint8_t(255)};
}

std::string Bgr(int r, int g, int b) { return {char(b), char(g), char(r)}; }

// ImageMagick prints the picture's ID as a comment, which is stripped first.
TRgbImage ImageMagickPixels(const std::string& path) {
    return ParsePpm(RunTool("convert " + Quoted(path) + " -strip -depth 8 ppm:-", false).output);
}

TRgbImage Rgb(int width, int height, std::initializer_list<int> values) {
    return {width, height, std::vector<uint8_t>(values.begin(), values.end())};
}

}  // namespace

TEST(KVTga, ReadsWhatNetpbmAndImageMagickWrite) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(19, 6));
    const std::string in = Quoted(folder.Path("p.ppm"));
    for (const std::string& command :
         {"ppmtotga -rgb " + in, "ppmtotga -rgb -norle " + in, "pnmquant 50 " + in + " | ppmtotga -cmap",
          "pnmquant 50 " + in + " | ppmtotga -cmap -norle", "ppmtopgm " + in + " | ppmtotga -mono",
          "convert " + in + " tga:-", "convert " + in + " -compress RLE tga:-", "convert " + in + " -colors 30 -type palette tga:-",
          "convert " + in + " -flip -define tga:image-origin=BottomLeft tga:-", "convert " + in + " -type grayscale tga:-"}) {
        const std::string path = MakeFixture(folder.Path("x.tga"), command + " > " + Quoted(folder.Path("x.tga")));
        TKestovaIO io;
        io.LoadFromFileFormat(path, kvftTGA);
        ASSERT_FALSE(io.AbortFlag) << command;
        // ImageMagick's own reading of bottom-up files is upside down, so netpbm is the reference.
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ParsePpm(RunTool("tgatoppm " + Quoted(path), false).output)))
            << command;
        EXPECT_EQ(DetectFileFormat(path, true), kvftTGA) << command;
    }
}

TEST(KVTga, WritesEveryKindForNetpbmAndImageMagick) {
    TScratchFolder folder;
    const struct {
        int bitsPerSample, samplesPerPixel;
        bool compressed, gray;
        int type, depth;
    } cases[] = {{8, 3, true, false, 10, 24},  {8, 3, false, false, 2, 24}, {8, 1, true, false, 9, 8},
                 {8, 1, false, false, 1, 8},   {4, 1, false, false, 1, 8},  {8, 1, true, true, 11, 8},
                 {8, 1, false, true, 3, 8},    {1, 1, false, false, 3, 1}};
    for (const auto& c : cases) {
        TKestovaIO io;
        ImageToBitmap(PatternImage(150, 7), io.WorkBitmap());
        io.Params().BitsPerSample = c.bitsPerSample;
        io.Params().SamplesPerPixel = c.samplesPerPixel;
        io.Params().TgaCompressed = c.compressed;
        io.Params().TgaGrayLevel = c.gray;
        const std::string path = folder.Path("out.tga");
        io.SaveToFile(path);
        ASSERT_FALSE(io.AbortFlag) << c.type;
        const std::string bytes = ReadFile(path);
        EXPECT_EQ(int(bytes[2]), c.type);
        EXPECT_EQ(int(bytes[16]), c.depth);
        // Grey pictures carry no colour map.
        EXPECT_EQ(int(bytes[1]), c.type == 1 || c.type == 9 ? 1 : 0) << c.type;
        EXPECT_EQ(bytes.substr(bytes.size() - 18), std::string("TRUEVISION-XFILE.\0", 18));
        TKestovaIO back;
        ASSERT_TRUE(LoadsInto(back, path));
        const TRgbImage ours = PixelsOf(back.WorkBitmap());
        // Neither tool reads 1-bit Targa files.
        if (c.depth != 1) {
            EXPECT_TRUE(SamePixels(ours, ImageMagickPixels(path))) << c.type;
            EXPECT_TRUE(SamePixels(ours, ParsePpm(RunTool("tgatoppm " + Quoted(path), false).output))) << c.type;
        }
        if (c.depth == 24) {
            EXPECT_TRUE(SamePixels(ours, PixelsOf(io.WorkBitmap())));
        }
    }
}

TEST(KVTga, AlphaTravelsWithThePicture) {
    TScratchFolder folder;
    const std::string path = MakeFixture(folder.Path("a.tga"), "convert -size 4x2 gradient:red-blue -alpha on -channel A "
                                                                "-evaluate set 50% " + Quoted(folder.Path("a.tga")));
    TKestovaIO io;
    ASSERT_TRUE(LoadsInto(io, path));
    ASSERT_TRUE(io.WorkBitmap().GetHasAlphaChannel());
    EXPECT_EQ(io.WorkBitmap().GetAlpha(3, 1), 128);
    io.SaveToFile(folder.Path("b.tga"));
    const std::string written = ReadFile(folder.Path("b.tga"));
    EXPECT_EQ(int(written[16]), 32);
    EXPECT_EQ(int(written[17]), 0x28);
    EXPECT_EQ(RunTool("convert " + Quoted(folder.Path("b.tga")) + " -format '%[fx:minima.a*255]' info:", false).output, "128");
    // Alpha bytes all 255 give no alpha channel.
    std::string opaque = TgaHeader(2, 1, 1, 32, 8) + Bgr(1, 2, 3) + "\xFF";
    EXPECT_FALSE(LoadTga(opaque).hasAlpha);
    opaque.back() = '\x40';
    EXPECT_EQ(LoadTga(opaque).alpha00, 0x40);
}

TEST(KVTga, RowsRunsMapsAndOrientation) {
    // A run of 4 pixels starting one before the end of the first row fills the next row's first 3.
    TTgaLoad loaded = LoadTga(TgaHeader(10, 3, 2, 24, 0x20) + "\x01" + Bgr(1, 1, 1) + Bgr(2, 2, 2) + "\x83" + Bgr(9, 9, 9));
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels, Rgb(3, 2, {1, 1, 1, 2, 2, 2, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}).pixels);
    // Bottom-up: the first stored row is the last; right-to-left flips the columns only.
    const std::string rows = Bgr(1, 0, 0) + Bgr(2, 0, 0) + Bgr(3, 0, 0) + Bgr(4, 0, 0);
    EXPECT_EQ(LoadTga(TgaHeader(2, 2, 2, 24, 0) + rows).pixels.pixels, Rgb(2, 2, {3, 0, 0, 4, 0, 0, 1, 0, 0, 2, 0, 0}).pixels);
    EXPECT_EQ(LoadTga(TgaHeader(2, 2, 2, 24, 0x30) + rows).pixels.pixels, Rgb(2, 2, {2, 0, 0, 1, 0, 0, 4, 0, 0, 3, 0, 0}).pixels);
    // A colour-mapped picture without a map takes the 3-3-2 default map.
    EXPECT_EQ(LoadTga(TgaHeader(1, 2, 1, 8, 0x20) + std::string("\x00\xFF", 2)).pixels.pixels, Rgb(2, 1, {28, 28, 60, 252, 252, 252}).pixels);
    // 16-bit pixels scale each 5-bit component by 8.
    EXPECT_EQ(LoadTga(TgaHeader(2, 1, 1, 16, 0x20) + "\x1F\x7C").pixels.pixels, Rgb(1, 1, {248, 0, 248}).pixels);
    // A map that runs past entry 255 keeps the entries that fit.
    std::string mapped = TgaHeader(1, 1, 1, 8, 0x20, 2, 24);
    mapped[3] = char(255);
    EXPECT_EQ(LoadTga(mapped + Bgr(7, 8, 9) + Bgr(1, 1, 1) + "\xFF").pixels.pixels, Rgb(1, 1, {7, 8, 9}).pixels);
    for (const std::string& bad : {TgaHeader(2, 2, 2, 24, 0) + "abc", TgaHeader(5, 1, 1, 24, 0) + "abc",
                                   TgaHeader(2, 1, 1, 12, 0) + "ab", TgaHeader(10, 2, 1, 24, 0) + "\x85", TgaHeader(1, 2, 1, 4, 0) + "a"})
        EXPECT_FALSE(LoadTga(bad).ok);
}

TEST(KVTga, ExtensionAreaAndIdRoundTrip) {
    TKestovaIO io;
    ImageToBitmap(PatternImage(3, 2), io.WorkBitmap());
    TIOParamsVals& p = io.Params();
    p.TgaDescriptor = std::string(300, 'i');
    p.TgaAuthor = "A. Author";
    p.TgaImageName = "Job";
    p.TgaDate = 45000.5;  // 2023-03-15 12:00
    p.TgaBackground = {30, 20, 10};
    p.TgaAspectRatio = 1.5;
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftTGA);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(uint8_t(StreamBytesOf(stream)[0]), 255);
    TKestovaIO back;
    stream.SetPosition(0);
    back.LoadFromStreamFormat(stream, kvftTGA);
    ASSERT_FALSE(back.AbortFlag);
    const TIOParamsVals& q = back.Params();
    EXPECT_EQ(q.TgaDescriptor, std::string(254, 'i'));
    EXPECT_EQ(q.TgaAuthor, "A. Author");
    EXPECT_EQ(q.TgaImageName, "Job");
    EXPECT_DOUBLE_EQ(q.TgaDate, 45000.5);
    EXPECT_EQ(q.TgaBackground, (TKVRGB{30, 20, 10}));
    EXPECT_DOUBLE_EQ(q.TgaAspectRatio, 1.5);
    EXPECT_DOUBLE_EQ(q.TgaGamma, 2.2);
    // Without a footer: gamma 2.2, ratio 1; written back as 22000 / 10000.
    TKestovaIO plain;
    const std::string bare = TgaHeader(2, 1, 1, 24, 0) + Bgr(1, 2, 3);
    plain.LoadFromBuffer(bare.data(), int64_t(bare.size()), kvftTGA);
    ASSERT_FALSE(plain.AbortFlag);
    EXPECT_DOUBLE_EQ(plain.Params().TgaGamma, 2.2);
    EXPECT_DOUBLE_EQ(plain.Params().TgaAspectRatio, 1.0);
    TMemoryStream again;
    plain.SaveToStreamFormat(again, kvftTGA);
    const std::string bytes = StreamBytesOf(again);
    const std::string extension = bytes.substr(bytes.size() - 26 - 495);
    EXPECT_EQ(extension.substr(478, 4), std::string("\xF0\x55\x10\x27", 4));
}

// Rows of equal pixels at the run limit of 128: the packets written and netpbm's decoding of them.
TEST(KVTga, RunsAtTheirLimit) {
    TScratchFolder folder;
    const std::string pixel = "\x40\xC5\x07"s;  // blue, green, red
    const struct {
        int width;
        std::string packets;
    } cases[] = {{128, "\xFF"s + pixel},
                 {129, "\xFF"s + pixel + '\0' + pixel},
                 {200, "\xFF"s + pixel + "\xC7"s + pixel}};
    for (const auto& c : cases) {
        TKestovaIO io;
        io.WorkBitmap().Allocate(c.width, 2, kv24RGB);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < c.width; ++x) std::memcpy(io.WorkBitmap().GetScanline(y) + 3 * x, y ? "\x01\x02\x03" : pixel.data(), 3);
        io.Params().BitsPerSample = 8;
        io.Params().SamplesPerPixel = 3;
        io.Params().TgaCompressed = true;
        const std::string path = folder.Path("runs.tga");
        io.SaveToFile(path);
        ASSERT_FALSE(io.AbortFlag) << c.width;
        EXPECT_TRUE(Contains(ReadFile(path), c.packets)) << c.width;
        EXPECT_TRUE(SamePixels(ParsePpm(RunTool("tgatoppm " + Quoted(path), false).output), PixelsOf(io.WorkBitmap())))
            << c.width;
    }
}
