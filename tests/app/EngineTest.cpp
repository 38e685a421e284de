// Whole runs of the engine from picture files on disk to documents, judged by qpdf and poppler.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <regex>

#include "AppTestSupport.h"
#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterPic.h"
#include "app/engine/MessageCatalogue.h"
#include "tzlib/DateTime.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"

namespace {

const std::string CrLf = "\r\n";

class EngineTest : public testing::Test {
protected:
    EngineTest() {
        previousTexts_ = ErrorTextCallback;
        ErrorTextCallback = GetCatalogueText;
        PicDirectory = pics.Folder();
    }
    ~EngineTest() override {
        ErrorTextCallback = previousTexts_;
        PicDirectory.clear();
    }

    // A picture made by ImageMagick; options choose the colour space ("-type Grayscale",
    // "-colorspace CMYK") or anything else.
    std::string Picture(const std::string& name, int width, int height, const std::string& options = "") {
        const std::string path = pics.Path(name);
        const std::string format = name.ends_with(".bmp") ? "BMP3:" : "";
        const TCommandResult made = RunTool("convert -size " + std::to_string(width) + "x" + std::to_string(height) +
                                            " gradient:red-blue " + options + " " + Quoted(format + path));
        EXPECT_EQ(made.status, 0) << made.output;
        return path;
    }
    void Add(const std::string& path) { TConverterPic::Add(converter, path, -1); }
    std::vector<std::string> Questions() {
        std::vector<std::string> texts;
        for (const auto& box : prompter->boxes) texts.push_back(box.text);
        return texts;
    }
    static std::string PdfInfo(const std::string& path, const std::string& options = "") {
        return RunTool("pdfinfo " + options + " " + Quoted(path)).output;
    }
    // Page 1 as poppler renders it at the engine's 96 dpi.
    TRgbImage RenderedPage(const std::string& pdf) {
        const std::string rendered = pics.Path("rendered");
        EXPECT_EQ(RunTool("pdftoppm -r 96 -singlefile " + Quoted(pdf) + " " + Quoted(rendered)).status, 0);
        return ReadPpm(rendered + ".ppm");
    }
    static int PageCount(const std::string& path) {
        std::smatch match;
        const std::string info = PdfInfo(path);
        return std::regex_search(info, match, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(match[1]) : -1;
    }

    TPrivateEnvironment environment;
    TScriptedPrompterGuard prompter;
    TScratchFolder pics;
    THeadlessHost host;
    TConverter converter{host};

private:
    TErrorTextFunc previousTexts_;
};

TEST_F(EngineTest, AnEmptyListWritesNothing) {
    EXPECT_EQ(MessageOf([&] { converter.MakePdf(); }), "No pic selected");
    EXPECT_TRUE(prompter->boxes.empty());
}

TEST_F(EngineTest, SingleRunMakesOneDocumentPerPictureSizedAtTheResolution) {
    const std::string gray = Picture("gray.jpg", 1200, 800, "-type Grayscale");
    const std::string rgb = Picture("rgb.jpg", 1200, 800);
    const std::string cmyk = Picture("cmyk.jpg", 1200, 800, "-colorspace CMYK");
    const std::string bmp = Picture("plain.bmp", 1200, 800);
    for (const std::string& path : {gray, rgb, cmyk, bmp}) Add(path);
    prompter->answers = {idNo};
    converter.MakePdf();

    EXPECT_EQ(Questions(), std::vector<std::string>{"4 pics converted." + CrLf + "Want to see them?"});
    EXPECT_TRUE(prompter->opened.empty());
    ASSERT_EQ(converter.GeneratedPdfs.Count(), 4);
    for (const std::string& source : {gray, rgb, cmyk, bmp}) {
        const std::string pdf = std::filesystem::path(source).replace_extension(".pdf");
        SCOPED_TRACE(pdf);
        ASSERT_TRUE(QpdfChecks(pdf));
        // 1200 x 800 pixels at 96 dpi: 3175 x 2117 tenths of a millimetre.
        EXPECT_TRUE(std::regex_search(PdfInfo(pdf), std::regex("Page size:\\s+900 x 600.094 pts"))) << PdfInfo(pdf);
        EXPECT_TRUE(std::regex_search(PdfInfo(pdf), std::regex("Encrypted:\\s+no")));
    }
    // JPEG sources are embedded as they are, with the colour space of their frame header.
    const std::string list = RunTool("pdfimages -list " + Quoted(pics.Path("cmyk.pdf"))).output;
    EXPECT_TRUE(std::regex_search(list, std::regex("image\\s+1200\\s+800\\s+cmyk\\s+4\\s+8\\s+jpeg"))) << list;
    for (const std::string& source : {gray, rgb, cmyk}) {
        const std::string pdf = std::filesystem::path(source).replace_extension(".pdf");
        const std::string prefix = pics.Path("out");
        ASSERT_EQ(RunTool("pdfimages -j " + Quoted(pdf) + " " + Quoted(prefix)).status, 0);
        EXPECT_EQ(ReadFile(prefix + "-000.jpg"), ReadFile(source)) << source;
        std::filesystem::remove(prefix + "-000.jpg");
    }
    // The BMP is stored as pixels.
    const std::string bmpList = RunTool("pdfimages -list " + Quoted(pics.Path("plain.pdf"))).output;
    EXPECT_TRUE(std::regex_search(bmpList, std::regex("image\\s+1200\\s+800\\s+rgb"))) << bmpList;
}

TEST_F(EngineTest, EveryKindThatCanBeReadGivesItsSizeAndColourMode) {
    struct TKindCase {
        std::string name, options;
        int width, height;
        std::string colours;
    };
    const TKindCase cases[] = {
        {"gray.jpg", "-type Grayscale", 31, 17, "256 colors (8 bits)"},
        {"rgb.jpg", "", 31, 17, "True color (24 bits)"},
        {"cmyk.jpg", "-colorspace CMYK", 31, 17, "True color (24 bits)"},
        {"bw.bmp", "-type bilevel", 30, 20, "Black-and-white"},
        {"p16.bmp", "-colors 10 -type palette", 30, 20, "16 colors (4 bits)"},
        {"truecolour.bmp", "", 30, 20, "True color (24 bits)"},
        {"icon.ico", "", 32, 32, "True color (24 bits)"},
        {"map.pxm", "-depth 8", 30, 20, "True color (24 bits)"},
        {"colour.png", "-depth 8 -define png:color-type=2", 30, 20, "True color (24 bits)"},
        {"grey.png", "-type Grayscale -depth 8", 30, 20, "256 colors (8 bits)"},
        {"still.gif", "-colors 8", 30, 20, "4 colors (2 bits)"},  // the gradient needs four
    };
    for (const TKindCase& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string path = pics.Path(test.name);
        const std::string format = test.name.ends_with(".bmp") ? "BMP3:" : test.name.ends_with(".pxm") ? "ppm:" : "";
        ASSERT_EQ(RunTool("convert -size " + std::to_string(test.width) + "x" + std::to_string(test.height) +
                          " gradient:red-blue " + test.options + " " + Quoted(format + path))
                      .status,
                  0);
        TConverterPic& pic = *TConverterPic::Add(converter, path, 0);
        pic.EnsureLoaded();  // through the view's input/output object, outside a run
        EXPECT_EQ(pic.FrameCount, 1);
        EXPECT_EQ(pic.Width, test.width);
        EXPECT_EQ(pic.Height, test.height);
        EXPECT_EQ(pic.GetColorModeText(), test.colours);
        EXPECT_EQ(converter.CurrentPic, &pic);
    }
    // A whole Single run over them: one valid document each.
    prompter->answers = {idNo};
    converter.MakePdf();
    EXPECT_EQ(converter.GeneratedPdfs.Count(), 11);
    for (int i = 0; i < converter.GeneratedPdfs.Count(); ++i) EXPECT_TRUE(QpdfChecks(converter.GeneratedPdfs.Strings(i)));
    EXPECT_EQ(converter.CurrentPic, nullptr);
}

TEST_F(EngineTest, FramesOfAMultiFrameFileAreCaptionedAndWrittenOneByOne) {
    const std::string anim = pics.Path("anim.gif");
    ASSERT_EQ(RunTool("convert -delay 10 -size 40x20 xc:red xc:lime xc:blue " + Quoted(anim)).status, 0);
    for (int frame : {-1, 1, 2}) TConverterPic::Add(converter, anim, frame);
    EXPECT_EQ(converter.GetPic(0)->FrameCount, 3);
    EXPECT_EQ(converter.Pics.Strings(0), anim + "#1");
    EXPECT_EQ(converter.Pics.Strings(2), anim + "#3");

    converter.Mode = cmBook;
    converter.PicsPerPage = 2;
    prompter->answers = {idNo};
    converter.MakePdf();
    const std::string book = pics.Path("Book1.pdf");
    ASSERT_TRUE(QpdfChecks(book));
    EXPECT_EQ(PageCount(book), 2);
    const std::string outlines = RunTool("qpdf --json --json-key=outlines " + Quoted(book)).output;
    EXPECT_LT(outlines.find("\"anim #1\""), outlines.find("\"anim #2\"")) << outlines;
    EXPECT_LT(outlines.find("\"anim #2\""), outlines.find("\"anim #3\"")) << outlines;
    // Each frame is its own picture: red, green, blue.
    ASSERT_EQ(RunTool("pdfimages -png " + Quoted(book) + " " + Quoted(pics.Path("frame"))).status, 0);
    const uint8_t expected[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (int i = 0; i < 3; ++i) {
        const TRgbImage image = ReadWithImageMagick(pics.Path("frame-00" + std::to_string(i) + ".png"));
        ASSERT_EQ(image.width, 40) << i;
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(image.At(20, 10)[c], expected[i][c], 8) << i;
    }

    // In Single mode the frames share one document name: the second and third ask.
    converter.Mode = cmSingle;
    converter.Overwrite = true;
    prompter->boxes.clear();
    prompter->answers = {idNo, idYes, idNo};
    converter.MakePdf();
    const std::string question = "File exists: " + pics.Path("anim.pdf") + CrLf + "Overwrite?";
    // Two documents were written, the second over the first: the count says two, the offer one.
    EXPECT_EQ(Questions(), (std::vector<std::string>{question, question, "2 pics converted." + CrLf + "Want to see it?"}));
}

TEST_F(EngineTest, EachPageOfAMultiPageTiffBecomesAPageOfTheBook) {
    const std::string scan = pics.Path("scan.tif");
    ASSERT_EQ(RunTool("convert -size 40x20 xc:red xc:lime xc:blue -compress lzw " + Quoted(scan)).status, 0);
    for (int page : {-1, 1, 2}) TConverterPic::Add(converter, scan, page);
    EXPECT_EQ(converter.GetPic(0)->FrameCount, 3);

    converter.Mode = cmBook;
    converter.PicsPerPage = 1;
    prompter->answers = {idNo};
    converter.MakePdf();
    const std::string book = pics.Path("Book1.pdf");
    ASSERT_TRUE(QpdfChecks(book));
    EXPECT_EQ(PageCount(book), 3);
    ASSERT_EQ(RunTool("pdfimages -png " + Quoted(book) + " " + Quoted(pics.Path("page"))).status, 0);
    const uint8_t expected[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (int i = 0; i < 3; ++i) {
        const TRgbImage image = ReadWithImageMagick(pics.Path("page-00" + std::to_string(i) + ".png"));
        ASSERT_EQ(image.width, 40) << i;
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(image.At(20, 10)[c], expected[i][c], 8) << i;
    }
}

// Two 8 x 4 gray LZW pages, little-endian, whose strips hold two clear codes in a row: sound
// directories over pixels that no decoder accepts.
std::string TiffWithDamagedPixels() {
    std::string tiff("II*\0\x0C\0\0\0\x80\x40\x00\x00", 12);
    auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) tiff += char(value >> (8 * i));
    };
    const uint32_t entries = 8, size = 2 + 12 * entries + 4;
    for (uint32_t page = 0; page < 2; ++page) {
        put(entries, 2);
        const uint32_t values[entries][3] = {{256, 3, 8}, {257, 3, 4}, {258, 3, 8}, {259, 3, 5},
                                             {262, 3, 1}, {273, 4, 8}, {278, 3, 4}, {279, 4, 3}};
        for (const auto& v : values) put(v[0], 2), put(v[1], 2), put(1, 4), put(v[2], 4);
        put(page == 0 ? 12 + size : 0, 4);
    }
    return tiff;
}

TEST_F(EngineTest, ATiffJoinsByItsDirectoriesAndItsPixelsAreDecodedWhenPlaced) {
    const std::string good = Picture("good.jpg", 40, 30);
    const std::string damaged = pics.Path("damaged.tif");
    WriteFile(damaged, TiffWithDamagedPixels());
    Add(good);
    const TConverterPic* pic = TConverterPic::Add(converter, damaged, 1);
    EXPECT_EQ(pic->FrameCount, 2);
    EXPECT_EQ(pic->Width, 8);
    EXPECT_EQ(pic->Height, 4);
    prompter->answers = {idOk, idNo};
    converter.MakePdf();
    EXPECT_EQ(Questions(), (std::vector<std::string>{"Can't load image : " + damaged + " (damaged TIFF LZW data)",
                                                     "1 pic converted." + CrLf + "Want to see it?"}));
    EXPECT_TRUE(QpdfChecks(pics.Path("good.pdf")));
}

TEST_F(EngineTest, SingleModeResultQuestionsAndWhatTheyOpen) {
    const std::string one = Picture("one.jpg", 20, 10);
    Add(one);
    converter.MakePdf();  // the default answer is Yes
    EXPECT_EQ(Questions(), std::vector<std::string>{"1 pic converted." + CrLf + "Want to see it?"});
    EXPECT_EQ(prompter->opened, std::vector<std::string>{pics.Path("one.pdf")});

    converter.ClearPics();
    prompter->boxes.clear();
    prompter->opened.clear();
    for (int i = 1; i <= 11; ++i) Add(Picture("p" + std::to_string(i) + ".jpg", 20, 10));
    converter.MakePdf();
    EXPECT_EQ(Questions(), std::vector<std::string>{"11 pics converted." + CrLf + "Want to see the first one?"});
    EXPECT_EQ(prompter->opened, std::vector<std::string>{pics.Path("p1.pdf")});

    converter.DeletePic(10);
    converter.DeletePic(9);
    prompter->boxes.clear();
    prompter->opened.clear();
    converter.Overwrite = true;
    converter.MakePdf();
    EXPECT_EQ(Questions(), std::vector<std::string>{"9 pics converted." + CrLf + "Want to see them?"});
    EXPECT_EQ(prompter->opened.size(), 9u);
}

TEST_F(EngineTest, AnExistingDocumentIsReplacedOnlyWhenTheUserSaysSo) {
    const std::string source = Picture("photo.jpg", 40, 30);
    const std::string pdf = pics.Path("photo.pdf");
    WriteFile(pdf, "old document");
    Add(source);
    prompter->answers = {idNo};
    converter.MakePdf();
    EXPECT_EQ(Questions(), std::vector<std::string>{"File exists: " + pdf + CrLf + "Overwrite?"});
    EXPECT_EQ(ReadFile(pdf), "old document");
    EXPECT_EQ(converter.GeneratedPdfs.Count(), 0);

    prompter->boxes.clear();
    prompter->answers = {idYes, idNo};
    converter.MakePdf();
    EXPECT_EQ(Questions().size(), 2u);
    EXPECT_TRUE(QpdfChecks(pdf));

    // With Overwrite on nobody is asked before replacing.
    prompter->boxes.clear();
    prompter->answers = {idNo};
    converter.Overwrite = true;
    converter.MakePdf();
    EXPECT_EQ(Questions(), std::vector<std::string>{"1 pic converted." + CrLf + "Want to see it?"});
}

TEST_F(EngineTest, ANameProducedTwiceInOneRunAsksEvenWithOverwriteOn) {
    const std::string jpeg = Picture("same.jpg", 40, 30);
    const std::string bmp = Picture("same.bmp", 80, 30);
    Add(jpeg);
    Add(bmp);
    converter.Overwrite = true;
    prompter->answers = {idNo, idNo};
    converter.MakePdf();
    const std::string pdf = pics.Path("same.pdf");
    EXPECT_EQ(Questions(), (std::vector<std::string>{"File exists: " + pdf + CrLf + "Overwrite?",
                                                     "1 pic converted." + CrLf + "Want to see it?"}));
    // The first document, of the 40-pixel JPEG, is still there.
    const std::regex jpegImage("image\\s+40\\s+30");
    EXPECT_TRUE(std::regex_search(RunTool("pdfimages -list " + Quoted(pdf)).output, jpegImage));

    // Replaced with the user's consent, the first document is gone, and so its source stays.
    prompter->boxes.clear();
    prompter->answers = {idYes, idNo};
    converter.DeleteSources = true;
    converter.MakePdf();
    EXPECT_EQ(Questions().size(), 2u);
    EXPECT_FALSE(std::regex_search(RunTool("pdfimages -list " + Quoted(pdf)).output, jpegImage));
    EXPECT_TRUE(FileExists(jpeg));
    EXPECT_FALSE(FileExists(bmp));
}

TEST_F(EngineTest, AFailingPictureIsReportedAndTheOthersFollow) {
    const std::string good = Picture("good.jpg", 40, 30);
    const std::string bad = pics.Path("bad.bmp");
    WriteFile(bad, "BM this is no bitmap");
    const std::string last = Picture("last.bmp", 40, 30);
    for (const std::string& path : {good, bad, last}) Add(path);
    prompter->answers = {idOk, idNo};
    converter.DeleteSources = true;
    converter.MakePdf();
    EXPECT_EQ(Questions(), (std::vector<std::string>{
                               "Can't load image : " + bad + " (data ends after 20 bytes; 64 more were needed at offset 14)",
                               "2 pics converted." + CrLf + "Want to see them?"}));
    EXPECT_EQ(prompter->boxes[0].icon, TMsgIcon::Error);
    EXPECT_TRUE(QpdfChecks(pics.Path("good.pdf")));
    EXPECT_TRUE(QpdfChecks(pics.Path("last.pdf")));
    EXPECT_FALSE(FileExists(pics.Path("bad.pdf")));
    // Converted sources go, the failed one stays.
    EXPECT_FALSE(FileExists(good));
    EXPECT_FALSE(FileExists(last));
    EXPECT_TRUE(FileExists(bad));
}

TEST_F(EngineTest, PicturesNamedAsAnotherFormatAreReadByTheirContent) {
    const struct {
        const char* name;
        const char* content;  // ImageMagick's output format
    } cases[] = {{"a.jpg", "png"}, {"b.JPEG", "bmp3"}, {"c.tif", "png"}, {"d.gif", "bmp3"}};
    for (const auto& c : cases) {
        const std::string path = pics.Path(c.name);
        ASSERT_EQ(RunTool("convert -size 30x20 gradient:red-blue " + std::string(c.content) + ":" + Quoted(path)).status, 0);
        Add(path);
    }
    prompter->answers = {idNo};
    converter.MakePdf();
    EXPECT_EQ(Questions(), std::vector<std::string>{"4 pics converted." + CrLf + "Want to see them?"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pdf = std::filesystem::path(pics.Path(c.name)).replace_extension(".pdf");
        ASSERT_TRUE(QpdfChecks(pdf));
        // Stored as the pixels read, never as the file's bytes under a JPEG filter.
        const std::string list = RunTool("pdfimages -list " + Quoted(pdf)).output;
        EXPECT_TRUE(std::regex_search(list, std::regex("image\\s+30\\s+20\\s+rgb"))) << list;
        const TRgbImage page = RenderedPage(pdf);
        const TRgbImage source = ReadWithImageMagick(std::string(c.content) + ":" + pics.Path(c.name));
        ASSERT_GE(page.width, 30);
        ASSERT_GE(page.height, 20);
        for (int x : {3, 15, 26})
            for (int channel = 0; channel < 3; ++channel)
                EXPECT_NEAR(page.At(x, 10)[channel], source.At(x, 10)[channel], 16) << x;
    }
}

// Transparent pixels show the white of the page whatever colour they hold; half-transparent ones
// are mixed with it.
TEST_F(EngineTest, TransparentPixelsShowThePageWhite) {
    const std::string path = pics.Path("alpha.png");
    ASSERT_EQ(RunTool("convert -size 60x20 xc:red -fill blue -draw 'rectangle 40,0 59,19' -alpha set -channel A "
                      "-fx 'i<20?0:(i<40?0.5:1)' +channel PNG32:" + Quoted(path))
                  .status,
              0);
    ASSERT_EQ(RunTool("convert " + Quoted(path) + " -alpha off -format '%[pixel:p{5,5}]' info:").output, "srgb(255,0,0)");
    Add(path);
    prompter->answers = {idNo};
    converter.MakePdf();
    const std::string pdf = pics.Path("alpha.pdf");
    ASSERT_TRUE(QpdfChecks(pdf));
    const TRgbImage page = RenderedPage(pdf);
    ASSERT_GE(page.width, 60);  // the page's size in points rounds up to one pixel more
    ASSERT_GE(page.height, 20);
    const struct {
        int x;
        uint8_t red, green, blue;
    } expected[] = {{8, 255, 255, 255}, {30, 255, 128, 128}, {50, 0, 0, 255}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.x);
        EXPECT_NEAR(page.At(e.x, 10)[0], e.red, 12);
        EXPECT_NEAR(page.At(e.x, 10)[1], e.green, 12);
        EXPECT_NEAR(page.At(e.x, 10)[2], e.blue, 12);
    }
}

// Whichever library reads a picture with alpha, and whatever its samples, the document shows it
// over the page's white: half-transparent red as pink, half-transparent black as gray, transparent
// pixels as white.
TEST_F(EngineTest, PicturesWithAlphaOfEveryFormatShowThePageWhite) {
    const std::string red = "-size 60x20 xc:none -fill 'rgba(255,0,0,0.5)' -draw 'rectangle 0,0 29,19' ";
    const std::string gray = "-size 60x20 xc:none -fill 'graya(0%,0.5)' -draw 'rectangle 0,0 29,19' -colorspace Gray ";
    const struct {
        const char* name;  // each of its own document
        std::string options, format;  // ImageMagick's
        bool isGray;
    } cases[] = {
        {"png8.png", red + "-define png:color-type=6", "", false},
        {"png16.png", red + "-depth 16 -define png:color-type=6", "", false},
        {"pnggray.png", gray + "-define png:color-type=4", "", true},
        {"tga.tga", red, "", false},
        {"ico.ico", red, "", false},
        {"tiff8.tiff", red + "-depth 8", "", false},
        {"tiff16.tiff", red + "-depth 16", "", false},
        {"tiffgray.tiff", gray + "-depth 8 -type GrayscaleAlpha", "", true},
        // Read by the extended library.
        {"sgi8.sgi", red + "-depth 8", "", false},
        {"sgi16.sgi", red + "-depth 16", "", false},
        {"psd8.psd", red + "-depth 8", "", false},
        {"psd16.psd", red + "-depth 16", "", false},
        {"psdgray.psd", gray + "-depth 8", "", true},
        {"vst.vst", red, "TGA:", false},
    };
    for (const auto& c : cases) {
        const std::string path = pics.Path(c.name);
        ASSERT_EQ(RunTool("convert " + c.options + " " + Quoted(c.format + path)).status, 0) << c.name;
        Add(path);
    }
    prompter->answers = {idNo};
    converter.MakePdf();
    for (const auto& refused : converter.NotConverted) ADD_FAILURE() << refused.fileName << ": " << refused.reason;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pdf = std::filesystem::path(pics.Path(c.name)).replace_extension(".pdf");
        ASSERT_TRUE(QpdfChecks(pdf));
        const TRgbImage page = RenderedPage(pdf);
        ASSERT_GE(page.width, 60);
        const int covered[] = {c.isGray ? 128 : 255, 128, 128};
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_NEAR(page.At(10, 10)[channel], covered[channel], 12) << "half-covered, channel " << channel;
            EXPECT_NEAR(page.At(45, 10)[channel], 255, 12) << "transparent, channel " << channel;
        }
    }
}

