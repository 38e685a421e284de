// Pictures as image XObjects: encodings, reuse, placement, JPEG pass-through, checked with poppler.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "PdfTestSupport.h"
#include "pdf/PdfEncoding.h"
#include "pdf/PdfKalmora.h"

namespace {

TEST(PdfAscii85, EncodesGroupsZerosAndTails) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "~>"},
        {std::string(5, '\0'), "z!!~>"},
        {"\xFF\xFF\xFF", "s8W*~>"},
        {"\xFF\xFF\xFF\xFF", "s8W-!~>"},
        {"Man ", "9jqo^~>"},
        {"Man is", "9jqo^Bla~>"},
        {std::string(3, '\0'), "!!!!~>"},
    };
    for (const auto& [bytes, text] : cases) {
        std::string out;
        Ascii85Encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
        EXPECT_EQ(out, text);
        // Fed in pieces of every size, the writer gives the same text.
        for (size_t piece = 1; piece <= 5; ++piece) {
            std::string pieces, block(8, '\0');
            TAscii85Writer writer(block, [&](char* text, size_t size) { pieces.append(text, size); });
            for (size_t at = 0; at < bytes.size(); at += piece)
                writer.Write(reinterpret_cast<const uint8_t*>(bytes.data()) + at, std::min(piece, bytes.size() - at));
            writer.Finish();
            EXPECT_EQ(pieces, text) << piece;
            EXPECT_EQ(writer.TextSize(), int64_t(text.size()));
        }
    }
}

TEST(PdfAscii85, TheWriterAgreesWithTheWholeEncodingOnLongData) {
    // Long enough for the wide path of the writer, with zero groups, all-ones groups and the
    // values at the powers of 85.
    std::vector<uint8_t> data(100003);
    uint32_t seed = 12345;
    for (uint8_t& byte : data) byte = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 24);
    std::fill(data.begin() + 1000, data.begin() + 1100, 0);
    std::fill(data.begin() + 2000, data.begin() + 2100, 0xFF);
    size_t at = 4000;
    for (const uint32_t value : {1u, 84u, 85u, 7224u, 7225u, 614124u, 614125u, 52200624u, 52200625u, 0xFFFFFFFFu})
        for (int k = 3; k >= 0; --k) data[at++] = static_cast<uint8_t>(value >> (8 * k));
    std::string whole;
    Ascii85Encode(data.data(), data.size(), whole);
    for (const size_t piece : {1, 7, 33, 4096, 100003}) {
        std::string pieces, block(1 << 16, '\0');
        TAscii85Writer writer(block, [&](char* text, size_t size) { pieces.append(text, size); });
        for (size_t from = 0; from < data.size(); from += piece)
            writer.Write(data.data() + from, std::min(piece, data.size() - from));
        writer.Finish();
        EXPECT_TRUE(pieces == whole) << piece;
    }
}

// A document in points whose page is one point larger than the picture, so that the picture
// fills the page from its second row at 72 dpi.
class PdfImages : public ::testing::Test {
protected:
    void Begin(TPdfCompressMode mode, int width = 400, int height = 400) {
        pdf.SetFileName(Path());
        pdf.SetLengthUnit(luPoint);
        pdf.SetPageWidth(width);
        pdf.SetPageHeight(height);
        pdf.SetImageCompressMode(mode);
        pdf.BeginDoc();
    }
    std::string End() {
        pdf.EndDoc();
        EXPECT_TRUE(QpdfChecks(Path()));
        return ReadFile(Path());
    }
    std::string Path() const { return scratch.Path("images.pdf"); }
    // One line per image of `pdfimages -list`, without the header.
    std::vector<std::string> ImageList() {
        std::vector<std::string> lines;
        std::istringstream output(RunTool("pdfimages -list " + Quoted(Path())).output);
        std::string line;
        for (int n = 0; std::getline(output, line); ++n)
            if (n >= 2) lines.push_back(line);
        return lines;
    }
    // The given columns of an image list line: page, type, width, height, color, comp, bpc, enc.
    static std::string Columns(const std::string& line) {
        std::istringstream words(line);
        std::string page, num, type, width, height, color, comp, bpc, enc;
        words >> page >> num >> type >> width >> height >> color >> comp >> bpc >> enc;
        return page + " " + width + "x" + height + " " + color + " " + bpc + " " + enc;
    }
    std::string MakeJpeg(const std::string& name, const std::string& convertArguments) {
        const std::string path = scratch.Path(name);
        const TCommandResult made = RunTool("convert " + convertArguments + " " + Quoted(path));
        EXPECT_EQ(made.status, 0) << made.output;
        return path;
    }
    TScratchFolder scratch;
    TPdfKalmora pdf;
};

