#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

#include "DriverTestSupport.h"
#include "PictureFixtures.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVColorConvert.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KVTiff.h"

namespace {

struct TTiffRead {
    bool ok = false;
    int pages = 0;
    TRgbImage pixels;
    std::shared_ptr<TIOParamsVals> params = std::make_shared<TIOParamsVals>(nullptr);
};

// Reads the page the record names into the bitmap; false when the reader gave up.
bool ReadInto(const std::string& bytes, TKVBitmap& bitmap, TIOParamsVals& params, int& pages) {
    TKVMemStream stream(bytes.data(), int64_t(bytes.size()));
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    ReadTIFFStream(&bitmap, stream, pages, false, false, true, false, progress, &params);
    return !aborted.load();
}

TTiffRead ReadPage(const std::string& bytes, int page, bool native = false) {
    TTiffRead result;
    TKVBitmap bitmap;
    result.params->TiffImageIndex = page;
    result.params->IsNativePixelFormat = native;
    result.ok = ReadInto(bytes, bitmap, *result.params, result.pages);
    if (result.ok) result.pixels = PixelsOf(bitmap);
    return result;
}

// Page 0 in the file's own pixel format; false when the reader gave up.
bool ReadNativePage(const std::string& bytes, TKVBitmap& bitmap) {
    TIOParamsVals params(nullptr);
    params.IsNativePixelFormat = true;
    int pages = 0;
    return ReadInto(bytes, bitmap, params, pages);
}

// Page n of a file as libtiff's own converter decodes it. The page is taken out uncompressed,
// so that lossy pages are not coded once more. YCbCr and CIELab pages go through libtiff's RGBA
// conversion first, which tifftopnm lacks.
TRgbImage TifftopnmPage(const TScratchFolder& folder, const std::string& path, int page, bool viaRgba = false) {
    const std::string single = folder.Path("page.tif"), ppm = folder.Path("page.ppm");
    MakeFixture(single, "rm -f " + Quoted(single) + " && tiffcp -c none " + Quoted(path + "," + std::to_string(page)) + " " + Quoted(single));
    if (viaRgba) MakeFixture(single, "tiff2rgba " + Quoted(single) + " " + Quoted(single + ".rgba") + " && mv " +
                                         Quoted(single + ".rgba") + " " + Quoted(single));
    MakeFixture(ppm, "tifftopnm " + Quoted(single) + " | ppmtoppm > " + Quoted(ppm));
    return ReadPpm(ppm);
}

// Two pages of different sizes in each kind the writers of other programs produce.
struct TSources {
    std::string rgb, gray, bilevel, palette, minIsBlack;
};

TSources MakeSources(const TScratchFolder& folder) {
    WriteFile(folder.Path("a.ppm"), PatternPpm(37, 23));
    WriteFile(folder.Path("b.ppm"), PatternPpm(20, 11));
    const std::string pages = Quoted(folder.Path("a.ppm")) + " " + Quoted(folder.Path("b.ppm"));
    TSources s{folder.Path("rgb.tif"), folder.Path("gray.tif"), folder.Path("bilevel.tif"), folder.Path("palette.tif"),
               folder.Path("minisblack.tif")};
    MakeFixture(s.rgb, "convert " + pages + " -compress none " + Quoted(s.rgb));
    MakeFixture(s.gray, "convert " + pages + " -colorspace gray -depth 8 -compress none " + Quoted(s.gray));
    // Bilevel pages from netpbm, whose converter writes them at 1 bit.
    const auto bilevel = [&](const std::string& path, const std::string& sense) {
        std::string command;
        for (const char* page : {"a", "b"}) {
            const std::string ppm = Quoted(folder.Path(std::string(page) + ".ppm"));
            command += "ppmtopgm " + ppm + " | pgmtopbm | pnmtotiff " + sense + " > " + Quoted(folder.Path(std::string(page) + sense + ".tif")) + " && ";
        }
        MakeFixture(path, command + "tiffcp " + Quoted(folder.Path("a" + sense + ".tif")) + " " +
                              Quoted(folder.Path("b" + sense + ".tif")) + " " + Quoted(path));
    };
    bilevel(s.bilevel, "-miniswhite");
    bilevel(s.minIsBlack, "-minisblack");
    MakeFixture(s.palette, "convert " + pages + " -colors 13 -type palette -compress none " + Quoted(s.palette));
    return s;
}

TEST(TiffReader, EveryLayoutAndCodingMatchesLibtiffPageByPage) {
    TScratchFolder folder;
    const TSources s = MakeSources(folder);
    // ImageMagick's JPEG pages hold RGB samples with the JPEG tables in the directory.
    const std::string magickJpeg = folder.Path("magick-jpeg.tif");
    MakeFixture(magickJpeg, "convert " + Quoted(s.rgb) + " -compress jpeg " + Quoted(magickJpeg));
    // Cases without options read the source file as its maker wrote it.
    struct Case { std::string source, options; bool lossy; } cases[] = {
        {s.rgb, "-c none", false},        {s.rgb, "-c lzw", false},          {s.rgb, "-c lzw:2", false},
        {s.rgb, "-c packbits", false},    {s.rgb, "-c zip:2", false},        {s.rgb, "-c jpeg", true},
        {s.rgb, "-c jpeg:r", true},       {s.gray, "-c jpeg", true},         {magickJpeg, "", true},
        {s.rgb, "-c lzw -p separate", false}, {s.rgb, "-c zip -t -w 16 -l 16", false}, {s.rgb, "-B -c lzw:2", false},
        {s.rgb, "-B -p separate", false}, {s.gray, "-c lzw:2", false},       {s.gray, "-B -c packbits -t -w 16 -l 16", false},
        {s.palette, "-c lzw", false},     {s.palette, "-c none -B", false},
        {s.bilevel, "-c none", false},    {s.bilevel, "-c g3", false},       {s.bilevel, "-c g3:2d", false},
        {s.bilevel, "-c g4", false},      {s.bilevel, "-c g3 -f lsb2msb", false}, {s.bilevel, "-c g4 -f lsb2msb -B", false},
        {s.bilevel, "-c g3:2d:fill", false}, {s.bilevel, "-c packbits -t -w 16 -l 16", false},
        {s.minIsBlack, "-c g3", false},   {s.minIsBlack, "-c g4", false},    {s.minIsBlack, "-c none", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " " + c.options);
        const std::string path = folder.Path("fixture.tif");
        MakeFixture(path, "rm -f " + Quoted(path) + " && " + (c.options.empty() ? "cp " : "tiffcp " + c.options + " ") +
                              Quoted(c.source) + " " + Quoted(path));
        const std::string bytes = ReadFile(path);
        for (int page = 0; page < 2; ++page) {
            SCOPED_TRACE(page);
            const TTiffRead read = ReadPage(bytes, page);
            ASSERT_TRUE(read.ok);
            EXPECT_EQ(read.pages, 2);
            const TRgbImage expected = TifftopnmPage(folder, path, page, c.lossy);
            // The noisy pattern makes chroma upsampling differ; a colour mix-up differs far more.
            if (c.lossy) EXPECT_LT(MeanDifference(read.pixels, expected), 12.0);
            else EXPECT_TRUE(SamePixels(read.pixels, expected));
        }
    }
}

TEST(TiffReader, NativeFormatsKeepGrayAndPalette) {
    TScratchFolder folder;
    const TSources s = MakeSources(folder);
    // A JPEG page comes from the JPEG reader as 24-bit pixels, whatever its samples.
    const std::string grayJpeg = folder.Path("gray-jpeg.tif");
    MakeFixture(grayJpeg, "tiffcp -c jpeg " + Quoted(s.gray) + " " + Quoted(grayJpeg));
    for (const std::string& source : {s.gray, s.palette, grayJpeg}) {
        const std::string bytes = ReadFile(source);
        const TTiffRead read = ReadPage(bytes, 1, true);
        ASSERT_TRUE(read.ok);
        EXPECT_TRUE(SamePixels(read.pixels, TifftopnmPage(folder, source, 1)));
    }
}

TEST(TiffReader, ParametersComeFromTheDirectory) {
    TScratchFolder folder;
    const std::string path = folder.Path("p.tif");
    WriteFile(folder.Path("a.ppm"), PatternPpm(12, 8));
    MakeFixture(path, "convert " + Quoted(folder.Path("a.ppm")) + " -units PixelsPerCentimeter -density 100 -compress lzw " + Quoted(path));
    MakeFixture(path, "tiffset -s 269 'the document' " + Quoted(path) + " && tiffset -s 285 'page one' " + Quoted(path));
    const TTiffRead read = ReadPage(ReadFile(path), 0);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.params->Width, 12);
    EXPECT_EQ(read.params->Height, 8);
    EXPECT_EQ(read.params->DpiX(), 254);
    EXPECT_EQ(read.params->TiffCompression, 5);
    EXPECT_EQ(read.params->TiffDocumentName, "the document");
    EXPECT_EQ(read.params->TiffPageName, "page one");
    EXPECT_EQ(read.params->SamplesPerPixel, 3);
}

