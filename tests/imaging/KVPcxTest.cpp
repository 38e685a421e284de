#include <gtest/gtest.h>

#include <cstring>

#include "DriverTestSupport.h"
#include "PictureFixtures.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KVPcx.h"

using namespace std::string_literals;

namespace {

// A PCX header of the given layout; pixel data follow.
std::string PcxHeader(int width, int height, int bits, int planes, int bytesPerLine, int encoding = 1) {
    std::string h(128, '\0');
    h[0] = 10;
    h[1] = 5;
    h[2] = char(encoding);
    h[3] = char(bits);
    h[8] = char(width - 1);
    h[10] = char(height - 1);
    h[65] = char(planes);
    h[66] = char(bytesPerLine);
    return h;
}

TRgbImage LoadPcx(const std::string& bytes, int type = kvftPCX, bool* ok = nullptr) {
    TKestovaIO io;
    io.LoadFromBuffer(bytes.data(), int64_t(bytes.size()), type);
    if (ok) *ok = !io.AbortFlag;
    return PixelsOf(io.WorkBitmap());
}

std::string PcxOf(TKestovaIO& io) {
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftPCX);
    EXPECT_FALSE(io.AbortFlag);
    return StreamBytesOf(stream);
}

// A picture of one colour per page, so that pages tell themselves apart.
std::string PageOf(uint8_t gray) {
    TKestovaIO io;
    io.WorkBitmap().Allocate(3, 2, kv24RGB);
    io.WorkBitmap().Fill(gray * 0x010101);
    return PcxOf(io);
}

void PaintRow(TKVBitmap& bitmap, int y, const TKVRGB& color) {
    for (int x = 0; x < bitmap.GetWidth(); ++x) std::memcpy(bitmap.GetScanline(y) + 3 * x, &color, 3);
}

uint8_t FirstGray(TKestovaIO& io) { return io.WorkBitmap().GetPixelRGB(0, 0).r; }

}  // namespace

TEST(KVPcx, ReadsWhatNetpbmAndImageMagickWrite) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(21, 7));
    const std::string in = Quoted(folder.Path("p.ppm")), out = Quoted(folder.Path("x.pcx"));
    for (const std::string& command :
         {"ppmtopcx -24bit " + in, "ppmtopcx -8bit " + in, "pnmquant 16 " + in + " | ppmtopcx -packed",
          "pnmquant 16 " + in + " | ppmtopcx -planes 4", "ppmtopgm " + in + " | pgmtopbm | ppmtopcx",
          "convert " + in + " pcx:-", "convert " + in + " -colors 200 -type palette pcx:-",
          "convert " + in + " -monochrome pcx:-"}) {
        const std::string path = MakeFixture(folder.Path("x.pcx"), command + " > " + out);
        TKestovaIO io;
        io.LoadFromFileFormat(path, kvftPCX);
        ASSERT_FALSE(io.AbortFlag) << command;
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ParsePpm(RunTool("pcxtoppm " + Quoted(path), false).output)))
            << command;
        EXPECT_EQ(DetectFileFormat(path, true), kvftPCX) << command;
    }
}

TEST(KVPcx, WritesEveryDepthForNetpbmAndImageMagick) {
    TScratchFolder folder;
    const struct {
        int bitsPerSample, samplesPerPixel, bitsInFile, planes;
        bool compressed;
    } cases[] = {{8, 3, 8, 3, true}, {8, 3, 8, 3, false}, {8, 1, 8, 1, true}, {4, 1, 4, 1, true}, {1, 1, 1, 1, true}};
    for (const auto& c : cases) {
        TKestovaIO io;
        ImageToBitmap(PatternImage(23, 9), io.WorkBitmap());
        io.Params().BitsPerSample = c.bitsPerSample;
        io.Params().SamplesPerPixel = c.samplesPerPixel;
        io.Params().PcxCompressed = c.compressed;
        const std::string path = folder.Path("out.pcx");
        io.SaveToFile(path);
        ASSERT_FALSE(io.AbortFlag) << c.bitsPerSample;
        const std::string bytes = ReadFile(path);
        EXPECT_EQ(int(bytes[3]), c.bitsInFile);
        EXPECT_EQ(int(bytes[65]), c.planes);
        TKestovaIO back;
        ASSERT_TRUE(LoadsInto(back, path));
        const TRgbImage ours = PixelsOf(back.WorkBitmap());
        // ImageMagick reads 1-bit PCX inverted, and netpbm knows no uncompressed PCX.
        if (c.bitsPerSample != 1) {
            EXPECT_TRUE(SamePixels(ours, ReadWithImageMagick(path))) << c.bitsPerSample;
        }
        if (c.compressed) {
            EXPECT_TRUE(SamePixels(ours, ParsePpm(RunTool("pcxtoppm " + Quoted(path), false).output))) << c.bitsPerSample;
        }
        if (c.samplesPerPixel == 3) {
            EXPECT_TRUE(SamePixels(ours, PixelsOf(io.WorkBitmap())));
        }
    }
}