TEST_F(PdfImages, OneWhitePixelUncompressed) {
    Begin(cpNone);
    TBitmap white;
    white.SetSize(1, 1);
    white.SetPixel(0, 0, clWhite);
    pdf.Canvas().StretchDraw(Rect(0, 0, 10, 10), &white);
    const std::string file = End();
    EXPECT_TRUE(Contains(file, "/Type/XObject\n/Subtype/Image\n/Width 1\n/Height 1\n/ColorSpace/DeviceRGB\n"
                               "/BitsPerComponent 8\n/Length 6\n/Filter[/ASCII85Decode\n]\n>>\nstream\ns8W*~>\nendstream\n"));
    EXPECT_TRUE(Contains(file, "/XObject <<\n/Im0 "));
}

TEST_F(PdfImages, EachCompressionShowsInPdfimagesAndFlateRendersExactly) {
    const TBitmap picture = GradientBitmap(40, 30);
    for (const TPdfCompressMode mode : {cpNone, cpZlib}) {
        Begin(mode, 41, 31);
        pdf.SetSmartStretchDraw(false);
        pdf.Canvas().StretchDraw(Rect(0, 0, 41, 31), &picture);
        const std::string file = End();
        EXPECT_EQ(Contains(file, "/Filter[/ASCII85Decode\n/FlateDecode\n]"), mode == cpZlib);
        ASSERT_EQ(ImageList().size(), 1u);
        EXPECT_EQ(Columns(ImageList()[0]), "1 40x30 rgb 8 image");
        const TRgbImage render = RenderPage(Path());
        ASSERT_EQ(render.width, 41);
        int differences = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const uint8_t* bgr = picture.ScanLine(y) + 3 * x;
                const uint8_t* rgb = render.At(x, y + 1);
                differences += rgb[0] != bgr[2] || rgb[1] != bgr[1] || rgb[2] != bgr[0];
            }
        EXPECT_EQ(differences, 0) << "mode " << mode;
    }
}

TEST_F(PdfImages, JpegEncodedPagesStayCloseToTheSource) {
    Begin(cpJpeg, 65, 49);
    pdf.SetSmartStretchDraw(false);
    const TBitmap picture = GradientBitmap(64, 48);
    pdf.Canvas().StretchDraw(Rect(0, 0, 65, 49), &picture);
    const std::string file = End();
    EXPECT_TRUE(Contains(file, "/Filter[/ASCII85Decode\n/DCTDecode\n]"));
    EXPECT_EQ(Columns(ImageList().at(0)), "1 64x48 rgb 8 jpeg");
    const TRgbImage render = RenderPage(Path());
    ASSERT_EQ(render.width, 65);
    double squares = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = double(render.At(x, y + 1)[c]) - picture.ScanLine(y)[3 * x + 2 - c];
                squares += d * d;
            }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / (64 * 48 * 3)));
    EXPECT_GT(psnr, 30);
}

TEST_F(PdfImages, OneBitPicturesStayOneBitOnlyUnderZlib) {
    // White dots on black, once with the usual colour table and once with an inverted one.
    TBitmap bilevel;
    bilevel.SetPixelFormat(TPixelFormat::pf1bit);
    bilevel.SetSize(10, 3);
    TBitmap inverted;
    inverted.SetPixelFormat(TPixelFormat::pf1bit);
    inverted.SetPalette({{255, 255, 255, 0}, {0, 0, 0, 0}});
    inverted.SetSize(10, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x) {
            const TColor color = y == 1 && x % 2 == 0 ? clWhite : clBlack;
            bilevel.SetPixel(x, y, color);
            inverted.SetPixel(x, y, color);
        }
    for (const TPdfCompressMode mode : {cpZlib, cpNone, cpJpeg}) {
        Begin(mode, 21, 4);
        pdf.SetSmartStretchDraw(false);
        pdf.Canvas().StretchDraw(Rect(0, 0, 11, 4), &bilevel);
        pdf.Canvas().StretchDraw(Rect(10, 0, 21, 4), &inverted);
        End();
        const auto list = ImageList();
        ASSERT_EQ(list.size(), 2u);
        for (const std::string& line : list)
            EXPECT_EQ(Columns(line), mode == cpZlib ? "1 10x3 gray 1 image"
                                     : mode == cpNone ? "1 10x3 rgb 8 image"
                                                      : "1 10x3 rgb 8 jpeg");
        if (mode == cpZlib) {
            const TRgbImage render = RenderPage(Path());
            ASSERT_EQ(render.width, 21);
            for (int x = 0; x < 20; ++x) {
                EXPECT_EQ(render.At(x, 2)[0], x % 2 == 0 ? 255 : 0) << x;
                EXPECT_EQ(render.At(x, 1)[0], 0) << x;
            }
        }
    }
}