// A little-endian structure of one IFD per entry list, each IFD linking to the next.
std::string TinyTiff(const std::vector<std::vector<std::array<uint32_t, 4>>>& ifds, const std::string& pixels,
                     bool loop = false) {
    std::string out("II*\0", 4), body = pixels;
    auto le = [](std::string& s, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) s += char(v >> (8 * i));
    };
    const uint32_t pixelsAt = 8;
    uint32_t at = pixelsAt + uint32_t(pixels.size());
    if (at % 2) body += '\0', ++at;
    le(out, at, 4);
    out += body;
    for (size_t i = 0; i < ifds.size(); ++i) {
        const uint32_t size = 2 + 12 * uint32_t(ifds[i].size()) + 4;
        le(out, uint32_t(ifds[i].size()), 2);
        for (const auto& e : ifds[i]) {
            le(out, e[0], 2);
            le(out, e[1], 2);
            le(out, e[2], 4);
            le(out, e[3] == 0xFFFFFFFE ? pixelsAt : e[3], 4);
        }
        const bool last = i + 1 == ifds.size();
        le(out, last ? (loop ? at : 0) : at + size, 4);
        if (!last) at += size;
    }
    return out;
}

TEST(TiffReader, DamagedStructuresAbortWithoutBlankPages) {
    const std::string row(4, '\x5A');
    // 8 x 4, 1 bit, uncompressed, one strip at the pixels.
    const std::vector<std::array<uint32_t, 4>> bilevel = {
        {256, 3, 1, 8}, {257, 3, 1, 4}, {258, 3, 1, 1}, {262, 3, 1, 1}, {273, 4, 1, 0xFFFFFFFE}, {279, 4, 1, 4}};
    auto with = [&](std::array<uint32_t, 4> extra) {
        auto entries = bilevel;
        for (auto& e : entries)
            if (e[0] == extra[0]) e = extra;
        if (std::none_of(entries.begin(), entries.end(), [&](auto& e) { return e[0] == extra[0]; })) entries.push_back(extra);
        std::sort(entries.begin(), entries.end());
        return entries;
    };
    EXPECT_TRUE(ReadPage(TinyTiff({bilevel}, row), 0).ok);
    // A chain that points back at itself counts its page once.
    const TTiffRead looped = ReadPage(TinyTiff({bilevel, bilevel}, row, true), 1);
    EXPECT_TRUE(looped.ok);
    EXPECT_EQ(looped.pages, 2);
    const TTiffRead missing = ReadPage(TinyTiff({bilevel, bilevel}, row), 3);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.pages, 2);
    struct Case { const char* what; std::array<uint32_t, 4> entry; } refused[] = {
        {"unknown compression", {259, 3, 1, 34676}},
        {"old-style JPEG", {259, 3, 1, 6}},
        {"CIELab with one sample", {262, 3, 1, 8}},
        {"palette without a colour map", {262, 3, 1, 3}},
        {"zero width", {256, 3, 1, 0}},
        {"huge tile width", {322, 4, 1, 0x7FFFFFF0}},
        {"strip count past the file", {273, 4, 0x40000000, 8}},
        {"odd depth", {258, 3, 1, 12}},
    };
    for (const Case& c : refused) EXPECT_FALSE(ReadPage(TinyTiff({with(c.entry)}, row), 0).ok) << c.what;
    EXPECT_FALSE(ReadPage("MZ*\0\x08\0\0\0\0\0", 0).ok);
    // A bilevel page declaring RGB reads as WhiteIsZero: 0x5A gives 0xA5 in the bitmap (1 = white).
    const TTiffRead rgbBilevel = ReadPage(TinyTiff({with({262, 3, 1, 2})}, row), 0);
    ASSERT_TRUE(rgbBilevel.ok);
    EXPECT_EQ(rgbBilevel.pixels.At(0, 0)[0], 255);  // bit 0 of 0x5A is 0: white under WhiteIsZero
    EXPECT_EQ(rgbBilevel.pixels.At(1, 0)[0], 0);
}

TEST(TiffReader, PageCountAndDngTest) {
    TScratchFolder folder;
    const TSources s = MakeSources(folder);
    const std::string bytes = ReadFile(s.rgb);
    TKVMemStream stream(bytes.data(), int64_t(bytes.size()));
    EXPECT_EQ(GetTIFFStreamPageCount(stream), 2);
    EXPECT_FALSE(TIFFIsDNGStream(stream));
    const std::string path = folder.Path("dng.tif");
    MakeFixture(path, "cp " + Quoted(s.gray) + " " + Quoted(path) + " && tiffset -s 50706 4 1 4 0 0 " + Quoted(path));
    const std::string dng = ReadFile(path);
    TKVMemStream dngStream(dng.data(), int64_t(dng.size()));
    EXPECT_TRUE(TIFFIsDNGStream(dngStream));
}

