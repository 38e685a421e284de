// The extended readers against an independent decode of the same file, and under damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "PSPBuilder.h"
#include "BitmapDifference.h"
#include "TestSupport.h"
#include "platform/Classes.h"
#include "platform/Exception.h"
#include "platform/Graphics.h"
#include "tzpicformats/AutodeskGraphic.h"
#include "tzpicformats/EPSGraphic.h"
#include "tzpicformats/FileFormatList.h"
#include "tzpicformats/GIFGraphic.h"
#include "tzpicformats/PCDGraphic.h"
#include "tzpicformats/PCXGraphic.h"
#include "tzpicformats/PNGGraphic.h"
#include "tzpicformats/PSPGraphic.h"
#include "tzpicformats/RLAGraphic.h"
#include "tzpicformats/TIFFGraphic.h"
#include "tzpicformats/PPMGraphic.h"
#include "tzpicformats/TargaGraphic.h"

using namespace std::string_literals;

namespace {

std::unique_ptr<TBitmap> Load(const std::string& path) {
    std::unique_ptr<TGraphic> graphic = CreateGraphicFromFile(path);
    auto* bitmap = dynamic_cast<TBitmap*>(graphic.get());
    if (!bitmap) return nullptr;
    graphic.release();
    return std::unique_ptr<TBitmap>(bitmap);
}

// ImageMagick keeps a Targa's rows in file order and only records the orientation.
TRgbImage ReadUpright(const std::string& path) {
    const TCommandResult result = RunTool("convert " + Quoted(path + "[0]") + " -auto-orient -depth 8 ppm:-", false);
    return result.status == 0 ? ParsePpm(result.output) : TRgbImage{};
}

struct TFixture {
    std::string name;     // its extension picks the format
    std::string command;  // makes the file at %s, the scratch path
    int tolerance = 0;
};

// A picture with distinct colours and runs, so that packing and orientation both show.
const std::string Source = "-size 13x7 gradient:red-blue \\( -size 13x7 xc:none -fill yellow -draw 'rectangle 0,0 5,2' \\) -composite -depth 8";

const TFixture Fixtures[] = {
    {"raw.ppm", "convert " + Source + " %s"},
    {"plain.ppm", "convert " + Source + " -compress none %s"},
    {"wide.ppm", "convert " + Source + " -depth 16 %s", 1},
    {"raw.pgm", "convert " + Source + " -colorspace gray %s"},
    {"plain.pgm", "convert " + Source + " -colorspace gray -compress none %s"},
    {"raw.pbm", "convert " + Source + " -monochrome %s"},
    {"plain.pbm", "convert " + Source + " -monochrome -compress none %s"},
    {"fifteen.pgm", "convert " + Source + " -colorspace gray -depth 4 %s", 1},
    {"netpbm.ppm", "convert " + Source + " ppm:- | pnmtoplainpnm > %s"},
    {"rle.tga", "convert " + Source + " -compress RLE %s"},
    {"raw.tga", "convert " + Source + " -compress None %s"},
    {"alpha.tga", "convert " + Source + " -alpha on -channel A -fx 0.5 -compress RLE %s"},
    {"mapped.tga", "convert " + Source + " -type Palette -compress RLE %s"},
    {"gray.tga", "convert " + Source + " -colorspace gray -compress None %s"},
    {"gray.icb", "convert " + Source + " -colorspace gray -compress RLE tga:%s"},
    {"netpbm.tga", "convert " + Source + " ppm:- | ppmtotga -rgb > %s"},
    {"truecolour.pcx", "convert " + Source + " %s"},
    {"mapped.pcc", "convert " + Source + " -type Palette pcx:%s"},
    {"bilevel.pcx", "convert " + Source + " -monochrome %s"},
    {"sixteen.pcx", "convert " + Source + " -colors 16 -type Palette ppm:- | ppmtopcx -planes 4 > %s"},
    {"fourbit.pcx", "convert " + Source + " -colors 16 -type Palette ppm:- | ppmtopcx -packed > %s"},
    {"cga.pcx", "convert " + Source + " -colors 4 -type Palette ppm:- | ppmtopcx -packed > %s"},
    {"netpbm.pcx", "convert " + Source + " ppm:- | ppmtopcx -24bit > %s"},
    {"pack.pcd", "convert -size 768x512 gradient:red-blue -depth 8 %s", 4},
    {"rle.psd", "convert " + Source + " -compress RLE %s"},
    {"raw.pdd", "convert " + Source + " -compress None psd:%s"},
    {"cmyk.psd", "convert " + Source + " -colorspace CMYK %s", 1},
    {"wide.psd", "convert " + Source + " -depth 16 %s"},
    {"widegray.psd", "convert " + Source + " -colorspace gray -depth 16 %s", 1},
    {"gray.psd", "convert " + Source + " -colorspace gray %s"},
    {"grayalpha.psd", "convert " + Source + " -colorspace gray -alpha on -channel A -fx 0.5 %s"},
    {"layers.psd", "convert " + Source + " \\( +clone -flip \\) \\( -clone 0 \\) -insert 0 %s"},
    {"raw.tif", "convert " + Source + " -compress None %s"},
    {"lzw.tiff", "convert " + Source + " -compress LZW %s"},
    {"predictor.tif", "convert " + Source + " -compress LZW -define tiff:predictor=2 %s"},
    {"zip.tif", "convert " + Source + " -compress Zip -define tiff:rows-per-strip=2 %s"},
    {"packbits.tif", "convert " + Source + " -compress RLE -endian MSB %s"},
    {"gray.tif", "convert " + Source + " -colorspace gray -compress LZW %s"},
    {"mapped.tif", "convert " + Source + " -type Palette %s"},
    {"alpha.tif", "convert " + Source + " -alpha on -channel A -fx 0.5 -compress None %s"},
    {"wide.tif", "convert " + Source + " -depth 16 -compress None %s", 1},
    {"widegray.tif", "convert " + Source + " -colorspace gray -depth 16 -endian MSB %s", 1},
    {"bilevel.tif", "convert " + Source + " -monochrome -compress None %s"},
    {"cmyk.tif", "convert " + Source + " -colorspace CMYK -compress None %s", 1},
    {"widecmyk.tif", "convert " + Source + " -colorspace CMYK -depth 16 -compress None -endian MSB %s", 1},
    {"ycbcr.tif", "convert " + Source + " -colorspace YCbCr -compress LZW %s", 2},
    {"grayalpha.tif", "convert " + Source + " -colorspace gray -alpha on -channel A -fx 0.5 -compress None %s"},
    // Without the description netpbm writes, which ImageMagick would pass on as a comment.
    {"miniswhite.tif", "convert " + Source + " -colorspace gray pgm:- | pnmtotiff -miniswhite > %s && tiffset -u 270 %s"},
    // JPEG pages are decoded by the same library in both readers; only upsampling may differ.
    {"rgbjpeg.tif", "convert " + Source + " -compress jpeg %s", 1},
    {"ycbcrjpeg.tif", "convert " + Source + " -compress None tif:%s.in && tiffcp -c jpeg %s.in %s", 12},
    {"rawrgbjpeg.tif", "convert " + Source + " -compress None tif:%s.in && tiffcp -c jpeg:r %s.in %s", 1},
    {"grayjpeg.fax", "convert " + Source + " -colorspace gray -compress jpeg tif:%s", 1},
    {"cmykjpeg.tif", "convert " + Source + " -colorspace CMYK -compress jpeg %s", 2},
    {"group3.fax", "convert " + Source + " -monochrome -depth 1 -compress None tif:%s.in && tiffcp -c g3 %s.in %s"},
    {"mh.tif", "convert " + Source + " -monochrome -depth 1 -compress None tif:%s.in && tiffcp -c g3 -f lsb2msb %s.in %s"},
    {"plain.gif", "convert " + Source + " -colors 200 %s"},
    {"interlaced.gif", "convert " + Source + " -colors 30 -interlace GIF %s"},
    {"comment.gif", "convert " + Source + " -colors 30 -comment hello %s"},
    {"netpbm.gif", "convert " + Source + " -colors 64 ppm:- | pamtogif -interlace > %s"},
    {"rgb.png", "convert " + Source + " -define png:color-type=2 %s"},
    {"wide.png", "convert " + Source + " -depth 16 %s", 1},
    {"interlaced.png", "convert " + Source + " -depth 16 -interlace PNG %s", 1},
    {"alpha.png", "convert " + Source + " -alpha on -channel A -fx 0.5 %s"},
    {"gray2.png", "convert " + Source + " -colorspace gray -depth 2 %s"},
    {"graywide.png", "convert " + Source + " -colorspace gray -depth 16 -interlace PNG %s", 1},
    {"mapped.png", "convert " + Source + " -colors 3 png8:%s"},
    {"bilevel.png", "convert " + Source + " -monochrome %s"},
    {"netpbm.png", "convert " + Source + " ppm:- | pnmtopng -interlace > %s"},
    {"rle.sgi", "convert " + Source + " -compress RLE %s"},
    {"verbatim.rgb", "convert " + Source + " -compress None sgi:%s"},
    {"wide.sgi", "convert " + Source + " -depth 16 -compress RLE %s"},
    {"widever.sgi", "convert " + Source + " -depth 16 -compress None %s"},
    {"gray.bw", "convert " + Source + " -colorspace gray -compress RLE sgi:%s"},
    {"alpha.rgba", "convert " + Source + " -alpha on -channel A -fx 0.5 -compress RLE sgi:%s"},
    {"netpbm.sgi", "convert " + Source + " ppm:- | pnmtosgi -rle > %s"},
};

std::string Command(const TFixture& fixture, const std::string& path) {
    std::string command = fixture.command;
    for (size_t at; (at = command.find("%s")) != std::string::npos;) command.replace(at, 2, Quoted(path));
    return command;
}

class ExtendedReaderPixels : public ::testing::TestWithParam<TFixture> {};

TEST_P(ExtendedReaderPixels, MatchAnIndependentDecode) {
    TScratchFolder folder;
    const std::string path = folder.Path(GetParam().name);
    const TCommandResult made = RunTool(Command(GetParam(), path), false);
    ASSERT_EQ(made.status, 0) << made.output;
    const TRgbImage theirs = ReadUpright(path);
    ASSERT_GT(theirs.width, 0);
    const auto ours = Load(path);
    ASSERT_TRUE(ours);
    EXPECT_LE(Difference(*ours, theirs), GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(Files, ExtendedReaderPixels, ::testing::ValuesIn(Fixtures), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

// Truncations and bit flips of every fixture load or fail with an error of ours.
TEST(ExtendedReaders, DamagedInputFailsCleanly) {
    TScratchFolder folder;
    for (const TFixture& fixture : Fixtures) {
        const std::string path = folder.Path(fixture.name);
        ASSERT_EQ(RunTool(Command(fixture, path), false).status, 0);
        const std::string bytes = ReadFile(path);
        for (size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 29) {
            std::string damaged = bytes.substr(0, cut);
            for (int flip = 0; flip < 2; ++flip) {
                if (flip && !damaged.empty()) damaged[cut * 7 % damaged.size()] ^= char(1 << (cut % 8));
                WriteFile(path, damaged);
                try {
                    Load(path);
                } catch (const Exception&) {
                }
            }
        }
    }
}

// A file cut short raises instead of loading with its missing rows blank, so no half-empty page
// is made of it.
TEST(ExtendedReaders, TruncatedFilesRaise) {
    TScratchFolder folder;
    for (const TFixture& fixture : Fixtures) {
        const std::string path = folder.Path(fixture.name);
        ASSERT_EQ(RunTool(Command(fixture, path), false).status, 0);
        const std::string bytes = ReadFile(path);
        // ImageMagick writes a TIFF's directory behind the pixels, so a short cut loses no pixel.
        const bool pixelsAtTheEnd = !Contains(fixture.name, ".tif");
        for (const size_t kept : {bytes.size() / 2, bytes.size() * 9 / 10}) {
            if (kept > bytes.size() / 2 && !pixelsAtTheEnd) continue;
            WriteFile(path, bytes.substr(0, kept));
            EXPECT_NE(MessageOf([&] { Load(path); }), "(no exception)") << fixture.name << " cut to " << kept << " of " << bytes.size();
        }
    }
}

std::unique_ptr<TBitmap> LoadBytes(TPicFormatGraphic&& graphic, const std::string& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    graphic.LoadFromStream(stream);
    return std::make_unique<TBitmap>(std::move(graphic));
}

TEST(PortableMap, HeaderVariants) {
    // Comment line, one-line header, digits run together, and maximum-value scaling.
    const auto commented = LoadBytes(TPPMGraphic(), "P6\n# made by hand\n2 1\n255\n\x01\x02\x03\x04\x05\x06");
    EXPECT_EQ(commented->PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(commented->Pixel(1, 0), 0x060504);
    const auto oneLine = LoadBytes(TPPMGraphic(), "P5 3 1 15\n\x00\x0F\x05"s);
    EXPECT_EQ(oneLine->Pixel(1, 0), 0xFFFFFF);
    EXPECT_EQ(oneLine->Pixel(2, 0), 0x555555);
    const auto packed = LoadBytes(TPPMGraphic(), "P1\n10 1\n1000000001");
    EXPECT_EQ(packed->ScanLine(0)[0], 0x80);
    EXPECT_EQ(packed->ScanLine(0)[1], 0x40);
    EXPECT_EQ(packed->Pixel(0, 0), 0);
    EXPECT_EQ(packed->Pixel(1, 0), 0xFFFFFF);
}

TEST(PortableMap, ShortOrBadDataRaises) {
    EXPECT_EQ(MessageOf([] { LoadBytes(TPPMGraphic(), "P6\n2 1\n255\n\x01\x02\x03"); }), "Stream read error in PPM file.");
    EXPECT_EQ(MessageOf([] { LoadBytes(TPPMGraphic(), "P2\n2 1\n255\n7"); }), "Stream read error in PPM file.");
    EXPECT_EQ(MessageOf([] { LoadBytes(TPPMGraphic(), "P6\n0 1\n255\n  "); }),
              "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.");
}

TEST(Targa, WrittenFileIsTopDownAndReadsBack) {
    TScratchFolder folder;
    for (const TPixelFormat format : {TPixelFormat::pf1bit, TPixelFormat::pf8bit, TPixelFormat::pf15bit,
                                      TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        TBitmap source;
        source.SetPixelFormat(TPixelFormat::pf24bit);
        source.SetSize(300, 3);
        for (int x = 0; x < 300; ++x) source.SetPixel(x, 0, x < 150 ? 0x0000FF : 0xFFFFFF);
        for (int x = 0; x < 300; ++x) source.SetPixel(x, 2, x % 2 ? 0x00FF00 : 0);
        source.SetPixelFormat(format);
        TTargaGraphic targa;
        static_cast<TBitmap&>(targa).Assign(source);
        TMemoryStream stream;
        targa.SaveToStream(stream);
        const std::vector<uint8_t>& bytes = stream.Bytes();
        ASSERT_GT(bytes.size(), 18u);
        EXPECT_EQ(bytes[17], 32);
        EXPECT_EQ(bytes[2], format == TPixelFormat::pf1bit || format == TPixelFormat::pf8bit ? 9 : 10);
        const std::string path = folder.Path("out.tga");
        WriteFile(path, std::string(bytes.begin(), bytes.end()));
        const TRgbImage theirs = ReadUpright(path);
        TBitmap expected(source);
        if (format != TPixelFormat::pf15bit) {
            EXPECT_EQ(Difference(expected, theirs), 0);
        }
        stream.SetPosition(0);
        TTargaGraphic back;
        back.LoadFromStream(stream);
        EXPECT_EQ(Difference(back, theirs), 0);
    }
}

TEST(Targa, EmptyBitmapWritesNothingAndSixteenBitMapIsRed) {
    TMemoryStream stream;
    TTargaGraphic().SaveToStream(stream);
    EXPECT_EQ(stream.Size(), 0);
    // One 16-bit map entry 0x7C00 and one pixel pointing at it.
    const std::string file("\0\1\1\0\0\1\0\x10\0\0\0\0\1\0\1\0\x08\x20\x00\x7C\0", 21);
    EXPECT_EQ(LoadBytes(TTargaGraphic(), file)->Pixel(0, 0), 0x0000F8);
}

TEST(Targa, PacketCrossingRowsIsReadAndBoundedByTheImage) {
    // 2 x 2 gray, one run packet of four pixels; then one claiming five.
    std::string header("\0\0\x0B\0\0\0\0\x18\0\0\0\0\2\0\2\0\x08\x20", 18);
    const auto image = LoadBytes(TTargaGraphic(), header + "\x83\x40");
    EXPECT_EQ(image->Pixel(1, 1), 0x404040);
    EXPECT_NE(MessageOf([&] { LoadBytes(TTargaGraphic(), header + "\x84\x40"); }), "(no exception)");
}

}  // namespace

namespace {

// An Autodesk cel: the header, a 6-bit palette whose entry i is (i mod 64, 63, 0), then the rows.
std::string AutodeskCel(int width, int height, const std::string& pixels) {
    std::string file(32, '\0');
    file[0] = '\x19';
    file[1] = '\x91';
    file[2] = char(width);
    file[4] = char(height);
    file[10] = 8;
    for (int i = 0; i < 256; ++i) file += std::string{char(i % 64), 63, 0};
    return file + pixels;
}

TEST(Autodesk, PaletteIsWidenedAndRowsRunFromTheTop) {
    const auto image = LoadBytes(TAutodeskGraphic(), AutodeskCel(3, 2, "\x01\x02\x03\x3F\x05\x06"s));
    EXPECT_EQ(image->PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(image->Pixel(0, 0), 0x00FC04);  // red 1 << 2, green 63 << 2
    EXPECT_EQ(image->Pixel(0, 1), 0x00FCFC);
    EXPECT_EQ(image->Pixel(2, 1), 0x00FC18);
}

TEST(Autodesk, ShortOrOtherDepthsRaise) {
    EXPECT_NE(MessageOf([] { LoadBytes(TAutodeskGraphic(), AutodeskCel(3, 2, "\x01\x02"s)); }), "(no exception)");
    std::string sixteen = AutodeskCel(1, 1, "\x01\x02"s);
    sixteen[10] = 16;
    EXPECT_EQ(MessageOf([&] { LoadBytes(TAutodeskGraphic(), sixteen); }),
              "Cannot load image. Invalid or unexpected Autodesk image format.");
}

}  // namespace

namespace {

// An overview pack turned a quarter: its thumbnails are 192 x 128, stored after sector 5.
TEST(PhotoCD, OverviewPackUsesItsOwnSizeAndOrientation) {
    std::string pack(5 * 2048, '\0');
    pack.replace(0, 7, "PCD_OPA");
    pack[3586] = 1;
    for (int pair = 0; pair < 64; ++pair) pack += std::string(384, char(200)) + std::string(192, char(156));
    const auto image = LoadBytes(TPCDGraphic(), pack);
    EXPECT_EQ(image->Width(), 128);
    EXPECT_EQ(image->Height(), 192);
    EXPECT_EQ(image->Pixel(5, 5), image->Pixel(100, 150));
    pack.resize(pack.size() - 1);
    EXPECT_NE(MessageOf([&] { LoadBytes(TPCDGraphic(), pack); }), "(no exception)");
}

TEST(PCX, UnusableHeadersRaise) {
    std::string file(200, '\0');
    file[0] = 7;
    EXPECT_EQ(MessageOf([&] { LoadBytes(TPCXGraphic(), file); }),
              "Cannot load image. Invalid or unexpected PCX or SCR image format.");
    file[0] = 10;
    file[3] = 8;
    file[65] = 2;  // two 8-bit planes
    EXPECT_EQ(MessageOf([&] { LoadBytes(TPCXGraphic(), file); }), "Invalid color format in PCX file.");
}

}  // namespace

namespace {

// A Dr. Halo cut file of 5 x 3: a run, literals then a run, literals; each row behind its length.
std::string HaloCut() {
    const std::string rows[] = {"\x85\x07\0"s, "\x03\x01\x02\x03\x82\x09\0"s, "\x05\x0A\x0B\x0C\x0D\x0E\0"s};
    std::string file("\x05\0\x03\0\0\0"s);
    for (const std::string& row : rows) file += std::string{char(row.size()), 0} + row;
    return file;
}

// Its palette file: 16 entries of three 16-bit values after the 40-byte header.
std::string HaloPalette() {
    std::string file(512, '\0');
    file.replace(0, 2, "AH");
    file[6] = 0x11;
    file[12] = 15;
    file[14] = file[16] = file[18] = char(255);
    file.replace(20, 8, "Dr. Halo");
    for (int i = 0; i < 16; ++i) {
        file[size_t(40 + 6 * i)] = char(i * 16);
        file[size_t(42 + 6 * i)] = char(255 - i * 16);
        file[size_t(44 + 6 * i)] = char(i * 8);
    }
    return file;
}

TEST(DrHalo, CutWithAndWithoutItsPaletteFile) {
    TScratchFolder folder;
    const std::string cut = folder.Path("halo.cut");
    WriteFile(cut, HaloCut());
    const auto gray = Load(cut);
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->Pixel(0, 0), 0x070707);
    EXPECT_EQ(gray->Pixel(4, 2), 0x0E0E0E);
    WriteFile(folder.Path("halo.pal"), HaloPalette());
    const auto coloured = Load(cut);
    const TRgbImage theirs = ReadWithImageMagick(cut);
    ASSERT_EQ(theirs.width, 5);
    EXPECT_EQ(Difference(*coloured, theirs), 0);
    EXPECT_EQ(coloured->Pixel(3, 1), 0x486F90);  // entry 9
}

TEST(DrHalo, EmptyOrShortCutRaises) {
    TScratchFolder folder;
    const std::string cut = folder.Path("bad.cut");
    WriteFile(cut, "\0\0\x03\0\0\0"s);
    EXPECT_EQ(MessageOf([&] { Load(cut); }), "Cannot load image. Invalid or unexpected CUT image format.");
    WriteFile(cut, HaloCut().substr(0, 20));
    EXPECT_NE(MessageOf([&] { Load(cut); }), "(no exception)");
    // Bytes too few for the rows claimed are refused before the picture is made: 29 bytes claiming
    // 4096 x 4096.
    WriteFile(cut, "\0\x10\0\x10\0\0"s + std::string(23, '\x85'));
    EXPECT_EQ(MessageOf([&] { Load(cut); }), "Cannot load image. The CUT image is truncated.");
}

}  // namespace

namespace {

void PutU16(std::string& file, size_t at, int value) {
    file[at] = char(value >> 8);
    file[at + 1] = char(value);
}

// An RLA file of 4 x 3 pixels, bottom row first, each channel of a row packed as a run of its
// row number and channel (plus 16 x y) for the first two pixels and two literals.
std::string Rla(bool matte) {
    const int width = 4, height = 3, channels = matte ? 4 : 3;
    std::string file(740, '\0');
    PutU16(file, 10, width - 1);
    PutU16(file, 12, 0);   // active bottom
    PutU16(file, 14, height - 1);  // active top
    PutU16(file, 20, 3);
    PutU16(file, 22, matte ? 1 : 0);
    PutU16(file, 26, 0xFFFE);
    file.replace(28, 3, "1.0");
    file.replace(580, 3, "rgb");
    PutU16(file, 658, 8);
    std::string rows;
    std::vector<size_t> offsets;
    for (int y = 0; y < height; ++y) {
        offsets.push_back(740 + 4 * height + rows.size());
        for (int c = 0; c < channels; ++c) {
            const std::string packed{1, char(16 * y + 40 * c), char(-2), char(200 + c), char(255)};
            rows += std::string{0, char(packed.size())} + packed;
        }
    }
    for (size_t offset : offsets) file += std::string{char(offset >> 24), char(offset >> 16), char(offset >> 8), char(offset)};
    return file + rows;
}

TEST(RLA, BottomUpRowsWithAndWithoutMatte) {
    TScratchFolder folder;
    for (const bool matte : {false, true}) {
        const std::string path = folder.Path(matte ? "matte.rla" : "plain.rpf");
        WriteFile(path, Rla(matte));
        const auto ours = Load(path);
        ASSERT_TRUE(ours);
        EXPECT_EQ(ours->PixelFormat(), matte ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
        // File row y is bitmap row 2 - y; sample c of pixel x follows the builder's packing.
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const auto sample = [&](int c) { return x < 2 ? 16 * y + 40 * c : x == 2 ? 200 + c : 255; };
                EXPECT_EQ(ours->Pixel(x, 2 - y), sample(0) | sample(1) << 8 | sample(2) << 16) << x << "," << y;
            }
    }
}

TEST(RLA, UnusableHeadersAndRowsRaise) {
    std::string deep = Rla(false);
    PutU16(deep, 658, 16);
    EXPECT_EQ(MessageOf([&] { LoadBytes(TRLAGraphic(), deep); }), "Cannot load image. Invalid or unexpected RLA image format.");
    std::string broken = Rla(false);
    broken[741] = 0x7F;  // the first row's offset lies far beyond the file
    EXPECT_NE(MessageOf([&] { LoadBytes(TRLAGraphic(), broken); }), "(no exception)");
}

}  // namespace

namespace {

// 3 x 2 pixels: red as two runs, green and blue stored as literals.
const TPSPChannel Red{1, "\x83\x10\x83\x20"s, 6}, Green{2, "\x06\x01\x02\x03\x04\x05\x06"s, 6},
    Blue{3, "\x86\x80"s, 6}, Alpha{0, "\x86\x7F"s, 6};

TEST(PaintShopPro, FirstRasterLayerBelowAVectorLayer) {
    const TPSPLayer vector{2, {Alpha}}, raster{1, {Red, Green, Blue}};
    const auto image = LoadBytes(TPSPGraphic(), PSPFile(3, 2, 24, 1, {vector, raster}));
    EXPECT_EQ(image->PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(image->Pixel(0, 0), 0x800110);
    EXPECT_EQ(image->Pixel(2, 1), 0x800620);
}

TEST(PaintShopPro, AlphaChannelMakesA32BitBitmap) {
    const auto image = LoadBytes(TPSPGraphic(), PSPFile(3, 2, 24, 1, {{1, {Red, Green, Blue, Alpha}}}));
    EXPECT_EQ(image->PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(image->ScanLine(1)[3], 0x7F);
}

TEST(PaintShopPro, IndexedWithItsPaletteUncompressed) {
    const std::string palette = "\x00\x00\xFF\x00\x00\xFF\x00\x00"s;  // red, green
    const auto image = LoadBytes(TPSPGraphic(), PSPFile(3, 1, 8, 0, {{1, {{0, "\x00\x01\x00"s, 3}}}}, palette));
    EXPECT_EQ(image->Pixel(0, 0), 0x0000FF);
    EXPECT_EQ(image->Pixel(1, 0), 0x00FF00);
}

TEST(PaintShopPro, MissingChannelsOrDepthsRaise) {
    EXPECT_EQ(MessageOf([] { LoadBytes(TPSPGraphic(), PSPFile(3, 2, 24, 1, {{1, {Red, Blue}}})); }),
              "Cannot load image. Invalid or unexpected PSP image format.");
    EXPECT_EQ(MessageOf([] { LoadBytes(TPSPGraphic(), PSPFile(3, 2, 16, 1, {{1, {Red}}})); }),
              "Invalid color format in PSP file.");
}

}  // namespace

namespace {

TEST(TIFF, TiledOrPlanarImagesRaiseInsteadOfLoadingEmpty) {
    TScratchFolder folder;
    const std::string tiled = folder.Path("tiled.tif"), planar = folder.Path("planar.tif");
    ASSERT_EQ(RunTool("convert -size 40x40 gradient:red-blue -depth 8 -define tiff:tile-geometry=16x16 " + Quoted(tiled)).status, 0);
    ASSERT_EQ(RunTool("convert -size 40x40 gradient:red-blue -depth 8 -interlace plane " + Quoted(planar)).status, 0);
    EXPECT_EQ(MessageOf([&] { Load(tiled); }), "Cannot load image. Tiled images are not supported for TIF/TIFF files.");
    EXPECT_EQ(MessageOf([&] { Load(planar); }), "Cannot load image. Planar images are not supported for TIF/TIFF files.");
}

// A one-directory TIFF made by hand for layouts no tool writes: each entry's values (rationals as
// numerator, denominator pairs), the strips given as data, their offsets and counts added.
struct TTiffEntry {
    uint16_t tag, type;
    std::vector<uint32_t> values;
};

std::string HandMadeTiff(std::vector<TTiffEntry> entries, const std::vector<std::string>& strips, bool big = false) {
    const auto put = [big](std::string& out, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out += char(value >> (8 * (big ? bytes - 1 - i : i)));
    };
    const auto sizeOf = [](const TTiffEntry& e) { return e.type == 3 ? 2 : 4; };
    entries.push_back({273, 4, std::vector<uint32_t>(strips.size())});
    entries.push_back({279, 4, std::vector<uint32_t>(strips.size())});
    std::sort(entries.begin(), entries.end(), [](const TTiffEntry& a, const TTiffEntry& b) { return a.tag < b.tag; });
    // Header, directory, the values too long for their entries, then the strips.
    size_t dataStart = 8 + 2 + 12 * entries.size() + 4;
    for (const TTiffEntry& e : entries)
        if (e.values.size() * sizeOf(e) > 4) dataStart += e.values.size() * sizeOf(e);
    for (TTiffEntry& e : entries)
        for (size_t i = 0, at = dataStart; i < strips.size(); at += strips[i].size(), ++i) {
            if (e.tag == 273) e.values[i] = uint32_t(at);
            if (e.tag == 279) e.values[i] = uint32_t(strips[i].size());
        }
    std::string file = big ? "MM" : "II", values;
    put(file, 42, 2);
    put(file, 8, 4);
    put(file, uint32_t(entries.size()), 2);
    for (const TTiffEntry& e : entries) {
        put(file, e.tag, 2);
        put(file, e.type, 2);
        put(file, uint32_t(e.type == 5 ? e.values.size() / 2 : e.values.size()), 4);
        std::string packed;
        for (uint32_t v : e.values) put(packed, v, sizeOf(e));
        if (packed.size() <= 4) {
            file += packed + std::string(4 - packed.size(), '\0');
        } else {
            put(file, uint32_t(8 + 2 + 12 * entries.size() + 4 + values.size()), 4);
            values += packed;
        }
    }
    put(file, 0, 4);
    file += values;
    for (const std::string& strip : strips) file += strip;
    return file;
}

// The picture as libtiff's own RGBA conversion shows it.
TRgbImage ReadWithLibtiff(const TScratchFolder& folder, const std::string& path) {
    const std::string rgba = folder.Path("rgba.tif");
    const TCommandResult made = RunTool("tiff2rgba " + Quoted(path) + " " + Quoted(rgba) + " && tifftopnm " + Quoted(rgba) +
                                        " 2>/dev/null | ppmtoppm", false);
    return made.status == 0 ? ParsePpm(made.output) : TRgbImage{};
}

std::vector<TTiffEntry> Page(uint32_t width, uint32_t height, std::vector<uint32_t> bits, uint32_t compression,
                             uint32_t photometric, uint32_t rowsPerStrip) {
    return {{256, 3, {width}}, {257, 3, {height}}, {258, 3, std::move(bits)}, {259, 3, {compression}},
            {262, 3, {photometric}}, {277, 3, {uint32_t(3)}}, {278, 3, {rowsPerStrip}}};
}

// Subsampled YCbCr blocks and ThunderScan codes, which only libtiff reads besides us.
TEST(TIFF, HandMadeLayoutsMatchLibtiff) {
    // Blocks of h x v luma samples, then Cb and Cr; 5 x 3 pixels leave part blocks at the edges.
    const auto blocks = [](int h, int v, int bands) {
        std::string data;
        for (int band = 0; band < bands; ++band)
            for (int block = 0; block < (5 + h - 1) / h; ++block) {
                for (int i = 0; i < h * v; ++i) data += char(40 + 50 * band + 30 * block + 7 * i);
                data += char(90 + 25 * block - 10 * band);
                data += char(200 - 35 * block + 20 * band);
            }
        return data;
    };
    const auto ycbcr = [&](int h, int v, bool big, bool twoStrips) {
        // Two strips split the rows after the second.
        std::vector<TTiffEntry> page = Page(5, 3, {8, 8, 8}, 1, 6, twoStrips ? 2u : 3u);
        page.push_back({530, 3, {uint32_t(h), uint32_t(v)}});
        const int bands = (3 + v - 1) / v;
        const std::string data = blocks(h, v, bands);
        if (!twoStrips) return HandMadeTiff(page, {data}, big);
        const size_t split = data.size() / size_t(bands) * size_t(2 / v);
        return HandMadeTiff(page, {data.substr(0, split), data.substr(split)}, big);
    };
    // Row 0: a raw 5, a run of three, deltas +1 and -1; row 1: a raw 15, deltas -3 and -1, a run
    // of two, a raw 0. Five pixels a row end in a half byte. No run reaches the end of a row: libtiff
    // writes nothing for such a run.
    const auto thunder = [](uint32_t width, const std::string& codes) {
        std::vector<TTiffEntry> page = Page(width, 2, {4}, 32809, 1, 2);
        page[5].values = {1};
        return HandMadeTiff(page, {codes});
    };
    const struct {
        const char* name;
        std::string file;
    } cases[] = {
        {"ycbcr 2x2", ycbcr(2, 2, false, false)}, {"ycbcr 2x1 big-endian", ycbcr(2, 1, true, false)},
        {"ycbcr 4x2 in two strips", ycbcr(4, 2, false, true)}, {"ycbcr 1x1", ycbcr(1, 1, true, true)},
        {"thunderscan", thunder(6, "\xC5\x03\x5B\xCF\xAF\x02\xC0"s)},
        {"thunderscan of odd width", thunder(5, "\xC5\x03\x5A\xCF\xAF\x01\xC0"s)},
    };
    TScratchFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.Path("hand.tif");
        WriteFile(path, c.file);
        const TRgbImage theirs = ReadWithLibtiff(folder, path);
        ASSERT_GT(theirs.width, 0);
        const auto ours = Load(path);
        ASSERT_TRUE(ours);
        EXPECT_LE(Difference(*ours, theirs), 2);
    }
}

TEST(TIFF, HeaderPropertiesComeFromTheDirectory) {
    TScratchFolder folder;
    const std::string picture = "convert -size 6x4 gradient:red-blue -depth 8 ";
    struct TCase {
        const char* name;
        std::string command;  // writes %s
        float xResolution, yResolution;
        bool hasAlpha, minIsWhite;
        std::vector<uint32_t> rowsPerStrip;
    } cases[] = {
        {"dots per centimetre", picture + "-units PixelsPerCentimeter -density 100 -define tiff:rows-per-strip=3 %s", 254, 254, false, false, {3}},
        {"dots per inch", picture + "-units PixelsPerInch -density 300x150 %s", 300, 150, false, false, {4}},
        {"extra alpha sample", picture + "-alpha on -channel A -fx 0.5 %s", 0, 0, true, false, {4}},
        {"no photometric tag", picture + "-colorspace gray %s && tiffset -u 262 %s", 0, 0, false, true, {4}},
        {"no rows per strip", picture + "-colorspace gray %s && tiffset -u 278 %s", 0, 0, false, false, {4}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.Path("p.tif");
        RunTool("rm -f " + Quoted(path));
        ASSERT_EQ(RunTool(Command({"p.tif", c.command}, path)).status, 0);
        TFileStream stream(path, fmOpenRead);
        TTIFFGraphic tiff;
        ASSERT_TRUE(tiff.ReadHeaderProperties(stream, 0));
        const TImageProperties& p = tiff.ImageProperties();
        EXPECT_NEAR(p.XResolution, c.xResolution, 0.01);
        EXPECT_NEAR(p.YResolution, c.yResolution, 0.01);
        EXPECT_EQ(p.HasAlpha, c.hasAlpha);
        EXPECT_EQ(bool(p.Options & ioMinIsWhite), c.minIsWhite);
        EXPECT_EQ(p.RowsPerStrip, c.rowsPerStrip);
    }
    // A gray page without its photometric tag shows white for 0: the negative of the page with it.
    const std::string normal = folder.Path("normal.tif"), untagged = folder.Path("untagged.tif");
    ASSERT_EQ(RunTool(picture + "-colorspace gray " + Quoted(normal) + " && cp " + Quoted(normal) + " " + Quoted(untagged) +
                      " && tiffset -u 262 " + Quoted(untagged)).status, 0);
    TRgbImage negative = ReadWithImageMagick(normal);
    for (uint8_t& v : negative.pixels) v = uint8_t(255 - v);
    const auto ours = Load(untagged);
    ASSERT_TRUE(ours);
    EXPECT_EQ(Difference(*ours, negative), 0);
    // A big-endian page keeps the order of two short values stored in the entry itself.
    std::vector<TTiffEntry> page = Page(4, 2, {8, 8, 8}, 7, 6, 2);
    page.push_back({530, 3, {2, 1}});
    TMemoryStream stream;
    const std::string file = HandMadeTiff(page, {"\xFF\xD8\xFF\xD9"s}, true);
    stream.WriteBuffer(file.data(), int64_t(file.size()));
    stream.SetPosition(0);
    TTIFFGraphic tiff;
    ASSERT_TRUE(tiff.ReadHeaderProperties(stream, 0));
    EXPECT_EQ(tiff.ImageProperties().YCbCrSubSampling, (std::vector<uint8_t>{2, 1}));
}

// L*a*b* pages keep their lightness and hues: black, white, mid gray, and the hue of each primary.
TEST(TIFF, LabPagesShowTheirColours) {
    TScratchFolder folder;
    const std::string path = folder.Path("lab.tif");
    ASSERT_EQ(RunTool("convert xc:black xc:white xc:gray50 xc:red xc:lime xc:blue +append -colorspace Lab -depth 8 -compress None " +
                      Quoted(path)).status, 0);
    const auto ours = Load(path);
    ASSERT_TRUE(ours);
    ASSERT_EQ(ours->Width(), 6);
    const auto sample = [&](int x, int shift) { return int(ours->Pixel(x, 0) >> shift & 0xFF); };
    for (int shift : {0, 8, 16}) {
        EXPECT_LE(sample(0, shift), 10);
        EXPECT_GE(sample(1, shift), 230);
        EXPECT_GT(sample(2, shift), 20);
        EXPECT_LT(sample(2, shift), 230);
    }
    // Pixel returns red in the low byte: each primary is strongest in its own sample.
    for (int primary = 0; primary < 3; ++primary) {
        for (int other = 0; other < 3; ++other) {
            if (other == primary) continue;
            EXPECT_GT(sample(3 + primary, 8 * primary), sample(3 + primary, 8 * other) + 60) << primary;
        }
    }
}

TEST(TIFF, PagesItCannotShowRaiseTheirReason) {
    TScratchFolder folder;
    const std::string in = folder.Path("in.tif");
    ASSERT_EQ(RunTool("convert -size 16x8 gradient: -monochrome -depth 1 -compress None " + Quoted(in)).status, 0);
    // Hand-made pages of 5 x 1 pixels: samples per pixel, bits per sample, photometric.
    const auto page = [](uint32_t samples, uint32_t bits, uint32_t photometric) {
        std::vector<TTiffEntry> entries = Page(5, 1, std::vector<uint32_t>(samples, bits), 1, photometric, 1);
        entries[5].values = {samples};
        return HandMadeTiff(entries, {std::string(size_t(5 * samples * 2), '\x40')});
    };
    const struct {
        const char* name;
        std::string command, file;
        std::string message;
    } cases[] = {
        {"group 4", "tiffcp -c g4 " + Quoted(in) + " %s", "", "Cannot load image. The compression scheme is not supported for TIF/TIFF files."},
        {"two inks", "", page(2, 8, 5), "Invalid color format in TIF/TIFF file."},
        {"3-bit gray", "", page(1, 3, 1), "Invalid color format in TIF/TIFF file."},
        {"4-bit L*a*b*", "", page(3, 4, 8), "Invalid color format in TIF/TIFF file."},
    };
    const std::string path = folder.Path("bad.tif");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunTool("rm -f " + Quoted(path));
        if (c.command.empty()) {
            WriteFile(path, c.file);
        } else {
            ASSERT_EQ(RunTool(Command({"bad.tif", c.command}, path)).status, 0);
        }
        EXPECT_EQ(MessageOf([&] { Load(path); }), c.message);
    }
}

TEST(TIFF, StripsAndColourMapsAreBoundedByTheFile) {
    TScratchFolder folder;
    const std::string path = folder.Path("strips.tif");
    ASSERT_EQ(RunTool("convert -size 8x8 gradient:red-blue -depth 8 -type Palette -compress None " + Quoted(path)).status, 0);
    std::string bytes = ReadFile(path);
    // Each directory entry whose values lie behind an offset gets one far beyond the file.
    const size_t directory = size_t(uint8_t(bytes[4])) | size_t(uint8_t(bytes[5])) << 8;
    const int count = uint8_t(bytes[directory]);
    for (int i = 0; i < count; ++i) {
        std::string damaged = bytes;
        damaged[directory + 2 + 12 * size_t(i) + 11] = 0x7F;
        WriteFile(path, damaged);
        try {
            Load(path);
        } catch (const Exception&) {
        }
    }
}

}  // namespace

namespace {

TEST(GIF, VersionAndAFileWithoutAnImage) {
    const std::string screen = "GIF89a\x02\0\x01\0\0\0\0"s;
    TMemoryStream stream;
    const std::string file = screen + ",\0\0\0\0\x02\0\x01\0\0\x02\x02\x44\x01\0;"s;
    stream.WriteBuffer(file.data(), int64_t(file.size()));
    stream.SetPosition(0);
    TGIFGraphic gif;
    ASSERT_TRUE(gif.ReadHeaderProperties(stream, 0));
    EXPECT_EQ(gif.ImageProperties().Version, 89u);
    EXPECT_EQ(MessageOf([&] { LoadBytes(TGIFGraphic(), screen + "!\xFE\x02hi\0;"s); }),
              "Cannot load image. Invalid or unexpected GIF image format.");
}

}  // namespace

namespace {

TEST(PNG, DamagedChunksRaiseTheirMessages) {
    TScratchFolder folder;
    const std::string path = folder.Path("a.png");
    ASSERT_EQ(RunTool("convert -size 4x4 gradient:red-blue -depth 8 " + Quoted(path)).status, 0);
    const std::string bytes = ReadFile(path);
    std::string crc = bytes;
    crc[20] ^= 1;  // inside IHDR
    EXPECT_EQ(MessageOf([&] { LoadBytes(TPNGGraphic(), crc); }), "Cannot load image. Invalid or unexpected PNG image format.");
    const size_t idat = bytes.find("IDAT");
    std::string critical = bytes;
    critical.replace(idat, 4, "ABCD");
    EXPECT_NE(MessageOf([&] { LoadBytes(TPNGGraphic(), critical); }), "(no exception)");
}

}  // namespace

namespace {

// PostScript with a TIFF preview behind the 30-byte binary header.
TEST(EPS, ThePreviewIsRead) {
    TScratchFolder folder;
    const std::string tiff = folder.Path("preview.tif");
    ASSERT_EQ(RunTool("convert -size 6x4 gradient:red-blue -depth 8 -compress LZW " + Quoted(tiff)).status, 0);
    const std::string preview = ReadFile(tiff), postscript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 6 4\n";
    const auto u32 = [](size_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    const std::string file = "\xC5\xD0\xD3\xC6"s + u32(30) + u32(postscript.size()) + u32(0) + u32(0) +
                             u32(30 + postscript.size()) + u32(preview.size()) + "\xFF\xFF"s + postscript + preview;
    const std::string path = folder.Path("picture.eps");
    WriteFile(path, file);
    const auto ours = Load(path);
    ASSERT_TRUE(ours);
    EXPECT_EQ(Difference(*ours, ReadWithImageMagick(tiff)), 0);
    EXPECT_EQ(MessageOf([&] { LoadBytes(TEPSGraphic(), file.substr(0, 60)); }), "Cannot load image. Invalid or unexpected EPS image format.");
}

}  // namespace
