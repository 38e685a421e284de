#include <gtest/gtest.h>

#include <cstring>

#include "PictureFixtures.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVBmp.h"
#include "platform/PictureLimits.h"

namespace {

void Put16(std::string& s, uint32_t v) { s += {char(v), char(v >> 8)}; }
void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// A BMP file with a 40-byte information header; colours as blue, green, red.
std::string Bmp(int32_t width, int32_t height, int bits, uint32_t compression, const std::string& colorsAndMasks,
                const std::string& pixels, uint32_t colorsUsed = 0) {
    std::string info;
    Put32(info, 40), Put32(info, uint32_t(width)), Put32(info, uint32_t(height)), Put16(info, 1), Put16(info, uint32_t(bits));
    Put32(info, compression), Put32(info, uint32_t(pixels.size())), Put32(info, 2835), Put32(info, 2835);
    Put32(info, colorsUsed), Put32(info, 0);
    std::string file = "BM";
    const uint32_t offset = uint32_t(14 + info.size() + colorsAndMasks.size());
    Put32(file, uint32_t(offset + pixels.size())), Put32(file, 0), Put32(file, offset);
    return file + info + colorsAndMasks + pixels;
}

std::string Gray4() {  // four palette entries: black, dark, light, white
    std::string p;
    for (int v : {0, 85, 170, 255}) p += {char(v), char(v), char(v), 0};
    return p;
}

struct TLoaded {
    bool ok;
    TRgbImage pixels;
    bool alpha;
};

TLoaded LoadBytes(const std::string& bytes) {
    TKestovaIO io;
    io.LoadFromBuffer(bytes.data(), int64_t(bytes.size()), kvftBMP);
    TKVBitmap& b = io.WorkBitmap();
    return {!io.AbortFlag, PixelsOf(b), b.GetHasAlphaChannel()};
}

}  // namespace

// Files written by ImageMagick and netpbm in every coding read as ImageMagick reads them.
TEST(KVBmp, ReadsWhatTheIndependentToolsWrite) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(13, 7));
    const std::string in = Quoted(folder.Path("p.ppm"));
    struct Case {
        const char* name;
        std::string command;
    };
    const Case cases[] = {
        {"os2.bmp", "ppmtobmp -os2 -bpp 24 " + in},
        {"os2-8.bmp", "pnmquant 200 " + in + " | ppmtobmp -os2 -bpp 8"},
        {"win1.bmp", "ppmtopgm " + in + " | pgmtopbm | ppmtobmp -windows -bpp 1"},
        {"win4.bmp", "pnmquant 16 " + in + " | ppmtobmp -windows -bpp 4"},
        {"win8.bmp", "pnmquant 100 " + in + " | ppmtobmp -windows -bpp 8"},
        {"win24.bmp", "ppmtobmp -windows -bpp 24 " + in},
    };
    for (const Case& c : cases) {
        const std::string path = MakeFixture(folder.Path(c.name), c.command + " > " + Quoted(folder.Path(c.name)));
        TKestovaIO io;
        ASSERT_TRUE(LoadsInto(io, path)) << c.name;
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ReadWithImageMagick(path))) << c.name;
        EXPECT_EQ(io.Params().FileType, kvftBMP);
    }
    // Run-length coded, bottom-up and top-down, 8 and 4 bits.
    for (const char* args : {"-colors 200 -compress RLE BMP3:", "-colors 12 -type Palette -compress RLE BMP3:",
                             "-colors 200 -compress RLE -flip BMP3:", "-define bmp:format=bmp4 BMP:", "-alpha on -channel A -evaluate set 50% BMP:"}) {
        const std::string path = folder.Path("im.bmp");
        MakeFixture(path, "convert " + in + " " + args + Quoted(path));
        TKestovaIO io;
        ASSERT_TRUE(LoadsInto(io, path)) << args;
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ReadWithImageMagick(path))) << args;
    }
}