TEST(TiffReader, ComponentLoadsEachPageAndCountsThem) {
    TScratchFolder folder;
    const TSources s = MakeSources(folder);
    const std::string path = folder.Path("three.tif");
    MakeFixture(path, "tiffcp -c g4 " + Quoted(s.bilevel) + " " + Quoted(s.minIsBlack + ",1") + " " + Quoted(path));
    EXPECT_EQ(GetFileFrameCount(path), 3);
    EXPECT_EQ(DetectFileFormat(path, true), kvftTIFF);
    for (int page = 0; page < 3; ++page) {
        TKestovaIO io;
        io.Params().SetImageIndex(page);
        EXPECT_EQ(io.LoadFromFileTIFF(path), 3);
        ASSERT_FALSE(io.AbortFlag) << page;
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), TifftopnmPage(folder, path, page))) << page;
        EXPECT_EQ(io.Params().FileType, kvftTIFF);
    }
    TKestovaIO io;
    io.Params().SetImageIndex(3);
    EXPECT_EQ(io.LoadFromFileTIFF(path), 3);
    EXPECT_TRUE(io.AbortFlag);
    // A DNG is a TIFF structure, but not a TIFF picture.
    const std::string dng = folder.Path("x.dng");
    MakeFixture(dng, "cp " + Quoted(s.gray) + " " + Quoted(dng) + " && tiffset -s 50706 4 1 4 0 0 " + Quoted(dng));
    const std::string bytes = ReadFile(dng);
    TKVMemStream stream(bytes.data(), int64_t(bytes.size()));
    EXPECT_NE(DetectStreamFormat(stream), kvftTIFF);
}

// Writes the picture through the writer with the record's choices; empty when it aborted.
std::string WriteTiff(TKVBitmap& bitmap, TIOParamsVals& params) {
    TMemoryStream out;
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    EXPECT_EQ(WriteTIFFStream(out, false, &bitmap, progress, params), 1);
    return aborted.load() ? std::string() : StreamBytes(out);
}

// libtiff reads the file without a complaint.
void ExpectCleanTiff(const std::string& path) {
    const TCommandResult info = RunTool("tiffinfo -D " + Quoted(path));
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_FALSE(Contains(info.output, "Error") || Contains(info.output, "Warning")) << info.output;
}

TEST(TiffWriter, EveryCodingIsReadByLibtiffAsWritten) {
    TScratchFolder folder;
    TKVBitmap colour;
    ImageToBitmap(PatternImage(45, 31), colour);
    TKVBitmap bilevel;
    bilevel.Assign(&colour);
    bilevel.SetPixelFormat(kv1Bit);
    struct Case { const char* what; TKVBitmap* bitmap; int bits, samples, compression, fillOrder; bool lossy; } cases[] = {
        {"RGB none", &colour, 8, 3, 0, 1, false},        {"RGB LZW", &colour, 8, 3, 5, 1, false},
        {"RGB PackBits", &colour, 8, 3, 8, 1, false},    {"RGB JPEG", &colour, 8, 3, 7, 1, true},
        {"palette LZW", &colour, 8, 1, 5, 1, false},     {"16 colours", &colour, 4, 1, 8, 1, false},
        {"bilevel none", &bilevel, 1, 1, 0, 1, false},   {"Huffman", &bilevel, 1, 1, 1, 1, false},
        {"Group 3", &bilevel, 1, 1, 2, 1, false},        {"Group 3 2-D", &bilevel, 1, 1, 3, 1, false},
        {"Group 4", &bilevel, 1, 1, 4, 1, false},        {"Group 4 LSB first", &bilevel, 1, 1, 4, 2, false},
        {"Group 3 LSB first", &bilevel, 1, 1, 2, 2, false}, {"bilevel LZW", &bilevel, 1, 1, 5, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TIOParamsVals params(nullptr);
        params.BitsPerSample = c.bits;
        params.SamplesPerPixel = c.samples;
        params.TiffCompression = uint8_t(c.compression);
        params.TiffFillOrder = c.fillOrder;
        params.TiffJpegQuality = 95;
        const std::string bytes = WriteTiff(*c.bitmap, params);
        ASSERT_FALSE(bytes.empty());
        const std::string path = folder.Path("ours.tif");
        WriteFile(path, bytes);
        ExpectCleanTiff(path);
        const TRgbImage theirs = TifftopnmPage(folder, path, 0, c.lossy);
        const TTiffRead ours = ReadPage(bytes, 0);
        ASSERT_TRUE(ours.ok);
        if (c.lossy) {
            // Chroma subsampling of this small, edgy pattern costs some; a colour mix-up far more.
            EXPECT_LT(MeanDifference(theirs, PixelsOf(*c.bitmap)), 14.0);
            EXPECT_LT(MeanDifference(ours.pixels, PixelsOf(*c.bitmap)), 14.0);
        } else if (c.samples == 1 && c.bits > 1) {
            EXPECT_TRUE(SamePixels(ours.pixels, theirs));
            EXPECT_LT(MeanDifference(theirs, PixelsOf(*c.bitmap)), c.bits == 8 ? 6.0 : 20.0);
        } else {
            EXPECT_TRUE(SamePixels(theirs, PixelsOf(*c.bitmap)));
            EXPECT_TRUE(SamePixels(ours.pixels, theirs));
        }
    }
}

TEST(TiffWriter, AlphaGoesOutAsAnExtraSample) {
    TScratchFolder folder;
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(9, 5), bitmap);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) bitmap.SetAlpha(x, y, uint8_t(x * 28));
    TIOParamsVals params(nullptr);
    params.TiffCompression = 5;
    const std::string path = folder.Path("alpha.tif");
    WriteFile(path, WriteTiff(bitmap, params));
    ExpectCleanTiff(path);
    const std::string dump = RunTool("tiffdump " + Quoted(path)).output;
    EXPECT_TRUE(Contains(dump, "BitsPerSample (258) SHORT (3) 4<8 8 8 8>")) << dump;
    EXPECT_TRUE(Contains(dump, "ExtraSamples (338) SHORT (3) 1<2>")) << dump;
    const std::string copy = folder.Path("copy.tif");
    MakeFixture(copy, "tiffcp -c none " + Quoted(path) + " " + Quoted(copy));
    params.TiffCompression = 0;
    const std::string plain = folder.Path("plain.tif");
    WriteFile(plain, WriteTiff(bitmap, params));
    const TCommandResult compared = RunTool("tiffcmp " + Quoted(plain) + " " + Quoted(copy));
    EXPECT_EQ(compared.status, 0) << compared.output;
}

