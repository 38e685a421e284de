// A whole book as the application writes it: pictures, captions, outlines and both passwords.
#include <gtest/gtest.h>

#include "PdfTestSupport.h"
#include "pdf/PdfKalmora.h"

namespace {

TEST(PdfBook, APictureBookOpensInPopplerAndPassesQpdf) {
    TScratchFolder scratch;
    std::vector<std::string> jpegs;
    for (int i = 0; i < 3; ++i) {
        jpegs.push_back(scratch.Path("photo" + std::to_string(i) + ".jpg"));
        ASSERT_EQ(RunTool("convert -size " + std::to_string(60 + 10 * i) + "x40 gradient:navy-gold " + Quoted(jpegs[i])).status, 0);
    }
    const std::string path = scratch.Path("book.pdf");
    TPdfKalmora pdf;
    pdf.SetFileName(path);
    pdf.SetTitle("Holiday book");
    pdf.SetSubject("Pictures");
    pdf.SetAuthor("Mordale tests");
    pdf.SetPaperSizeName("A4");
    pdf.SetOrientation(poLandscape);
    pdf.SetOwnerPassword("owner secret");
    pdf.SetUserPassword("reader", true, false, false, true);
    pdf.BeginDoc();
    TPdfCanvas& canvas = pdf.Canvas();
    canvas.AlwaysNewImage = true;
    TBitmap bitmap;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && i % 2 == 0) pdf.NewPage();
        const int left = (i % 2) * 1500 + 100;
        const std::string caption = "Picture " + std::to_string(i + 1);
        canvas.GetFont().Name = "Arial";
        canvas.GetFont().Size = 12;
        canvas.TextBox(left, 100, left + 1300, 100 + canvas.TextHeight(caption), 2, 2, caption);
        if (i % 2 == 0) {
            canvas.StretchDrawFile(Rect(left, 200, left + 1300, 1800), jpegs[size_t(i / 2)]);
        } else {
            bitmap = GradientBitmap(50 + i, 30);
            canvas.StretchDraw(Rect(left, 200, left + 1300, 1800), &bitmap);
        }
        canvas.AddBookmark(left, 100, caption, 1, true);
    }
    pdf.EndDoc();

    EXPECT_TRUE(QpdfChecks(path, "reader"));
    EXPECT_TRUE(QpdfChecks(path, "owner secret"));
    const std::string info = RunTool("pdfinfo -upw reader " + Quoted(path)).output;
    EXPECT_TRUE(Contains(info, "Pages:           3")) << info;
    EXPECT_TRUE(Contains(info, "Holiday book")) << info;
    EXPECT_TRUE(Contains(info, "841.89 x 595.276")) << info;
    const std::string text = RunTool("pdftotext -upw reader " + Quoted(path) + " -").output;
    for (int i = 1; i <= 6; ++i) EXPECT_TRUE(Contains(text, "Picture " + std::to_string(i))) << text;
    const std::string list = RunTool("pdfimages -list -upw reader " + Quoted(path)).output;
    EXPECT_EQ(CountOf(list, " jpeg "), 6u) << list;  // three passed through, three encoded
    // The passed-through files come out unchanged.
    RunTool("pdfimages -j -upw reader " + Quoted(path) + " " + Quoted(scratch.Path("out")));
    EXPECT_EQ(ReadFile(scratch.Path("out-000.jpg")), ReadFile(jpegs[0]));
    EXPECT_EQ(ReadFile(scratch.Path("out-004.jpg")), ReadFile(jpegs[2]));
    EXPECT_EQ(RenderPage(path, "reader").width, 842);  // 841.89 points, rounded up
}

}  // namespace