TEST(KVPcx, TwoColourPicturesKeepTheirColours) {
    TKestovaIO io;
    TKVBitmap& b = io.WorkBitmap();
    b.Allocate(9, 2, kv24RGB);
    b.Fill(0x0A0AC8);
    b.FillRect(4, 1, 4, 1, 0x0AC80A);
    io.Params().BitsPerSample = 1;
    io.Params().SamplesPerPixel = 1;
    const std::string bytes = PcxOf(io);
    // The darker colour is entry 0, red, green, blue.
    EXPECT_EQ(bytes.substr(16, 6), std::string("\xC8\x0A\x0A\x0A\xC8\x0A", 6));
}

TEST(KVPcx, RunsCrossLinesAndBadLayoutsAreRefused) {
    // One run of 6 covers both 3-pixel lines of a 1-plane, 8-bit picture.
    std::string file = PcxHeader(3, 2, 8, 1, 3) + "\xC6\x01";
    std::string palette(768, '\0');
    palette[3] = char(255);
    file += palette;  // no 0x0C marker before it
    bool ok = false;
    TRgbImage loaded = LoadPcx(file, kvftPCX, &ok);
    ASSERT_TRUE(ok);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(loaded.pixels[size_t(3 * i)], 255) << i;
    // Bytes per line below the width leave the rest of the row black; data cut short fail.
    loaded = LoadPcx(PcxHeader(40, 3, 8, 3, 4, 0) + std::string(36, char(90)), kvftPCX, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(loaded.At(0, 0)[0], 90);
    EXPECT_EQ(loaded.At(20, 2)[0], 0);
    LoadPcx(PcxHeader(40, 3, 8, 3, 4, 0) + std::string(35, char(90)), kvftPCX, &ok);
    EXPECT_FALSE(ok);
    for (const std::string& bad : {PcxHeader(4, 4, 8, 1, 4, 2), PcxHeader(4, 4, 9, 1, 4), PcxHeader(4, 4, 8, 1, 4) + "ab",
                                   PcxHeader(4, 4, 0, 1, 4) + std::string(800, 'x'), std::string(100, '\x0A')}) {
        LoadPcx(bad + std::string(10, '\0'), kvftPCX, &ok);
        EXPECT_FALSE(ok);
    }
    // Depths PCX cannot hold write nothing.
    TKestovaIO io;
    io.WorkBitmap().Allocate(2, 2, kv24RGB);
    io.Params().BitsPerSample = 2;
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftPCX);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(stream.Size(), 0);
}

TEST(KVDcx, InsertsAndReadsPages) {
    TMemoryStream dcx;
    // Each page goes in front of page 0, so the last one written comes first; an index past the
    // end appends.
    const struct {
        uint8_t gray;
        int index;
    } inserts[] = {{10, 0}, {20, 0}, {30, 0}, {40, 9}};
    for (const auto& insert : inserts) {
        TKestovaIO io;
        io.WorkBitmap().Allocate(3, 2, kv24RGB);
        io.WorkBitmap().Fill(insert.gray * 0x010101);
        io.Params().DcxImageIndex = insert.index;
        io.SaveToStreamFormat(dcx, kvftDCX);
        ASSERT_FALSE(io.AbortFlag);
    }
    dcx.SetPosition(0);
    EXPECT_EQ(GetDCXStreamPageCount(dcx), 4);
    EXPECT_TRUE(IsDCXStream(dcx));
    EXPECT_EQ(DetectStreamFormat(dcx), kvftDCX);
    const std::string bytes = StreamBytesOf(dcx);
    const struct {
        int index, clamped;
        uint8_t gray;
    } reads[] = {{0, 0, 30}, {1, 1, 20}, {2, 2, 10}, {3, 3, 40}, {-1, 0, 30}, {7, 3, 40}};
    for (const auto& read : reads) {
        TKestovaIO io;
        io.Params().DcxImageIndex = read.index;
        io.LoadFromBuffer(bytes.data(), int64_t(bytes.size()), kvftDCX);
        ASSERT_FALSE(io.AbortFlag) << read.index;
        EXPECT_EQ(FirstGray(io), read.gray) << read.index;
        EXPECT_EQ(io.Params().DcxImageIndex, read.clamped);
    }
    // Each page reads as the PCX it was written as.
    EXPECT_NE(bytes.find(PageOf(40)), std::string::npos);
}