TEST(TiffWriter, InsertingLinksThePageAtItsIndex) {
    TScratchFolder folder;
    TKVBitmap first, second, third;
    ImageToBitmap(PatternImage(12, 7), first);
    ImageToBitmap(PatternImage(5, 9), second);
    ImageToBitmap(PatternImage(8, 8), third);
    TIOParamsVals params(nullptr);
    params.TiffCompression = 5;
    TMemoryStream file;
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    EXPECT_EQ(WriteTIFFStream(file, false, &first, progress, params), 1);
    file.SetPosition(0);
    params.TiffImageIndex = 0;
    EXPECT_EQ(WriteTIFFStream(file, true, &second, progress, params), 2);
    file.SetPosition(0);
    params.TiffImageIndex = 9;
    EXPECT_EQ(WriteTIFFStream(file, true, &third, progress, params), 3);
    ASSERT_FALSE(aborted.load());
    const std::string path = folder.Path("three.tif");
    WriteFile(path, StreamBytes(file));
    ExpectCleanTiff(path);
    TKVBitmap* expected[] = {&second, &first, &third};
    for (int page = 0; page < 3; ++page) {
        EXPECT_TRUE(SamePixels(TifftopnmPage(folder, path, page), PixelsOf(*expected[page]))) << page;
    }
    // Not a little-endian structure, or a chain that loops: nothing is written.
    for (const std::string& bad : {std::string("MM\0*\0\0\0\x08", 8), TinyTiff({{{256, 3, 1, 1}}}, "", true)}) {
        TMemoryStream stream;
        LoadBytes(stream, bad);
        stream.SetPosition(0);
        std::atomic<bool> failed{false};
        progress.AbortFlag = &failed;
        WriteTIFFStream(stream, true, &first, progress, params);
        EXPECT_TRUE(failed.load());
        EXPECT_EQ(StreamBytes(stream), bad);
    }
}

TEST(TiffWriter, PicturesItCannotStoreAbort) {
    TKVBitmap cmyk;
    cmyk.Allocate(4, 4, kvCMYK);
    TIOParamsVals params(nullptr);
    EXPECT_TRUE(WriteTiff(cmyk, params).empty());
}

TEST(TiffWriter, InsertingIntoAFileReplacesItOnlyWhenComplete) {
    TScratchFolder folder;
    TKVBitmap first, second;
    ImageToBitmap(PatternImage(12, 7), first);
    ImageToBitmap(PatternImage(5, 9), second);
    const std::string path = folder.Path("pages.tif");
    TIOParamsVals params(nullptr);
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    EXPECT_EQ(InsertTIFFFilePage(path, first, progress, params), 1);
    EXPECT_EQ(InsertTIFFFilePage(path, second, progress, params), 2);
    EXPECT_TRUE(SamePixels(TifftopnmPage(folder, path, 0), PixelsOf(second)));
    EXPECT_TRUE(SamePixels(TifftopnmPage(folder, path, 1), PixelsOf(first)));
    // A big-endian file cannot take a page: it stays as it was, with nothing beside it.
    const std::string other = folder.Path("other.tif");
    MakeFixture(other, "tiffcp -B " + Quoted(path) + " " + Quoted(other));
    const std::string before = ReadFile(other);
    EXPECT_EQ(InsertTIFFFilePage(other, first, progress, params), 0);
    EXPECT_TRUE(aborted.load());
    EXPECT_EQ(ReadFile(other), before);
    EXPECT_EQ(folder.Files().size(), 4u) << testing::PrintToString(folder.Files());  // pages, other, page.tif, page.ppm
}

TEST(TiffWriter, MetadataTravelsWithThePage) {
    TScratchFolder folder;
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(6, 4), bitmap);
    TIOParamsVals params(nullptr);
    params.IptcInfo.AddDataSet(2, 5, 5, "title");  // 5 + 5 bytes: 3 LONGs
    params.TiffDocumentName = "scan";
    params.TiffPageName = "front";
    const std::string path = folder.Path("meta.tif");
    WriteFile(path, WriteTiff(bitmap, params));
    ExpectCleanTiff(path);
    const std::string dump = RunTool("tiffdump " + Quoted(path)).output;
    EXPECT_TRUE(Contains(dump, "33723 (0x83bb) LONG (4) ")) << dump;
    EXPECT_EQ(RunTool("exiftool -s -s -s -IPTC:ObjectName -DocumentName -PageName " + Quoted(path)).output, "title\nscan\nfront\n");
    const TTiffRead read = ReadPage(ReadFile(path), 0);
    ASSERT_TRUE(read.ok);
    ASSERT_GE(read.params->IptcInfo.Count(), 1);
    const TKVIPTCInfoList& iptc = read.params->IptcInfo;
    EXPECT_EQ(std::string(iptc.GetData(iptc.Count() - 1).begin(), iptc.GetData(iptc.Count() - 1).end()), "title");
    EXPECT_EQ(read.params->TiffDocumentName, "scan");
}

TEST(TiffReader, SixteenBitSamplesStayWholeInNativeFormats) {
    TScratchFolder folder;
    const std::string gray = folder.Path("gray.tif"), rgb = folder.Path("rgb.tif");
    WriteFile(folder.Path("g.pgm"), std::string("P5\n2 1\n65535\n\x12\x34\xAB\xCD", 17));
    WriteFile(folder.Path("c.ppm"), std::string("P6\n1 1\n65535\n\x01\x02\x03\x04\x05\x06", 19));
    MakeFixture(gray, "pnmtotiff " + Quoted(folder.Path("g.pgm")) + " > " + Quoted(gray));
    MakeFixture(rgb, "pnmtotiff -truecolor " + Quoted(folder.Path("c.ppm")) + " > " + Quoted(rgb));
    // 16-bit differencing in both byte orders, and plain samples.
    for (const std::string options : {"-c lzw:2", "-B -c zip:2", "-B -c none"}) {
        SCOPED_TRACE(options);
        const std::string grayCopy = folder.Path("g-copy.tif"), rgbCopy = folder.Path("c-copy.tif");
        MakeFixture(grayCopy, "tiffcp " + options + " " + Quoted(gray) + " " + Quoted(grayCopy));
        MakeFixture(rgbCopy, "tiffcp " + options + " " + Quoted(rgb) + " " + Quoted(rgbCopy));
        const std::string grayBytes = ReadFile(grayCopy), rgbBytes = ReadFile(rgbCopy);
        for (const auto& [bytes, format] : {std::pair{grayBytes, kv16Gray}, std::pair{rgbBytes, kvRGB48}}) {
            TKVBitmap bitmap;
            ASSERT_TRUE(ReadNativePage(bytes, bitmap));
            ASSERT_EQ(bitmap.GetPixelFormat(), format);
            const auto* words = reinterpret_cast<const uint16_t*>(bitmap.GetScanline(0));
            if (format == kv16Gray) EXPECT_EQ((std::vector<uint16_t>{words[0], words[1]}), (std::vector<uint16_t>{0x1234, 0xABCD}));
            else EXPECT_EQ((std::vector<uint16_t>{words[0], words[1], words[2]}), (std::vector<uint16_t>{0x0102, 0x0304, 0x0506}));
        }
    }
}