TEST(KVBmp, BitFieldsTopDownAndAlpha) {
    // 16 bits 5-6-5 from the masks: full green and a red of 16 out of 31.
    std::string masks;
    Put32(masks, 0xF800), Put32(masks, 0x07E0), Put32(masks, 0x001F);
    TLoaded loaded = LoadBytes(Bmp(2, 1, 16, 3, masks, std::string("\xE0\x07\x00\x80", 4)));
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels, (std::vector<uint8_t>{0, 252, 0, 128, 0, 0}));

    // Without bit fields 16 bits are 5-5-5.
    loaded = LoadBytes(Bmp(1, 1, 16, 0, "", std::string("\xE0\x03\x00\x00", 4)));
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels, (std::vector<uint8_t>{0, 248, 0}));

    // A negative height stores the top row first.
    loaded = LoadBytes(Bmp(1, -2, 24, 0, "", std::string("\x01\x02\x03\x00\x04\x05\x06\x00", 8)));
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));

    // 32 bits: the fourth byte is alpha unless it is all 0 or all 255.
    for (const auto& [fourth, alpha] : {std::pair{std::string("\x00\x00", 2), false}, std::pair{std::string("\xFF\xFF"), false},
                                        std::pair{std::string("\x80\xFF"), true}}) {
        std::string pixels;
        for (char a : fourth) pixels += {'\x10', '\x20', '\x30', a};
        loaded = LoadBytes(Bmp(2, 1, 32, 0, "", pixels));
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.alpha, alpha);
        EXPECT_EQ(loaded.pixels.pixels[0], 0x30);
    }
}

TEST(KVBmp, RunLengthDeltasStayInsideThePicture) {
    // Delta to the row's end, then end of line, then one pixel on the second row.
    TLoaded loaded = LoadBytes(Bmp(2, 2, 8, 1, Gray4(), std::string("\x01\x03\x00\x02\x01\x00\x00\x00\x01\x02\x00\x01", 12), 4));
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels, (std::vector<uint8_t>{170, 170, 170, 0, 0, 0, 255, 255, 255, 0, 0, 0}));
    // A delta past the last row ends the picture; a run past the row's end is cut.
    loaded = LoadBytes(Bmp(2, 2, 8, 1, Gray4(), std::string("\x05\x03\x00\x02\x00\x09\x00\x01", 8), 4));
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixels.pixels[6], 255);
}

// Every damaged or hostile file sets the abort flag and leaves no picture.
TEST(KVBmp, RefusesDamagedFiles) {
    TPictureLimits limits;
    limits.maxSide = 5000;
    TPictureLimitsOverride lower(limits);
    const std::string good = Bmp(3, 2, 24, 0, "", std::string(24, '\x40'));
    std::string badHeader = good;
    badHeader[14] = 8;
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"signature", "XY" + good.substr(2)},
        {"rows cut short", good.substr(0, good.size() - 5)},
        {"header cut short", good.substr(0, 20)},
        {"header size below 16", badHeader},
        {"unknown compression", Bmp(3, 2, 24, 7, "", std::string(24, 0))},
        {"bit count 7", Bmp(3, 2, 7, 0, "", std::string(24, 0))},
        {"RLE8 with 24 bits", Bmp(3, 2, 24, 1, "", std::string(24, 0))},
        {"wider than the limits", Bmp(6000, 1, 24, 0, "", std::string(18000, 0))},
        {"RLE claiming millions of pixels", Bmp(4000, 4000, 8, 1, Gray4(), std::string("\x00\x01", 2), 4)},
        {"RLE without its end", Bmp(4, 4, 8, 1, Gray4(), std::string("\x04\x01\x00\x00", 4), 4)},
        {"empty picture", Bmp(0, 5, 24, 0, "", "")},
        {"pixel offset past the end", [] {
             std::string s = Bmp(1, 1, 24, 0, "", std::string(4, 0));
             s[10] = '\x7F';
             return s;
         }()},
    };
    for (const auto& c : cases) {
        TKestovaIO io;
        io.WorkBitmap().Allocate(4, 4, kv24RGB);
        io.LoadFromBuffer(c.bytes.data(), int64_t(c.bytes.size()), kvftBMP);
        EXPECT_TRUE(io.AbortFlag) << c.what;
        EXPECT_TRUE(io.WorkBitmap().IsEmpty()) << c.what;
    }
}