TEST(KVDcx, DamagedTablesAreRefused) {
    TMemoryStream notDcx;
    notDcx.WriteBuffer("not a DCX file at all", 21);
    TKestovaIO io;
    io.WorkBitmap().Allocate(2, 2, kv24RGB);
    io.SaveToStreamFormat(notDcx, kvftDCX);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(StreamBytesOf(notDcx), "not a DCX file at all");
    // An offset past the end.
    const std::string bad("\xB1\x68\xDE\x3A\x00\x10\x00\x00\x00\x00\x00\x00", 12);
    bool ok = true;
    LoadPcx(bad, kvftDCX, &ok);
    EXPECT_FALSE(ok);
}

TEST(KVDcx, FilesCountTheirPages) {
    TScratchFolder folder;
    TKestovaIO io;
    ImageToBitmap(PatternImage(5, 5), io.WorkBitmap());
    const std::string path = folder.Path("a.dcx");
    io.SaveToFile(path);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(GetFileFrameCount(path), 1);
    EXPECT_EQ(DetectFileFormat(path, true), kvftDCX);
}

TEST(KVPcx, StreamHeadersLetPicturesFollowOneAnother) {
    TMemoryStream stream;
    for (uint8_t gray : {40, 200}) {
        TKestovaIO io;
        io.StreamHeaders = true;
        io.WorkBitmap().Allocate(5, 3, kv24RGB);
        io.WorkBitmap().Fill(gray * 0x010101);
        io.SaveToStreamFormat(stream, kvftPCX);
        ASSERT_FALSE(io.AbortFlag);
    }
    EXPECT_EQ(StreamBytesOf(stream).substr(0, 8), std::string("PCX2\0\0\0\0", 8));
    stream.SetPosition(0);
    for (uint8_t gray : {40, 200}) {
        EXPECT_EQ(DetectStreamFormat(stream), kvftPCX);
        TKestovaIO io;
        io.LoadFromStream(stream);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_EQ(FirstGray(io), gray);
    }
    EXPECT_EQ(stream.Position(), stream.Size());
}

// Older writers put a picture four bytes behind a "PCX" tag whose fourth letter is not "2" and
// give no length: the picture runs to the end of the stream.
TEST(KVPcx, TagWithoutLengthPutsThePictureFourBytesBehindIt) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(9, 4));
    const std::string path = MakeFixture(folder.Path("x.pcx"), "ppmtopcx -24bit " + Quoted(folder.Path("p.ppm")) + " > " +
                                                                    Quoted(folder.Path("x.pcx")));
    const TRgbImage expected = ParsePpm(RunTool("pcxtoppm " + Quoted(path), false).output);
    for (const char letter : {'1', 'A', '\0'}) {
        SCOPED_TRACE(int(letter));
        const std::string tagged = std::string("PCX") + letter + ReadFile(path);
        TMemoryStream stream;
        LoadBytes(stream, tagged);
        TKestovaIO io;
        io.StreamHeaders = true;
        io.LoadFromStreamPCX(stream);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), expected));
    }
}

// Rows of equal bytes at the run limit of 63: the packets written and netpbm's decoding of them.
// Bytes of 0xC0 and above need a packet even alone; a line of odd length is padded with a 0.
TEST(KVPcx, RunsAtTheirLimit) {
    TScratchFolder folder;
    const struct {
        int width;
        std::string firstLine;  // red, green and blue planes of the first row: (07, C5, 40)
    } cases[] = {{63, "\xFF\x07\x00" "\xFF\xC5\x00" "\xFF\x40\x00"s},
                 {64, "\xFF\x07\x07" "\xFF\xC5\xC1\xC5" "\xFF\x40\x40"s},
                 {100, "\xFF\x07\xE5\x07" "\xFF\xC5\xE5\xC5" "\xFF\x40\xE5\x40"s}};
    for (const auto& c : cases) {
        TKestovaIO io;
        io.WorkBitmap().Allocate(c.width, 2, kv24RGB);
        PaintRow(io.WorkBitmap(), 0, {0x40, 0xC5, 0x07});
        PaintRow(io.WorkBitmap(), 1, {0xC2, 0xC1, 0xC0});
        io.Params().BitsPerSample = 8;
        io.Params().SamplesPerPixel = 3;
        io.Params().PcxCompressed = true;
        const std::string bytes = PcxOf(io);
        EXPECT_EQ(bytes.substr(128, c.firstLine.size()), c.firstLine) << c.width;
        const std::string path = folder.Path("runs.pcx");
        WriteFile(path, bytes);
        EXPECT_TRUE(SamePixels(ParsePpm(RunTool("pcxtoppm " + Quoted(path), false).output), PixelsOf(io.WorkBitmap())))
            << c.width;
    }
}