TEST_F(EngineTest, EncryptionOnlyForDocumentsMadeWithPasswords) {
    const std::string source = Picture("secret.jpg", 40, 30);
    Add(source);
    const std::string pdf = pics.Path("secret.pdf");
    converter.OwnerPassword = "owner";
    converter.UserPassword = "user";
    converter.Overwrite = true;
    prompter->answers = {idNo};
    converter.MakePdf();
    ASSERT_TRUE(QpdfChecks(pdf, "owner"));
    const std::string encryption = RunTool("qpdf --show-encryption --password=owner " + Quoted(pdf)).output;
    EXPECT_TRUE(Contains(encryption, "R = 2")) << encryption;
    EXPECT_TRUE(Contains(encryption, "print low resolution: allowed")) << encryption;
    EXPECT_TRUE(Contains(encryption, "modify other: allowed")) << encryption;
    EXPECT_TRUE(Contains(encryption, "extract for any purpose: not allowed")) << encryption;
    EXPECT_EQ(RunTool("qpdf --check --password=user " + Quoted(pdf)).status, 0);

    converter.OwnerPassword.clear();
    converter.UserPassword.clear();
    prompter->answers = {idNo};
    converter.MakePdf();
    EXPECT_TRUE(Contains(RunTool("qpdf --show-encryption " + Quoted(pdf)).output, "File is not encrypted"));
}