// Written files read back the same by us and by ImageMagick.
TEST(KVBmp, WritesEveryCodingReadableByOthers) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(11, 6));
    MakeFixture(folder.Path("few.ppm"), "pnmquant 9 " + Quoted(folder.Path("p.ppm")) + " > " + Quoted(folder.Path("few.ppm")));
    const struct {
        int bitsPerSample, samplesPerPixel, version, compression;
        bool exact;  // few colours are kept exactly
    } cases[] = {
        {8, 3, 1, 0, true},  {8, 3, 2, 0, true},  {8, 3, 3, 0, true}, {8, 1, 1, 0, true},
        {8, 1, 1, 1, true},  {4, 1, 1, 0, false}, {4, 1, 1, 1, false}, {1, 1, 1, 0, false},
    };
    for (const auto& c : cases) {
        TKestovaIO io;
        ASSERT_TRUE(LoadsInto(io, folder.Path("few.ppm")));
        io.Params().BitsPerSample = c.bitsPerSample;
        io.Params().SamplesPerPixel = c.samplesPerPixel;
        io.Params().BmpVersion = uint8_t(c.version);
        io.Params().BmpCompression = uint8_t(c.compression);
        const std::string path = folder.Path("out.bmp");
        io.SaveToFile(path);
        ASSERT_FALSE(io.AbortFlag);
        const TRgbImage original = PixelsOf(io.WorkBitmap());
        TKestovaIO back;
        ASSERT_TRUE(LoadsInto(back, path)) << c.bitsPerSample << "/" << c.version << "/" << c.compression;
        const TRgbImage ours = PixelsOf(back.WorkBitmap());
        EXPECT_TRUE(SamePixels(ours, ReadWithImageMagick(path))) << c.bitsPerSample << "/" << c.version << "/" << c.compression;
        if (c.exact) {
            EXPECT_TRUE(SamePixels(ours, original)) << c.bitsPerSample << "/" << c.version;
        }
        EXPECT_EQ(back.Params().BmpCompression, c.compression);
    }
}

TEST(KVBmp, WrittenHeaderFields) {
    TKestovaIO io;
    TKVBitmap& b = io.WorkBitmap();
    b.Allocate(5, 3, kv24RGB);
    b.Fill(0x123456);
    io.Params().SetDpiX(300);
    io.Params().SetDpiY(300);
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftBMP);
    ASSERT_FALSE(io.AbortFlag);
    const std::vector<uint8_t>& bytes = stream.Bytes();
    auto u32 = [&](size_t at) { return uint32_t(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24); };
    EXPECT_EQ(u32(2), bytes.size());
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(34), 16u * 3);  // row bytes x height
    EXPECT_EQ(u32(38), 11811u);   // 300 dpi in pixels per metre
    stream.SetPosition(0);
    TKestovaIO back;
    back.LoadFromStream(stream);
    ASSERT_FALSE(back.AbortFlag);
    EXPECT_EQ(back.Params().DpiX(), 300);

    // An RGB picture written with 8 bits and run-length coding: 256 palette entries and the
    // end-of-bitmap pair last.
    io.Params().SamplesPerPixel = 1;
    io.Params().BmpCompression = 1;
    TMemoryStream coded;
    io.SaveToStreamFormat(coded, kvftBMP);
    const std::vector<uint8_t>& c = coded.Bytes();
    EXPECT_EQ(c[30], 1);                           // RLE8
    EXPECT_EQ(c[46] | c[47] << 8, 256);            // colours used
    EXPECT_EQ(c[c.size() - 2], 0);
    EXPECT_EQ(c[c.size() - 1], 1);
}