TEST_F(PdfImages, PalettePicturesKeepTheirColoursUnderZlib) {
    TBitmap paletted;
    paletted.SetPixelFormat(TPixelFormat::pf8bit);
    paletted.SetPalette({{10, 20, 30, 0}, {200, 100, 50, 0}});
    paletted.SetSize(2, 1);
    paletted.SetPixel(1, 0, RGB(200, 100, 50));
    Begin(cpZlib, 3, 2);
    pdf.SetSmartStretchDraw(false);
    pdf.Canvas().StretchDraw(Rect(0, 0, 3, 2), &paletted);
    End();
    EXPECT_EQ(Columns(ImageList().at(0)), "1 2x1 rgb 8 image");
    const TRgbImage render = RenderPage(Path());
    ASSERT_EQ(render.width, 3);
    EXPECT_EQ(std::vector<int>(render.At(0, 1), render.At(0, 1) + 6), (std::vector<int>{10, 20, 30, 200, 100, 50}));
}

TEST_F(PdfImages, TheSamePictureIsStoredOnceUnlessEveryDrawingIsNew) {
    const TBitmap picture = GradientBitmap(8, 8);
    TBitmap copy = picture;
    std::string file;
    for (const TPdfCompressMode mode : {cpZlib, cpJpeg}) {
        Begin(mode);
        for (int page = 0; page < 3; ++page) {
            if (page) pdf.NewPage();
            pdf.Canvas().StretchDraw(Rect(0, 0, 100, 100), page == 1 ? &copy : &picture);
        }
        file = End();
        EXPECT_EQ(CountOf(file, "/Subtype/Image"), 1u) << mode;
        EXPECT_EQ(CountOf(file, "/Im0 Do"), 3u) << mode;
        EXPECT_EQ(ImageList().size(), 3u) << mode;  // one image drawn on three pages
    }

    Begin(cpZlib);
    pdf.Canvas().AlwaysNewImage = true;
    pdf.Canvas().StretchDraw(Rect(0, 0, 100, 100), &picture);
    pdf.Canvas().StretchDraw(Rect(0, 0, 100, 100), &picture);
    pdf.Canvas().AlwaysNewImage = false;
    file = End();
    EXPECT_EQ(CountOf(file, "/Subtype/Image"), 2u);
    EXPECT_TRUE(Contains(file, "/Im1 Do"));
}

TEST_F(PdfImages, OneBitPicturesThatDifferInTheirLastPixelAreTwoImages) {
    TBitmap first;
    first.SetPixelFormat(TPixelFormat::pf1bit);
    first.SetSize(10, 2);
    TBitmap second = first;
    second.SetPixel(9, 1, clWhite);
    for (const TPdfCompressMode mode : {cpZlib, cpJpeg}) {
        Begin(mode);
        pdf.Canvas().StretchDraw(Rect(0, 0, 100, 100), &first);
        pdf.Canvas().StretchDraw(Rect(0, 0, 100, 100), &second);
        EXPECT_EQ(CountOf(End(), "/Subtype/Image"), 2u) << mode;
    }
}

TEST_F(PdfImages, InvertedBoxesAreNormalisedAndBoxesTooSmallPlaceNothing) {
    const TBitmap wide = GradientBitmap(400, 200);
    struct {
        TRect rect;
        const char* line;  // empty: nothing placed
    } const cases[] = {
        {Rect(1000, 1000, 0, 0), "999 0 0 499 0 250 cm"},
        {Rect(0, 1000, 1000, 0), "999 0 0 499 0 250 cm"},
        {Rect(10, 10, 11, 500), ""},
        {Rect(0, 0, 1000, 1), ""},
    };
    for (const auto& c : cases) {
        Begin(cpZlib, 1000, 1000);
        pdf.Canvas().StretchDraw(c.rect, &wide);
        const std::string file = End();
        if (*c.line)
            EXPECT_TRUE(Contains(file, std::string("\nq\n") + c.line + "\n/Im0 Do\nQ\n")) << c.line;
        else
            EXPECT_FALSE(Contains(file, " Do\n")) << c.rect.Left << " " << c.rect.Right;
    }
}