// A netpbm picture of smooth ramps, flat stretches and noise, so that LZW strings grow long, the
// code table fills and starts over, and differencing has work in every row.
std::string RampsPnm(int width, int height, int samples, int maxValue) {
    std::string data = std::string(samples == 1 ? "P5\n" : "P6\n") + std::to_string(width) + " " +
                       std::to_string(height) + "\n" + std::to_string(maxValue) + "\n";
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < samples; ++c) {
                noise = noise * 1103515245 + 12345;
                const int flat = (x / 40 + y / 16) % 3 == 0;
                const int value = flat ? 1000 * c : (x * 211 + y * 97 * (c + 1)) % (maxValue + 1) ^ int(noise >> 28);
                if (maxValue > 255) data += char(value >> 8);
                data += char(value);
            }
    return data;
}

// The samples of a binary netpbm file, as 16-bit values for a maxval above 255.
std::vector<uint16_t> PnmSamples(const std::string& pnm) {
    size_t at = 0;
    int fields[4] = {};
    for (int& field : fields) {
        while (at < pnm.size() && std::isspace(uint8_t(pnm[at]))) ++at;
        size_t end = at;
        while (end < pnm.size() && !std::isspace(uint8_t(pnm[end]))) ++end;
        field = &field == fields ? 0 : std::atoi(pnm.substr(at, end - at).c_str());
        at = end;
    }
    ++at;  // the one whitespace byte before the samples
    std::vector<uint16_t> samples;
    for (; at < pnm.size(); at += fields[3] > 255 ? 2 : 1)
        samples.push_back(fields[3] > 255 ? uint16_t(uint8_t(pnm[at]) << 8 | uint8_t(pnm[at + 1])) : uint8_t(pnm[at]));
    return samples;
}

// The samples of a picture read in its native format, red first.
std::vector<uint16_t> BitmapSamples(TKVBitmap& bitmap) {
    std::vector<uint16_t> samples;
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < bitmap.GetWidth(); ++x) switch (bitmap.GetPixelFormat()) {
                case kv8Gray: samples.push_back(row[x]); break;
                case kv24RGB: samples.insert(samples.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]}); break;
                case kv16Gray: samples.push_back(reinterpret_cast<const uint16_t*>(row)[x]); break;
                case kvRGB48:
                    for (int c = 0; c < 3; ++c) samples.push_back(reinterpret_cast<const uint16_t*>(row)[3 * x + c]);
                    break;
                default: ADD_FAILURE() << "format " << bitmap.GetPixelFormat(); return samples;
            }
    }
    return samples;
}

TEST(TiffReader, LzwPagesOfEveryDepthAndPredictorMatchLibtiff) {
    TScratchFolder folder;
    struct Case {
        int samples, maxValue;
        std::string options;  // tiffcp's
        TKVPixelFormat format;
    } cases[] = {
        {1, 255, "-c lzw -r 7", kv8Gray},         {1, 255, "-c lzw:2 -r 7", kv8Gray},
        {3, 255, "-c lzw -r 100", kv24RGB},       {3, 255, "-c lzw:2 -r 3", kv24RGB},
        {3, 255, "-c lzw:2 -r 100 -B", kv24RGB},  {1, 65535, "-c lzw -r 11", kv16Gray},
        {1, 65535, "-c lzw:2 -r 11", kv16Gray},   {1, 65535, "-c lzw:2 -r 11 -B", kv16Gray},
        {3, 65535, "-c lzw -r 5 -B", kvRGB48},    {3, 65535, "-c lzw:2 -r 100", kvRGB48},
        {3, 65535, "-c lzw:2 -r 5 -B", kvRGB48},  {3, 255, "-c lzw:2 -p separate -r 9", kv24RGB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.samples << " samples to " << c.maxValue << " " << c.options);
        const std::string source = folder.Path("source.pnm"), plain = folder.Path("plain.tif");
        const std::string path = folder.Path("lzw.tif"), pnm = folder.Path("libtiff.pnm");
        WriteFile(source, RampsPnm(301, 97, c.samples, c.maxValue));
        MakeFixture(plain, "pnmtotiff " + std::string(c.samples == 3 ? "-truecolor " : "") + Quoted(source) + " > " + Quoted(plain));
        MakeFixture(path, "rm -f " + Quoted(path) + " && tiffcp " + c.options + " " + Quoted(plain) + " " + Quoted(path));
        // Row by row tifftopnm keeps all 16 bits; it cannot read separate planes that way.
        MakeFixture(pnm, "tifftopnm " + std::string(c.maxValue > 255 ? "-byrow " : "") + Quoted(path) + " > " + Quoted(pnm));
        const std::string bytes = ReadFile(path);
        TKVBitmap bitmap;
        ASSERT_TRUE(ReadNativePage(bytes, bitmap));
        ASSERT_EQ(bitmap.GetPixelFormat(), c.format);
        const std::vector<uint16_t> expected = PnmSamples(ReadFile(pnm));
        ASSERT_EQ(expected.size(), size_t(301 * 97 * c.samples));
        const std::vector<uint16_t> ours = BitmapSamples(bitmap);
        EXPECT_TRUE(ours == expected) << "first difference at sample "
                                      << std::mismatch(ours.begin(), ours.end(), expected.begin(), expected.end()).first - ours.begin();
    }
}