TEST_F(EngineTest, BookRunLaysOutPagesWithOutlinesAndCaptions) {
    const std::vector<std::string> names = {"alpha", "bravo", "charlie", "delta", "echo"};
    for (const std::string& name : names) Add(Picture(name + ".jpg", 300, 200));
    Add(Picture("foxtrot.bmp", 200, 300));
    WriteFile(pics.Path("Book1.pdf"), "first book");
    WriteFile(pics.Path("Book2.pdf"), "second book");
    converter.Mode = cmBook;
    converter.PaperSizeName = "A4";
    converter.PicsPerPage = 4;
    converter.PicDatesPos = cpAbove;
    converter.Title = "Holiday";
    converter.Subject = "Pictures";
    prompter->answers = {idNo};
    converter.MakePdf();

    const std::string book = pics.Path("Book3.pdf");
    EXPECT_EQ(prompter->saveDialogs, std::vector<std::string>{"PDF book file name"});
    EXPECT_EQ(Questions(), std::vector<std::string>{"PDF book successfully generated!" + CrLf + "Want to see it?"});
    EXPECT_EQ(ReadFile(pics.Path("Book1.pdf")), "first book");
    ASSERT_TRUE(QpdfChecks(book));
    EXPECT_EQ(PageCount(book), 2);  // ceil(6 / 4)
    const std::string info = PdfInfo(book, "-f 1 -l 2");
    EXPECT_TRUE(std::regex_search(info, std::regex("Page\\s+2 size:\\s+595.276 x 841.89 pts \\(A4\\)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex("Title:\\s+Holiday"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex("Subject:\\s+Pictures"))) << info;

    // One image per picture, though all passed through one bitmap; JPEG sources as they are.
    const std::string list = RunTool("pdfimages -list " + Quoted(book)).output;
    EXPECT_EQ(CountOf(list, " image "), 6u) << list;
    ASSERT_EQ(RunTool("pdfimages -j -f 2 -l 2 " + Quoted(book) + " " + Quoted(pics.Path("page2"))).status, 0);
    EXPECT_EQ(ReadFile(pics.Path("page2-000.jpg")), ReadFile(pics.Path("echo.jpg")));

    // One level-1 outline entry per picture, titled with its caption name.
    const std::string outlines = RunTool("qpdf --json --json-key=outlines " + Quoted(book)).output;
    std::vector<std::string> titles;
    const std::regex title("\"title\": \"([^\"]*)\"");
    for (auto it = std::sregex_iterator(outlines.begin(), outlines.end(), title); it != std::sregex_iterator(); ++it)
        titles.push_back((*it)[1]);
    EXPECT_EQ(titles, (std::vector<std::string>{"alpha", "bravo", "charlie", "delta", "echo", "foxtrot"}));
    EXPECT_EQ(CountOf(outlines, "\"kids\": []"), 6u) << outlines;

    // Dates above the pictures, names under them: in the upper cells, the date above the middle
    // of the page's upper half and the name below it.
    const std::string words = RunTool("pdftotext -bbox -f 1 -l 1 " + Quoted(book) + " -").output;
    const auto wordTop = [&](const std::string& text) {
        std::smatch match;
        const std::regex word("yMin=\"([0-9.]+)\"[^>]*>" + text + "</word>");
        return std::regex_search(words, match, word) ? std::stod(match[1]) : -1.0;
    };
    const std::string date = DateToStr(GetFileDate(pics.Path("alpha.jpg")));
    const double alpha = wordTop("alpha"), delta = wordTop("delta");
    ASSERT_GT(alpha, 0) << words;
    EXPECT_GT(alpha, 380);  // the bottom of the first row of cells
    EXPECT_LT(alpha, 421);
    EXPECT_GT(delta, 760);  // the bottom of the page, inside its margin
    EXPECT_EQ(CountOf(words, ">" + date + "</word>"), 4u) << words;
    EXPECT_LT(words.find(">" + date + "</word>"), words.find(">alpha</word>"));
}

TEST_F(EngineTest, BookNameChoiceAndItsQuestions) {
    Add(Picture("one.jpg", 30, 20));
    converter.Mode = cmBook;
    // Cancelling the save dialog ends the book without a word.
    prompter->saveAnswers = {std::nullopt};
    converter.MakePdf();
    EXPECT_TRUE(prompter->boxes.empty());
    EXPECT_TRUE(converter.GeneratedPdfs.Count() == 0);

    // An existing file is always asked about, even with Overwrite on; "No" ends the book.
    const std::string chosen = pics.Path("album");  // the default extension is added
    WriteFile(chosen + ".pdf", "keep me");
    converter.Overwrite = true;
    prompter->saveAnswers = {chosen};
    prompter->answers = {idNo};
    converter.MakePdf();
    EXPECT_EQ(Questions(), std::vector<std::string>{"File exists: " + chosen + ".pdf" + CrLf + "Overwrite?"});
    EXPECT_EQ(ReadFile(chosen + ".pdf"), "keep me");
}

TEST_F(EngineTest, AFailingPictureInTheMiddleEndsTheBookAndLeavesTheOldOne) {
    const std::string first = Picture("first.jpg", 30, 20);
    const std::string broken = pics.Path("broken.jpg");
    WriteFile(broken, "\xFF\xD8\xFF\xE0 broken");
    const std::string last = Picture("last.jpg", 30, 20);
    for (const std::string& path : {first, broken, last}) Add(path);
    const std::string book = pics.Path("book.pdf");
    WriteFile(book, "old book");
    converter.Mode = cmBook;
    converter.DeleteSources = true;
    prompter->saveAnswers = {book};
    prompter->answers = {idYes};
    EXPECT_EQ(MessageOf([&] { converter.MakePdf(); }),
              "Can't load image : " + broken + " (JPEG datastream contains no image)" + CrLf + "No book was written: " + book);
    EXPECT_EQ(ReadFile(book), "old book");
    EXPECT_EQ(pics.Files(), (std::vector<std::string>{"book.pdf", "broken.jpg", "first.jpg", "last.jpg"}));
    EXPECT_FALSE(host.InProgress);

    // The writer is ready for the next document.
    converter.DeletePic(1);
    prompter->saveAnswers = {book};
    prompter->answers = {idYes, idNo};
    converter.MakePdf();
    EXPECT_TRUE(QpdfChecks(book));
    EXPECT_EQ(PageCount(book), 2);
    EXPECT_FALSE(FileExists(first));
    EXPECT_FALSE(FileExists(last));
}

TEST_F(EngineTest, AnAbortEndsTheRunAndDeletesNothing) {
    for (const std::string name : {"a", "b", "c"}) Add(Picture(name + ".jpg", 30, 20));
    const std::string book = pics.Path("book.pdf");
    WriteFile(book, "old book");
    converter.Mode = cmBook;
    converter.DeleteSources = true;
    host.AbortAtPage = 2;  // the abort button is pressed while the second page starts
    prompter->saveAnswers = {book};
    prompter->answers = {idYes};
    EXPECT_EQ(MessageOf([&] { converter.MakePdf(); }), "PDF output aborted" + CrLf + "No book was written: " + book);
    EXPECT_EQ(ReadFile(book), "old book");
    EXPECT_EQ(pics.Files(), (std::vector<std::string>{"a.jpg", "b.jpg", "book.pdf", "c.jpg"}));
    EXPECT_EQ(host.Position, 1);

    // In Single mode the abort comes before the next picture; what was written stays.
    converter.Mode = cmSingle;
    host.PagesStarted = 0;
    EXPECT_EQ(MessageOf([&] { converter.MakePdf(); }), "PDF output aborted");
    EXPECT_TRUE(FileExists(pics.Path("a.pdf")));
    EXPECT_TRUE(FileExists(pics.Path("b.pdf")));
    EXPECT_FALSE(FileExists(pics.Path("c.pdf")));
    EXPECT_TRUE(FileExists(pics.Path("a.jpg")));
}

TEST_F(EngineTest, SourcesAreDeletedOnceAndOnlyWhenEveryDocumentFromThemIsComplete) {
    const std::string twice = Picture("twice.jpg", 30, 20);
    const std::string skipped = Picture("skipped.jpg", 30, 20);
    WriteFile(pics.Path("skipped.pdf"), "keep");
    Add(twice);
    Add(twice);
    Add(skipped);
    converter.DeleteSources = true;
    prompter->answers = {idYes, idNo, idNo};  // replace twice.pdf, keep skipped.pdf, do not open
    converter.MakePdf();
    EXPECT_FALSE(FileExists(twice));
    EXPECT_TRUE(FileExists(skipped));
    EXPECT_EQ(ReadFile(pics.Path("skipped.pdf")), "keep");
    EXPECT_EQ(converter.PlacedSources.size(), 1u);
}

TEST_F(EngineTest, WithADisplayEachDocumentGoesToTheRegisteredProgramAsOneArgument) {
    // A viewer registered for PDF documents that notes each call's arguments, one per line.
    const std::string log = pics.Path("viewer.log");
    const std::string viewer = pics.Path("viewer.sh");
    WriteFile(viewer, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> " + Quoted(log) + "; done\necho - >> " +
                          Quoted(log) + "\n");
    std::filesystem::permissions(viewer, std::filesystem::perms::owner_all);
    const std::string applications = environment.Home().Path("data") + "/applications";
    std::filesystem::create_directories(applications);
    WriteFile(applications + "/viewer.desktop",
              "[Desktop Entry]\nType=Application\nName=Viewer\nExec=" + viewer + " --page=1 %f\n");
    WriteFile(environment.Home().Path("config") + "/mimeapps.list",
              "[Default Applications]\napplication/pdf=viewer.desktop\n");
    environment.Set("DISPLAY", ":99");

    Add(Picture("it's $(odd) name.jpg", 20, 10));
    Add(Picture("plain.jpg", 20, 10));
    converter.MakePdf();
    for (int waited = 0; waited < 100 && CountOf(ReadFile(log), "-\n") < 2; ++waited) ::usleep(20000);
    const std::string calls = ReadFile(log);
    EXPECT_TRUE(Contains(calls, "--page=1\n" + pics.Path("it's $(odd) name.pdf") + "\n-\n")) << calls;
    EXPECT_TRUE(Contains(calls, "--page=1\n" + pics.Path("plain.pdf") + "\n-\n")) << calls;
    EXPECT_TRUE(prompter->opened.empty());
}

TEST_F(EngineTest, ScannedPagesGiveTheirSingleDocumentsOutsideTheTemporaryFolder) {
    CreateTempFolder();
    const std::string page = TempFolder + "Pic1.bmp";
    ASSERT_EQ(RunTool("convert -size 40x30 gradient:red-blue " + Quoted("BMP3:" + page)).status, 0);
    const std::string picture = Picture("beside.bmp", 40, 30);
    Add(page);
    Add(picture);
    prompter->answers = {idNo};
    converter.MakePdf();
    // The scanned page's document goes to the picture folder, the other one beside its picture.
    EXPECT_FALSE(std::filesystem::exists(TempFolder + "Pic1.pdf"));
    EXPECT_TRUE(QpdfChecks(pics.Path("Pic1.pdf")));
    EXPECT_TRUE(QpdfChecks(pics.Path("beside.pdf")));
    EXPECT_EQ(converter.GeneratedPdfs.Count(), 2);

    // A book that begins with a scanned page is proposed in the home folder when no picture folder
    // is known, not in the temporary folder, which goes when the program ends.
    PicDirectory.clear();
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", pics.Folder().c_str(), 1);
    converter.Mode = cmBook;
    prompter->answers = {idNo};
    converter.MakePdf();
    ::setenv("HOME", home.c_str(), 1);
    EXPECT_FALSE(std::filesystem::exists(TempFolder + "Book1.pdf"));
    EXPECT_TRUE(QpdfChecks(pics.Path("Book1.pdf")));
    DeleteTempFolder();
}

}  // namespace