TEST_F(PdfImages, PlacementKeepsTheAspectRatioWithinTheBox) {
    const TBitmap wide = GradientBitmap(400, 200), tall = GradientBitmap(200, 400);
    struct {
        const TBitmap* picture;
        int horz, vert;
        TRect rect;
        bool smart;
        const char* line;
    } const cases[] = {
        {&wide, 2, 2, Rect(0, 0, 1000, 1000), true, "999 0 0 499 0 250 cm"},
        {&wide, 2, 0, Rect(0, 0, 1000, 1000), true, "999 0 0 499 0 500 cm"},
        {&wide, 2, 1, Rect(0, 0, 1000, 1000), true, "999 0 0 499 0 0 cm"},
        {&tall, 2, 2, Rect(0, 0, 1000, 1000), true, "499 0 0 999 250 0 cm"},
        {&tall, 1, 2, Rect(0, 0, 1000, 1000), true, "499 0 0 999 500 0 cm"},
        {&tall, 0, 2, Rect(0, 0, 1000, 1000), true, "499 0 0 999 0 0 cm"},
        {&wide, 2, 2, Rect(0, 0, 1000, 1000), false, "999 0 0 999 0 0 cm"},
        // An empty box takes the picture's screen size: 400 x 200 pixels at 96 dpi are 300 x 150 points.
        {&wide, 2, 2, Rect(10, 20, 10, 20), true, "299 0 0 149 10 830 cm"},
    };
    for (const auto& c : cases) {
        Begin(cpZlib, 1000, 1000);
        pdf.SetSmartStretchDraw(c.smart);
        pdf.Canvas().ImageHorzAlign = c.horz;
        pdf.Canvas().ImageVertAlign = c.vert;
        pdf.Canvas().StretchDraw(c.rect, c.picture);
        EXPECT_TRUE(Contains(End(), std::string("\nq\n") + c.line + "\n/Im0 Do\nQ\n")) << c.line;
    }
}

TEST_F(PdfImages, JpegFilesPassThroughUnchangedWithTheirColourSpace) {
    struct {
        const char* name;
        const char* arguments;
        const char* columns;
    } const cases[] = {
        {"rgb.jpg", "-size 24x16 gradient:red-blue -quality 80", "1 24x16 rgb 8 jpeg"},
        {"gray.jpg", "-size 20x10 gradient:white-black -colorspace Gray", "1 20x10 gray 8 jpeg"},
        {"cmyk.jpg", "-size 12x12 xc:red -colorspace CMYK", "1 12x12 cmyk 8 jpeg"},
    };
    for (const auto& c : cases) {
        const std::string source = MakeJpeg(c.name, c.arguments);
        Begin(cpJpeg, 100, 100);
        pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), source);
        End();
        ASSERT_EQ(ImageList().size(), 1u) << c.name;
        EXPECT_EQ(Columns(ImageList()[0]), c.columns);
        const std::string extracted = scratch.Path("extracted");
        RunTool("pdfimages -j " + Quoted(Path()) + " " + Quoted(extracted));
        EXPECT_EQ(ReadFile(extracted + "-000.jpg"), ReadFile(source)) << c.name;
    }
    // The inverted Adobe CMYK data render as the red they hold.
    const TRgbImage render = RenderPage(Path());
    ASSERT_EQ(render.width, 100);
    const uint8_t* centre = render.At(50, 50);
    EXPECT_GT(centre[0], 200);
    EXPECT_LT(centre[1], 60);
    EXPECT_LT(centre[2], 60);
}