// A header read reads the directories, not the pixels; it must still tell what a decode tells.
TEST(TiffReader, HeaderReadsGiveWhatDecodesGive) {
    TScratchFolder folder;
    const TSources s = MakeSources(folder);
    const std::string described = folder.Path("described.tif");
    WriteFile(folder.Path("a.ppm"), PatternPpm(12, 8));
    MakeFixture(described, "convert " + Quoted(folder.Path("a.ppm")) + " -units PixelsPerCentimeter -density 100 -compress lzw " +
                               Quoted(described) + " && tiffset -s 269 'the document' " + Quoted(described) +
                               " && tiffset -s 270 'a description' " + Quoted(described));
    for (const std::string& path : {s.rgb, s.palette, s.bilevel, described}) {
        const std::string bytes = ReadFile(path);
        for (int page = 0; page < 2; ++page) {
            SCOPED_TRACE(path + " page " + std::to_string(page));
            const TTiffRead decoded = ReadPage(bytes, page);
            TKVMemStream stream(bytes.data(), int64_t(bytes.size()));
            TKVBitmap unused;
            TIOParamsVals params(nullptr);
            params.TiffImageIndex = page;
            std::atomic<bool> aborted{false};
            TKVProgressRec progress;
            progress.AbortFlag = &aborted;
            int pages = 0;
            ReadTIFFStream(&unused, stream, pages, false, false, true, true, progress, &params);
            EXPECT_EQ(aborted.load(), !decoded.ok);
            EXPECT_EQ(pages, decoded.pages);
            if (!decoded.ok) continue;  // the described file has one page
            EXPECT_TRUE(unused.IsEmpty());
            const TIOParamsVals& full = *decoded.params;
            EXPECT_EQ(params.Width, full.Width);
            EXPECT_EQ(params.Height, full.Height);
            EXPECT_EQ(params.BitsPerSample, full.BitsPerSample);
            EXPECT_EQ(params.SamplesPerPixel, full.SamplesPerPixel);
            EXPECT_EQ(params.ImageCount(), full.ImageCount());
            EXPECT_EQ(params.DpiX(), full.DpiX());
            EXPECT_EQ(params.TiffCompression, full.TiffCompression);
            EXPECT_EQ(params.TiffPhotometric, full.TiffPhotometric);
            EXPECT_EQ(params.TiffDocumentName, full.TiffDocumentName);
            EXPECT_EQ(params.TiffImageDescription, full.TiffImageDescription);
            EXPECT_EQ(params.ColorMap.size(), full.ColorMap.size());
            EXPECT_TRUE(params.ColorMap == full.ColorMap);
        }
    }
}

TEST(TiffReader, StreamHeadersLetPicturesFollowOneAnother) {
    TKVBitmap first, second;
    ImageToBitmap(PatternImage(7, 3), first);
    ImageToBitmap(PatternImage(4, 6), second);
    std::string joined;
    for (TKVBitmap* bitmap : {&first, &second}) {
        TIOParamsVals params(nullptr);
        const std::string bytes = WriteTiff(*bitmap, params);
        const auto length = uint32_t(bytes.size());
        joined += std::string("TIFF\0\0\0\0", 8) + std::string{char(length), char(length >> 8), char(length >> 16), char(length >> 24)} + bytes;
    }
    TKVMemStream stream(joined.data(), int64_t(joined.size()));
    EXPECT_EQ(DetectStreamFormat(stream), kvftTIFF);
    for (TKVBitmap* expected : {&first, &second}) {
        TKestovaIO io;
        io.LoadFromStreamFormat(stream, kvftTIFF);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), PixelsOf(*expected)));
    }
    EXPECT_EQ(stream.Position(), int64_t(joined.size()));
}

// The component writes each picture behind its header; libtiff reads every one of them, and the
// component reads them back one after another, counting the pages of each.
TEST(TiffWriter, StreamHeadersLetTheComponentStoreSeveralPictures) {
    TScratchFolder folder;
    const TRgbImage pictures[] = {PatternImage(7, 3), PatternImage(4, 6), PatternImage(9, 2)};
    TMemoryStream stream;
    for (const TRgbImage& picture : pictures) {
        TKestovaIO io;
        io.StreamHeaders = true;
        ImageToBitmap(picture, io.WorkBitmap());
        io.SaveToStreamTIFF(stream);
        ASSERT_FALSE(io.AbortFlag);
    }
    const std::string joined = StreamBytesOf(stream);
    size_t at = 0;
    for (const TRgbImage& picture : pictures) {
        ASSERT_LE(at + 12, joined.size());
        EXPECT_EQ(joined.substr(at, 8), std::string("TIFF\0\0\0\0", 8));
        const uint32_t length = uint32_t(uint8_t(joined[at + 8])) | uint32_t(uint8_t(joined[at + 9])) << 8 |
                                uint32_t(uint8_t(joined[at + 10])) << 16 | uint32_t(uint8_t(joined[at + 11])) << 24;
        ASSERT_LE(at + 12 + length, joined.size());
        const std::string path = folder.Path("one.tif");
        WriteFile(path, joined.substr(at + 12, length));
        EXPECT_TRUE(SamePixels(TifftopnmPage(folder, path, 0), picture));
        at += 12 + length;
    }
    EXPECT_EQ(at, joined.size());
    stream.SetPosition(0);
    for (const TRgbImage& picture : pictures) {
        TKestovaIO io;
        io.StreamHeaders = true;
        EXPECT_EQ(io.LoadFromStreamTIFF(stream), 1);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), picture));
    }
    EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(TiffReader, TwelveBitGrayOfOneScannerProgramKeepsItsLowBits) {
    TScratchFolder folder;
    const std::string gray = folder.Path("gray.tif");
    WriteFile(folder.Path("g.pgm"), std::string("P5\n2 1\n65535\n\x01\x23\x0F\xFF", 17));
    for (const auto& [software, expected] : {std::pair{"Look@Dorvi v1.1 (scan)", 0x12}, std::pair{"other", 0x01}}) {
        MakeFixture(gray, "pnmtotiff " + Quoted(folder.Path("g.pgm")) + " > " + Quoted(gray) + " && tiffset -s 305 " +
                              Quoted(software) + " " + Quoted(gray));
        const TTiffRead read = ReadPage(ReadFile(gray), 0);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.pixels.At(0, 0)[0], expected) << software;
    }
}

}  // namespace

TEST(TiffReader, OldStyleJpegIsMeasuredByItsMarkers) {
    TScratchFolder folder;
    const std::string jpg = folder.Path("a.jpg"), ppm = folder.Path("a.ppm");
    WriteFile(folder.Path("src.ppm"), PatternPpm(16, 8));
    MakeFixture(jpg, "convert " + Quoted(folder.Path("src.ppm")) + " -quality 90 " + Quoted(jpg));
    MakeFixture(ppm, "djpeg -pnm " + Quoted(jpg) + " > " + Quoted(ppm));
    const std::string jpeg = ReadFile(jpg);
    const TRgbImage expected = ReadPpm(ppm);
    const uint32_t size = uint32_t(jpeg.size());
    struct Case { const char* what; uint32_t declared; } cases[] = {
        {"declared exactly", size}, {"declared too short", 20}, {"declared past the file", size + 100000},
        {"declared as zero", 0}};
    for (const Case& c : cases) {
        const TTiffRead read = ReadPage(TinyTiff({{{256, 3, 1, 16}, {257, 3, 1, 8}, {259, 3, 1, 6}, {262, 3, 1, 6},
                                                   {277, 3, 1, 3}, {513, 4, 1, 0xFFFFFFFE}, {514, 4, 1, c.declared}}},
                                                 jpeg), 0);
        ASSERT_TRUE(read.ok) << c.what;
        EXPECT_LE(MaxDifference(read.pixels, expected), 1) << c.what;
    }
}