TEST(KVBmp, RowCoding) {
    const uint8_t literal[] = {1, 2, 3};
    EXPECT_EQ(EncodeRLE8Row(literal, 3), (std::vector<uint8_t>{0, 3, 1, 2, 3, 0, 0, 0}));
    const uint8_t mixed[] = {7, 7, 7, 1, 2};
    EXPECT_EQ(EncodeRLE8Row(mixed, 5), (std::vector<uint8_t>{3, 7, 1, 1, 1, 2, 0, 0}));
    EXPECT_EQ(EncodeRLE4Row(mixed, 5), (std::vector<uint8_t>{3, 0x77, 2, 0x12, 0, 0}));
    std::vector<uint8_t> runs(600, 5);
    EXPECT_EQ(EncodeRLE8Row(runs.data(), 600), (std::vector<uint8_t>{255, 5, 255, 5, 90, 5, 0, 0}));
}

TEST(KVBmp, OneBitPalettes) {
    // White-then-black with the bits inverted reads as black-then-white.
    std::string blackWhite, whiteBlack;
    Put32(blackWhite, 0), Put32(blackWhite, 0xFFFFFF);
    Put32(whiteBlack, 0xFFFFFF), Put32(whiteBlack, 0);
    const TLoaded plain = LoadBytes(Bmp(3, 1, 1, 0, blackWhite, std::string("\xA0\0\0\0", 4), 2));
    const TLoaded inverted = LoadBytes(Bmp(3, 1, 1, 0, whiteBlack, std::string("\x5F\0\0\0", 4), 2));
    ASSERT_TRUE(plain.ok && inverted.ok);
    EXPECT_EQ(plain.pixels.pixels, (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 255, 255, 255}));
    EXPECT_EQ(inverted.pixels.pixels, plain.pixels.pixels);

    // A picture of two colours written with one bit keeps both colours.
    TKestovaIO io;
    io.WorkBitmap().Allocate(4, 2, kv24RGB);
    io.WorkBitmap().Fill(0x0000C0);
    io.WorkBitmap().FillRect(0, 0, 1, 1, 0x40FF00);
    io.Params().BitsPerSample = 1;
    io.Params().SamplesPerPixel = 1;
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftBMP);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(stream.Bytes()[28], 1);
    EXPECT_EQ(io.Params().ColorMapCount(), 2);
    TScratchFolder folder;
    WriteFile(folder.Path("two.bmp"), StreamBytesOf(stream));
    EXPECT_TRUE(SamePixels(ReadWithImageMagick(folder.Path("two.bmp")), PixelsOf(io.WorkBitmap())));
    TKestovaIO back;
    ASSERT_TRUE(LoadsInto(back, folder.Path("two.bmp")));
    EXPECT_TRUE(SamePixels(PixelsOf(back.WorkBitmap()), PixelsOf(io.WorkBitmap())));
}

// A 1-bit file whose two colours are not black and white keeps its colours, as other readers show them.
TEST(KVBmp, OneBitPictureOfTwoColours) {
    TScratchFolder folder;
    const std::string path = folder.Path("two.bmp");
    MakeFixture(path, "convert -size 5x2 xc:'#00C000' -fill '#FF4000' -draw 'point 0,0' -draw 'point 3,1' -type Palette BMP3:" +
                          Quoted(path));
    ASSERT_EQ(ReadFile(path)[28], 1) << "ImageMagick wrote more than one bit per pixel";
    TKestovaIO io;
    ASSERT_TRUE(LoadsInto(io, path));
    EXPECT_EQ(io.Params().BitsPerSample, 1);
    EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ReadWithImageMagick(path)));
    EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ParsePpm(RunTool("bmptopnm " + Quoted(path), false).output)));
}