TEST_F(PdfImages, CmykJpegWithoutAnAdobeMarkerIsNotInverted) {
    std::string jpeg = ReadFile(MakeJpeg("adobe.jpg", "-size 12x12 xc:red -colorspace CMYK"));
    // Cut the Adobe segment (APP14) out of the file.
    const size_t adobe = jpeg.find("\xFF\xEE");
    ASSERT_NE(adobe, std::string::npos);
    ASSERT_EQ(jpeg.substr(adobe + 4, 5), "Adobe");
    const size_t length = size_t(uint8_t(jpeg[adobe + 2])) << 8 | uint8_t(jpeg[adobe + 3]);
    jpeg.erase(adobe, length + 2);
    const std::string plain = scratch.Path("plain-cmyk.jpg");
    WriteFile(plain, jpeg);
    Begin(cpJpeg, 100, 100);
    pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), plain);
    const std::string file = End();
    EXPECT_EQ(Columns(ImageList().at(0)), "1 12x12 cmyk 8 jpeg");
    EXPECT_TRUE(Contains(file, "/ColorSpace/DeviceCMYK\n"));
    EXPECT_FALSE(Contains(file, "/Decode"));
}

TEST_F(PdfImages, JpegFilesWithBytesAfterTheirEndPassThrough) {
    const std::string source = MakeJpeg("trailer.jpg", "-size 24x16 gradient:red-blue");
    std::string bytes = ReadFile(source) + std::string(100000, 'x');
    WriteFile(source, bytes);
    Begin(cpJpeg, 100, 100);
    pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), source);
    End();
    EXPECT_EQ(Columns(ImageList().at(0)), "1 24x16 rgb 8 jpeg");
}

TEST_F(PdfImages, AFileRewrittenBetweenDrawingsIsStoredAgain) {
    for (const TPdfCompressMode mode : {cpJpeg, cpZlib}) {
        const std::string source = MakeJpeg("changing.jpg", "-size 8x8 xc:blue");
        Begin(mode, 100, 100);
        pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), source);
        pdf.NewPage();
        pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), source);
        MakeJpeg("changing.jpg", "-size 16x8 xc:red");
        pdf.NewPage();
        pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), source);
        const std::string file = End();
        EXPECT_EQ(CountOf(file, "/Subtype/Image"), 2u) << mode;
        const auto list = ImageList();
        ASSERT_EQ(list.size(), 3u) << mode;
        EXPECT_TRUE(Contains(Columns(list[1]), "2 8x8 ")) << list[1];
        EXPECT_TRUE(Contains(Columns(list[2]), "3 16x8 ")) << list[2];
    }
}

TEST_F(PdfImages, LargeJpegFilesStreamThroughEncryptionUnchanged) {
    // Noise compresses badly, so the file spans several reading chunks.
    const std::string source = MakeJpeg("noise.jpg", "-size 700x500 xc: +noise Random -quality 95");
    ASSERT_GT(ReadFile(source).size(), 600000u);
    pdf.SetOwnerPassword("owner");
    pdf.SetUserPassword("user", true, false, false, false);
    Begin(cpJpeg, 100, 100);
    pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), source);
    pdf.EndDoc();
    EXPECT_TRUE(QpdfChecks(Path(), "user"));
    const std::string extracted = scratch.Path("extracted");
    RunTool("pdfimages -j -upw user " + Quoted(Path()) + " " + Quoted(extracted));
    EXPECT_TRUE(ReadFile(extracted + "-000.jpg") == ReadFile(source));
}

TEST_F(PdfImages, AFileChangedOrRemovedBeforeItsPageEndsStaysAsItWasDrawn) {
    const struct {
        const char* change;
        std::function<void(const std::string&)> apply;
    } cases[] = {
        {"removed", [](const std::string& path) { std::filesystem::remove(path); }},
        {"rewritten", [this](const std::string&) { MakeJpeg("moving.jpg", "-size 30x8 xc:red"); }},
        {"emptied", [](const std::string& path) { WriteFile(path, ""); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        const std::string source = MakeJpeg("moving.jpg", "-size 8x8 xc:blue");
        const std::string drawn = ReadFile(source);
        Begin(cpJpeg, 100, 100);
        pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), source);
        c.apply(source);
        pdf.NewPage();
        pdf.Canvas().TextOut(10, 10, "next");
        End();
        ASSERT_EQ(ImageList().size(), 1u);
        EXPECT_EQ(Columns(ImageList()[0]), "1 8x8 rgb 8 jpeg");
        const std::string extracted = scratch.Path("extracted");
        RunTool("pdfimages -j " + Quoted(Path()) + " " + Quoted(extracted));
        EXPECT_TRUE(ReadFile(extracted + "-000.jpg") == drawn);
    }
}