TEST(TiffWriter, CmykRowsComeFromTheRowColourConverter) {
    TScratchFolder folder;
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(6, 3), bitmap);
    TIOParamsVals params(nullptr);
    params.TiffPhotometric = 5;
    const std::string path = folder.Path("cmyk.tif");
    WriteFile(path, WriteTiff(bitmap, params));
    ExpectCleanTiff(path);
    const std::string dump = RunTool("tiffdump " + Quoted(path)).output;
    EXPECT_TRUE(Contains(dump, "Photometric (262) SHORT (3) 1<5>")) << dump;
    EXPECT_LE(MaxDifference(ReadPage(ReadFile(path), 0).pixels, PixelsOf(bitmap)), 2);
    // A converter put in place of the default one decides every byte of the page.
    struct TRestore {
        TKVColorConverter saved = KVColorConvert.load();
        ~TRestore() { KVColorConvert = saved; }
    } restore;
    KVColorConvert = [](const uint8_t* source, int space, uint8_t* dest, TIOParamsVals* p, int64_t count, int format) {
        if (format != kvccCMYK) return KVDefaultColorConvert(source, space, dest, p, count, format);
        for (int64_t i = 0; i < 4 * count; ++i) dest[i] = uint8_t(10 * (i % 4 + 1));
    };
    const std::string stubbed = folder.Path("stub.tif");
    WriteFile(stubbed, WriteTiff(bitmap, params));
    const std::string stubDump = RunTool("tiffdump " + Quoted(stubbed)).output;
    const size_t field = stubDump.find("StripOffsets (273) LONG (4) 1<");
    ASSERT_NE(field, std::string::npos) << stubDump;
    const size_t strip = std::stoul(stubDump.substr(field + 30));
    const std::string bytes = ReadFile(stubbed);
    ASSERT_GE(bytes.size(), strip + 4 * 6 * 3);
    // The file holds ink amounts: each converter byte inverted.
    for (size_t i = 0; i < 4 * 6 * 3; ++i) EXPECT_EQ(uint8_t(bytes[strip + i]), 255 - 10 * (i % 4 + 1)) << i;
}

TEST(TiffWriter, YCbCrWithoutJpegIsWrittenAsRgb) {
    TScratchFolder folder;
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(7, 5), bitmap);
    TIOParamsVals params(nullptr);
    params.TiffPhotometric = 6;
    params.TiffCompression = 8;
    const std::string rgb = folder.Path("rgb.tif");
    WriteFile(rgb, WriteTiff(bitmap, params));
    EXPECT_EQ(params.TiffPhotometric, 2);
    ExpectCleanTiff(rgb);
    EXPECT_TRUE(Contains(RunTool("tiffdump " + Quoted(rgb)).output, "Photometric (262) SHORT (3) 1<2>"));
    EXPECT_TRUE(SamePixels(TifftopnmPage(folder, rgb, 0), PixelsOf(bitmap)));
}

namespace {

// Writes the picture as one page into the folder; the path, or empty when the writer aborted.
std::string WriteTiffFile(const TScratchFolder& folder, TKVBitmap& bitmap, TIOParamsVals& params) {
    const std::string bytes = WriteTiff(bitmap, params);
    if (bytes.empty()) return {};
    const std::string path = folder.Path("written.tif");
    WriteFile(path, bytes);
    return path;
}

// The bytes of the first strip, as tiffdump locates them.
std::string FirstStrip(const std::string& path, size_t count) {
    const std::string dump = RunTool("tiffdump " + Quoted(path)).output;
    const size_t field = dump.find("StripOffsets (273) LONG (4) 1<");
    if (field == std::string::npos) return {};
    return ReadFile(path).substr(std::stoul(dump.substr(field + 30)), count);
}

TEST(TiffReader, CieLabPagesBecomeTheirRgbColours) {
    TScratchFolder folder;
    const TRgbImage source = PatternImage(29, 13);
    WriteFile(folder.Path("source.ppm"), PpmBytes(source));
    const std::string theirs = folder.Path("theirs.tif");
    MakeFixture(theirs, "convert " + Quoted(folder.Path("source.ppm")) + " -colorspace Lab -depth 8 -compress lzw " + Quoted(theirs));
    TKVBitmap bitmap;
    ImageToBitmap(source, bitmap);
    TIOParamsVals params(nullptr);
    params.TiffPhotometric = 7;
    const std::string ours = WriteTiffFile(folder, bitmap, params);
    ASSERT_FALSE(ours.empty());
    // Both name D65 as their white. Whole units of a* and b* move saturated colours by a unit or
    // two, so the mean is the measure; ImageMagick's own round trip is not exact, so its file is
    // held to its own decode.
    for (const std::string& path : {theirs, ours}) {
        SCOPED_TRACE(path);
        const TTiffRead read = ReadPage(ReadFile(path), 0);
        ASSERT_TRUE(read.ok);
        EXPECT_LT(MeanDifference(read.pixels, ReadWithImageMagick(path)), 2.0);
        if (path == ours) {
            EXPECT_LT(MeanDifference(read.pixels, source), 2.0);
        }
    }
}

TEST(TiffWriter, CieLabPagesHoldTheTiffLayoutAndDecodeToTheSourceColours) {
    TScratchFolder folder;
    // Primaries, secondaries, white, gray and black with their published D65 L*a*b* values:
    // L* scaled to 0..255, a* and b* as signed bytes.
    struct Colour { uint8_t r, g, b; int L, a, bStar; } colours[] = {
        {255, 0, 0, 136, 80, 67},     {0, 255, 0, 224, -86, 83},   {0, 0, 255, 82, 79, -108},
        {255, 255, 0, 248, -22, 94},  {0, 255, 255, 232, -48, -14}, {255, 0, 255, 154, 98, -61},
        {255, 255, 255, 255, 0, 0},   {128, 128, 128, 137, 0, 0},  {0, 0, 0, 0, 0, 0},
    };
    TRgbImage row{int(std::size(colours)), 1, {}};
    for (const Colour& c : colours) row.pixels.insert(row.pixels.end(), {c.r, c.g, c.b});
    TKVBitmap primaries;
    ImageToBitmap(row, primaries);
    TIOParamsVals params(nullptr);
    params.TiffPhotometric = 7;
    const std::string path = WriteTiffFile(folder, primaries, params);
    ASSERT_FALSE(path.empty());
    const std::string strip = FirstStrip(path, 3 * std::size(colours));
    ASSERT_EQ(strip.size(), 3 * std::size(colours));
    for (size_t i = 0; i < std::size(colours); ++i) {
        EXPECT_NEAR(uint8_t(strip[3 * i]), colours[i].L, 1) << i;
        EXPECT_NEAR(int8_t(strip[3 * i + 1]), colours[i].a, 1) << i;
        EXPECT_NEAR(int8_t(strip[3 * i + 2]), colours[i].bStar, 1) << i;
    }
    TKVBitmap pattern;
    ImageToBitmap(PatternImage(29, 13), pattern);
    for (const int compression : {0, 5, 8}) {
        SCOPED_TRACE(compression);
        params.TiffCompression = uint8_t(compression);
        for (TKVBitmap* bitmap : {&primaries, &pattern}) {
            const std::string written = WriteTiffFile(folder, *bitmap, params);
            ASSERT_FALSE(written.empty());
            ExpectCleanTiff(written);
            const std::string dump = RunTool("tiffdump " + Quoted(written)).output;
            EXPECT_TRUE(Contains(dump, "Photometric (262) SHORT (3) 1<8>")) << dump;
            EXPECT_TRUE(Contains(dump, "BitsPerSample (258) SHORT (3) 3<8 8 8>")) << dump;
            EXPECT_TRUE(Contains(dump, "Whitepoint (318) RATIONAL (5) 2<0.3127 0.329>")) << dump;
            // ImageMagick and libtiff each turn CIELab back into RGB by their own code. Whole
            // units of a* and b* move channels near 0 of saturated colours far, and each tool
            // has its own approximations, so the mean is the measure.
            const TRgbImage source = PixelsOf(*bitmap);
            EXPECT_LT(MeanDifference(ReadWithImageMagick(written), source), 5.0);
            EXPECT_LT(MeanDifference(TifftopnmPage(folder, written, 0, true), source), 5.0);
        }
    }
}

TEST(TiffWriter, JpegPagesTakeTheirColoursFromTheJpegColourSpace) {
    TScratchFolder folder;
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(48, 24), bitmap);
    const TRgbImage source = PixelsOf(bitmap);
    WriteFile(folder.Path("source.ppm"), PpmBytes(source));
    const std::string grayPath = folder.Path("gray.ppm");
    MakeFixture(grayPath, "ppmtopgm " + Quoted(folder.Path("source.ppm")) + " | pgmtoppm white > " + Quoted(grayPath));
    const TRgbImage gray = ReadPpm(grayPath);
    struct Case { int space; const char *photometric, *samples; const TRgbImage& expected; } cases[] = {
        {0, "1<2>", "1<3>", source}, {1, "1<1>", "1<1>", gray},   {2, "1<6>", "1<3>", source},
        {3, "1<5>", "1<4>", source}, {4, "1<2>", "1<3>", source},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.space);
        TIOParamsVals params(nullptr);
        params.TiffCompression = 7;
        params.TiffJpegColorSpace = uint8_t(c.space);
        params.TiffJpegQuality = 95;
        const std::string path = WriteTiffFile(folder, bitmap, params);
        ASSERT_FALSE(path.empty());
        ExpectCleanTiff(path);
        const std::string dump = RunTool("tiffdump " + Quoted(path)).output;
        EXPECT_TRUE(Contains(dump, "Photometric (262) SHORT (3) " + std::string(c.photometric))) << dump;
        EXPECT_TRUE(Contains(dump, "SamplesPerPixel (277) SHORT (3) " + std::string(c.samples))) << dump;
        // Chroma subsampling of the edgy pattern costs about 6; a colour or ink mix-up far more.
        EXPECT_LT(MeanDifference(TifftopnmPage(folder, path, 0, true), c.expected), 8.0);
        const TTiffRead ours = ReadPage(ReadFile(path), 0);
        ASSERT_TRUE(ours.ok);
        EXPECT_LT(MeanDifference(ours.pixels, c.expected), 8.0);
    }
}

