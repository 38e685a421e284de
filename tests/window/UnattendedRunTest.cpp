// The built program run from the command line without a display, answering its questions through
// standard input; the documents are judged by qpdf and pdfinfo.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"

namespace {

class UnattendedRunTest : public ::testing::Test {
protected:
    // A picture of the size given, in the format of its extension.
    std::string Picture(const std::string& name, int width, int height) {
        const std::string path = scratch_.Path(name);
        TKestovaIO writer;
        writer.WorkBitmap().Allocate(width, height, kv24RGB);
        writer.WorkBitmap().Fill(0x3366CC);
        writer.SaveToFile(path);
        return path;
    }

    // Runs in the scratch folder, as from a shell in the pictures' folder.
    TCommandResult Run(const std::string& arguments, const std::string& answers) {
        return RunTool("cd " + Quoted(scratch_.Folder()) + " && printf " + Quoted(answers) + " | env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME=" +
                       Quoted(scratch_.Path("config")) + " " + Quoted(MORDALE_EXECUTABLE) + " " + arguments);
    }

    std::string PdfInfo(const std::string& path) { return RunTool("pdfinfo " + Quoted(path)).output; }

    TScratchFolder scratch_;
};

}  // namespace

TEST_F(UnattendedRunTest, BookOfTwoPictures) {
    const std::string a = Picture("a.jpg", 120, 80), b = Picture("b.bmp", 40, 60);
    // The save dialog's proposal is taken, then the book is not opened.
    const TCommandResult run = Run("/B " + Quoted(a) + " " + Quoted(b), "\nn\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "PDF book file name")) << run.output;
    EXPECT_TRUE(Contains(run.output, "PDF book successfully generated!")) << run.output;
    const std::string book = scratch_.Path("Book1.pdf");
    EXPECT_TRUE(QpdfChecks(book));
    EXPECT_EQ(RunTool("pdfinfo " + Quoted(book) + " | awk '/^Pages:/ {print $2}'").output, "2\n");
}

TEST_F(UnattendedRunTest, PicturesNamedRelativeToTheCurrentFolderGetTheirDocumentsBeside) {
    Picture("a.jpg", 120, 80);
    Picture("b.bmp", 40, 60);
    const TCommandResult book = Run("/B a.jpg ./b.bmp", "\nn\n");
    ASSERT_EQ(book.status, 0) << book.output;
    EXPECT_TRUE(QpdfChecks(scratch_.Path("Book1.pdf")));
    const TCommandResult single = Run("/S a.jpg", "n\n");
    ASSERT_EQ(single.status, 0) << single.output;
    EXPECT_TRUE(QpdfChecks(scratch_.Path("a.pdf")));
}

TEST_F(UnattendedRunTest, SingleDocumentsSizedByTheResolution) {
    const std::string a = Picture("a.jpg", 96, 48), b = Picture("b.bmp", 192, 96);
    const TCommandResult run = Run("/s " + Quoted(a) + " " + Quoted(b), "n\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "2 pics converted.")) << run.output;
    for (const auto& [name, size] : {std::pair{"a.pdf", "72 x 36 pts"}, std::pair{"b.pdf", "144 x 72 pts"}}) {
        EXPECT_TRUE(QpdfChecks(scratch_.Path(name))) << name;
        EXPECT_TRUE(Contains(PdfInfo(scratch_.Path(name)), size)) << name << ": " << PdfInfo(scratch_.Path(name));
    }
}

TEST_F(UnattendedRunTest, FailuresEndWithStatusOneAndTheirMessage) {
    const std::string good = Picture("good.bmp", 20, 20);
    WriteFile(scratch_.Path("broken.bmp"), "not a picture");
    struct Case {
        std::string arguments, message;
        const char* written;  // a document that must exist afterwards, or nullptr
    } cases[] = {
        {"/B", "No pic selected", nullptr},
        {"/S " + Quoted(scratch_.Path("broken.bmp")) + " " + Quoted(good), "Can't load image", "good.pdf"},
        {"/S " + Quoted(good + "#3"), "there is no frame 3", nullptr},
    };
    for (const Case& c : cases) {
        const TCommandResult run = Run(c.arguments, "n\n");
        EXPECT_EQ(run.status, 1) << c.arguments << "\n" << run.output;
        EXPECT_TRUE(Contains(run.output, c.message)) << c.arguments << "\n" << run.output;
        if (c.written) {
            EXPECT_TRUE(QpdfChecks(scratch_.Path(c.written))) << c.arguments;
        }
    }
}
