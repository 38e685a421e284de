#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "PictureFixtures.h"
#include "imaging/io/KVPdfOutput.h"

namespace {

// The first picture of the file as pdfimages decodes it.
TRgbImage ExtractedImage(const std::string& pdf, const std::string& folder) {
    RunTool("pdfimages -png " + Quoted(pdf) + " " + Quoted(folder + "/img"));
    return ReadWithImageMagick(folder + "/img-000.png");
}

void TwoTone(TKVBitmap& bitmap, int width, int height) {
    bitmap.Allocate(width, height, kv1Bit);
    bitmap.FillRect(0, 0, width / 3, height - 1, 0xFFFFFF);
    bitmap.FillRect(width / 2, height / 2, width - 1, height - 1, 0xFFFFFF);
}

}  // namespace

TEST(KVPdfOutput, EveryCodingGivesAValidFileWithTheSamePicture) {
    TScratchFolder folder;
    const struct {
        bool oneBit;
        int compression;
        const char* filter;
    } cases[] = {{true, 0, ""},
                 {true, 1, "/RunLengthDecode"},
                 {true, 2, "/CCITTFaxDecode\n/DecodeParms << /K -1\n/BlackIs1 true\n/Columns 61\n/Rows 23\n"},
                 {true, 3, "/CCITTFaxDecode\n/DecodeParms << /K 1\n/BlackIs1 true\n"},
                 {true, 4, "/DecodeParms << /K 1\n"},  // coded as 3
                 {true, 5, "/LZWDecode"},
                 {false, 0, ""},
                 {false, 4, "/DCTDecode"},
                 {false, 5, "/LZWDecode"}};
    for (const auto& c : cases) {
        TKestovaIO io;
        if (c.oneBit) TwoTone(io.WorkBitmap(), 61, 23);
        else ImageToBitmap(PatternImage(61, 23), io.WorkBitmap());
        io.Params().PdfCompression = uint8_t(c.compression);
        const std::string path = folder.Path("out.pdf");
        io.SaveToFile(path);
        ASSERT_FALSE(io.AbortFlag) << c.compression;
        EXPECT_TRUE(QpdfChecks(path)) << c.compression;
        const std::string file = ReadFile(path);
        if (*c.filter) {
            EXPECT_TRUE(Contains(file, c.filter)) << c.compression;
        }
        EXPECT_TRUE(Contains(file, c.oneBit ? "/ColorSpace /DeviceGray\n/BitsPerComponent 1" : "/ColorSpace /DeviceRGB\n/BitsPerComponent 8"));
        const TRgbImage extracted = ExtractedImage(path, folder.Path(""));
        if (c.compression == 4) {
            EXPECT_LT(MeanDifference(extracted, PixelsOf(io.WorkBitmap())), 12);
        } else {
            EXPECT_TRUE(SamePixels(extracted, PixelsOf(io.WorkBitmap()))) << c.compression;
        }
    }
}

TEST(KVPdfOutput, PictureFitsTheTopOfThePage) {
    TScratchFolder folder;
    TKestovaIO io;
    io.WorkBitmap().Allocate(300, 100, kv24RGB);
    io.WorkBitmap().Fill(0x0000FF);
    io.Params().PdfCompression = 0;
    const std::string path = folder.Path("p.pdf");
    io.SaveToFile(path);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_TRUE(Contains(ReadFile(path), "q\n595 0 0 198 0 644 cm\n/lm1 Do\nQ"));
    EXPECT_TRUE(Contains(RunTool("pdfinfo " + Quoted(path)).output, "595 x 842 pts"));
    // Rendered at one pixel per point: red down to row 197, white below.
    const TRgbImage page = ParsePpm(RunTool("pdftoppm -r 72 " + Quoted(path), false).output);
    ASSERT_EQ(page.width, 595);
    EXPECT_EQ(page.At(300, 5)[0], 255);
    EXPECT_EQ(page.At(300, 5)[1], 0);
    EXPECT_EQ(page.At(300, 190)[1], 0);
    EXPECT_EQ(page.At(300, 205)[1], 255);
}

TEST(KVPdfOutput, InformationAndSeveralPages) {
    TScratchFolder folder;
    TIOParamsVals params(nullptr);
    params.PdfTitle = "Report (draft)";
    params.PdfAuthor = "A\\B";
    params.PdfCompression = 1;
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    TKVPDFDocumentPtr document = CreatePDFDocument();
    TKVBitmap first, second;
    TwoTone(first, 20, 10);
    ImageToBitmap(PatternImage(10, 20), second);
    AddPDFImagePage(*document, first, params, progress);
    AddPDFImagePage(*document, second, params, progress);
    ASSERT_FALSE(aborted);
    TMemoryStream out;
    FinishPDFDocument(*document, out, params);
    const std::string path = folder.Path("two.pdf");
    WriteFile(path, StreamBytesOf(out));
    EXPECT_TRUE(QpdfChecks(path));
    const std::string file = ReadFile(path);
    EXPECT_TRUE(Contains(file, "/Title (Report \\(draft\\))"));
    EXPECT_TRUE(Contains(file, "/Author (A\\\\B)"));
    EXPECT_FALSE(Contains(file, "/Subject"));
    EXPECT_TRUE(Contains(file, "/Resources 2 0 R"));
    const std::string info = RunTool("pdfinfo " + Quoted(path)).output;
    EXPECT_TRUE(Contains(info, "Pages:           2\n")) << info;
    EXPECT_TRUE(Contains(info, "Title:           Report (draft)\n")) << info;
}