// The bitmap's kvCMYK bytes: C, M, Y, K per pixel, each the complement of the ink amount.
std::string CmykBytesOf(TKVBitmap& bitmap) {
    std::string bytes;
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        bytes.append(reinterpret_cast<const char*>(bitmap.GetScanline(y)), size_t(4 * bitmap.GetWidth()));
    return bytes;
}

TEST(TiffReader, SeparatedPagesStayCmykInNativeFormats) {
    TScratchFolder folder;
    WriteFile(folder.Path("a.ppm"), PatternPpm(21, 13));
    const std::string eight = folder.Path("cmyk8.tif"), sixteen = folder.Path("cmyk16.tif");
    MakeFixture(eight, "convert " + Quoted(folder.Path("a.ppm")) + " -colorspace CMYK -depth 8 -compress none " + Quoted(eight));
    MakeFixture(sixteen, "convert " + Quoted(folder.Path("a.ppm")) + " -colorspace CMYK -depth 16 -compress none " + Quoted(sixteen));
    struct Case { const std::string& source; const char* options; } cases[] = {
        {eight, "-c none"}, {eight, "-c lzw:2"}, {eight, "-B -c zip -p separate"}, {eight, "-c packbits -t -w 16 -l 16"},
        {eight, "-c jpeg"}, {sixteen, "-c none"}, {sixteen, "-B -c lzw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " " + c.options);
        const std::string path = folder.Path("fixture.tif"), inks = folder.Path("inks.raw");
        MakeFixture(path, "rm -f " + Quoted(path) + " && tiffcp " + c.options + " " + Quoted(c.source) + " " + Quoted(path));
        MakeFixture(inks, "convert " + Quoted(path) + " -depth 8 cmyk:" + Quoted(inks));
        const std::string expectedInks = ReadFile(inks), bytes = ReadFile(path);
        TKVBitmap bitmap;
        ASSERT_TRUE(ReadNativePage(bytes, bitmap));
        ASSERT_EQ(bitmap.GetPixelFormat(), kvCMYK);
        const std::string ours = CmykBytesOf(bitmap);
        ASSERT_EQ(ours.size(), expectedInks.size());
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            worst = std::max(worst, std::abs(255 - uint8_t(ours[i]) - uint8_t(expectedInks[i])));
        EXPECT_LE(worst, 1);  // ImageMagick rounds 16-bit samples, the bitmap keeps their high bytes
        // Without native formats the inks become RGB as libtiff's converter makes it.
        const TTiffRead rgb = ReadPage(bytes, 0);
        ASSERT_TRUE(rgb.ok);
        EXPECT_LE(MaxDifference(rgb.pixels, TifftopnmPage(folder, path, 0)), 1);
    }
}

TEST(TiffReader, SeparatedPagesOfOtherInksAreRefused) {
    TScratchFolder folder;
    WriteFile(folder.Path("a.ppm"), PatternPpm(6, 4));
    const std::string path = folder.Path("inks.tif");
    MakeFixture(path, "convert " + Quoted(folder.Path("a.ppm")) + " -colorspace CMYK -depth 8 -compress none " + Quoted(path));
    ASSERT_TRUE(ReadPage(ReadFile(path), 0).ok);
    MakeFixture(path, "tiffset -s 332 2 " + Quoted(path));
    for (const bool native : {false, true}) EXPECT_FALSE(ReadPage(ReadFile(path), 0, native).ok) << native;
}

}  // namespace