TEST_F(PdfImages, JpegFilesAreReencodedUnderZlibAndDrawnOnce) {
    const std::string source = MakeJpeg("photo.jpg", "-size 24x16 gradient:red-blue");
    Begin(cpZlib, 100, 100);
    pdf.Canvas().StretchDrawFile(Rect(0, 0, 100, 100), source);
    pdf.Canvas().StretchDrawFile(Rect(0, 0, 50, 50), source);
    const std::string file = End();
    EXPECT_EQ(ImageList().size(), 2u);
    EXPECT_EQ(Columns(ImageList()[0]), "1 24x16 rgb 8 image");
    EXPECT_EQ(CountOf(file, "/Subtype/Image"), 1u);
    EXPECT_EQ(CountOf(file, "/Im0 Do"), 2u);
}

TEST_F(PdfImages, BmpFilesAreReadByContent) {
    const std::string bmp = scratch.Path("picture.dat");
    ASSERT_EQ(RunTool("convert -size 6x4 xc:lime " + Quoted("bmp:" + bmp)).status, 0);
    Begin(cpZlib, 7, 5);
    pdf.SetSmartStretchDraw(false);
    pdf.Canvas().StretchDrawFile(Rect(0, 0, 7, 5), bmp);
    End();
    EXPECT_EQ(Columns(ImageList().at(0)), "1 6x4 rgb 8 image");
    const TRgbImage render = RenderPage(Path());
    ASSERT_EQ(render.width, 7);
    EXPECT_EQ(std::vector<int>(render.At(2, 2), render.At(2, 2) + 3), (std::vector<int>{0, 255, 0}));
}

TEST_F(PdfImages, BadPictureFilesAbandonTheDocumentWithAClearError) {
    const std::string text = scratch.Path("notes.txt");
    WriteFile(text, "not a picture");
    const std::string truncated = scratch.Path("cut.jpg");
    const std::string whole = ReadFile(MakeJpeg("whole.jpg", "-size 8x8 xc:blue"));
    WriteFile(truncated, whole.substr(0, 10));
    const std::string cutInScan = scratch.Path("cut-in-scan.jpg");
    const std::string photo = ReadFile(MakeJpeg("photo.jpg", "-size 64x64 gradient:red-blue"));
    WriteFile(cutInScan, photo.substr(0, photo.size() - 40));
    const std::string fakeJpeg = scratch.Path("fake.jpg");
    WriteFile(fakeJpeg, "\xFF\xD8\xFF garbage that is no JPEG");
    const std::string badBmp = scratch.Path("bad.bmp");
    WriteFile(badBmp, "BM\x10\0\0\0\0\0\0\0\xFF\xFF\0\0");
    const std::string unsupported = "Image format or compression scheme not supported";
    // A JPEG passed through says what is wrong with it.
    const struct {
        std::string file;
        TPdfCompressMode mode;
        std::string message;
    } cases[] = {
        {text, cpJpeg, unsupported},
        {truncated, cpJpeg, "Damaged JPEG data: truncated before its scan"},
        {truncated, cpZlib, unsupported},
        {cutInScan, cpJpeg, "Damaged JPEG data: truncated, no end of image after the scan"},
        {fakeJpeg, cpJpeg, "Damaged JPEG data: truncated before its scan"},
        {badBmp, cpNone, unsupported},
    };
    for (const auto& c : cases) {
        Begin(c.mode);
        EXPECT_EQ(MessageOf([&] { pdf.Canvas().StretchDrawFile(Rect(0, 0, 10, 10), c.file); }), c.message + ": " + c.file);
        EXPECT_FALSE(pdf.Printing());
    }
    Begin(cpJpeg);
    const std::string missing = scratch.Path("missing.jpg");
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().StretchDrawFile(Rect(0, 0, 10, 10), missing); }),
              "File not found: " + missing);
    Begin(cpJpeg);
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().StretchDraw(Rect(0, 0, 10, 10), nullptr); }), "Invalid method call");
    EXPECT_FALSE(Contains(scratch.Files().back(), "images.pdf"));
}

TEST_F(PdfImages, APictureNoJpegQualityCanStoreRaisesCantStoreImage) {
    TBitmap tooWide;
    tooWide.SetSize(70000, 1);  // beyond the JPEG format's largest dimension
    Begin(cpJpeg);
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().StretchDraw(Rect(0, 0, 10, 10), &tooWide); }), "Can't store image");
    EXPECT_FALSE(pdf.Printing());
}

}  // namespace
