// Outlines, named destinations, link annotations and style sheets.
#include <gtest/gtest.h>

#include "PdfTestSupport.h"
#include "pdf/PdfKalmora.h"
#include "pdf/PdfStyle.h"
#include "platform/Prompter.h"

namespace {

class PdfNavigation : public ::testing::Test {
protected:
    void SetUp() override {
        auto scripted = std::make_unique<TScriptedPrompter>();
        prompter = scripted.get();
        previous = SetPrompter(std::move(scripted));
        pdf.SetFileName(Path());
        pdf.BeginDoc();
    }
    void TearDown() override { SetPrompter(std::move(previous)); }
    std::string End() {
        pdf.EndDoc();
        EXPECT_TRUE(QpdfChecks(Path()));
        return ReadFile(Path());
    }
    // The titles of qpdf's view of the outline, children indented; qpdf sorts an entry's keys, so
    // its children come before its title.
    std::string Outline() {
        const std::string json = RunTool("qpdf --json --json-key=outlines " + Quoted(Path())).output;
        std::string result;
        std::vector<bool> arrays;  // open arrays: true for lists of children
        int depth = -1;
        std::string lastKey;
        for (size_t p = 0; p < json.size(); ++p) {
            if (json[p] == '"') {
                size_t end = p + 1;
                while (json[end] != '"') end += json[end] == '\\' ? 2 : 1;
                const std::string text = json.substr(p + 1, end - p - 1);
                if (lastKey == "title") result += std::string(size_t(depth) * 2, ' ') + text + "\n";
                lastKey = json.compare(end + 1, 1, ":") == 0 ? text : "";
                p = end;
            } else if (json[p] == '[') {
                const bool children = lastKey == "kids" || lastKey == "outlines";
                arrays.push_back(children);
                depth += children;
                lastKey.clear();
            } else if (json[p] == ']') {
                depth -= arrays.back();
                arrays.pop_back();
            }
        }
        return result;
    }
    std::string Path() const { return scratch.Path("nav.pdf"); }
    TScratchFolder scratch;
    TPdfKalmora pdf;
    TScriptedPrompter* prompter = nullptr;
    std::unique_ptr<TPrompter> previous;
};

TEST_F(PdfNavigation, BookmarksFormATreeWithCounts) {
    auto& canvas = pdf.Canvas();
    canvas.AddBookmark(0, 0, "One", 1, true);
    canvas.AddBookmark(0, 100, "One.a", 2, true);
    canvas.AddBookmark(0, 200, "Two", 1, false);
    canvas.AddBookmark(0, 300, "Two.a", 2, true);
    canvas.AddBookmark(0, 400, "Two.b", 2, true);
    pdf.NewPage();
    canvas.AddBookmark(254, 254, "Three (3)", 1, true);
    const std::string file = End();
    EXPECT_EQ(Outline(), "  One.a\nOne\n  Two.a\n  Two.b\nTwo\nThree (3)\n");
    EXPECT_TRUE(Contains(file, "/Title (Two)\n/Dest[6 0 R /XYZ 0 785.197 0]\n"));
    EXPECT_TRUE(Contains(file, "/Title (Three \\(3\\))\n/Dest[8 0 R /XYZ 72 769.89 0]\n"));
    EXPECT_TRUE(Contains(file, "\n/Count -2\n"));
    // Visible entries: One, One.a, Two and Three; Two's children are hidden.
    EXPECT_TRUE(Contains(file, "<<\n/Count 4\n/First "));
    EXPECT_TRUE(Contains(file, "/Outlines "));
}

TEST_F(PdfNavigation, CountsAreTheVisibleDescendantsNegativeWhenClosed) {
    auto& canvas = pdf.Canvas();
    canvas.AddBookmark(0, 0, "One", 1, true);
    canvas.AddBookmark(0, 0, "One.a", 2, false);
    canvas.AddBookmark(0, 0, "One.a.i", 3, true);
    canvas.AddBookmark(0, 0, "Two", 1, false);
    canvas.AddBookmark(0, 0, "Two.a", 2, true);
    canvas.AddBookmark(0, 0, "Two.a.i", 3, true);
    canvas.AddBookmark(0, 0, "Two.b", 2, true);
    const std::string file = End();
    // The /Count of the entry with the title (written after it), or of the root for an empty title.
    auto count = [&](const std::string& title) {
        const size_t root = file.find("/Outlines ") + 10;
        const std::string object = title.empty() ? ObjectText(file, std::stoi(file.substr(root)))
                                                 : file.substr(file.find("/Title (" + title + ")\n"));
        const size_t line = object.find("/Count ") + 7;
        return object.substr(line, object.find('\n', line) - line);
    };
    EXPECT_EQ(count(""), "3");
    EXPECT_EQ(count("One"), "1");
    EXPECT_EQ(count("One.a"), "-1");
    EXPECT_EQ(count("Two"), "-3");
    EXPECT_EQ(count("Two.a"), "1");
    EXPECT_EQ(count("Two.b"), "0");
}

TEST_F(PdfNavigation, SiblingsLinkToEachOther) {
    for (const char* title : {"a", "b", "c"}) pdf.Canvas().AddBookmark(0, 0, title, 1, true);
    const std::string file = End();
    EXPECT_TRUE(Contains(file, "<<\n/Count 3\n/First "));
    EXPECT_EQ(CountOf(file, "\n/Count 0\n"), 3u);
    EXPECT_EQ(CountOf(file, "\n/Prev "), 2u);
    EXPECT_EQ(CountOf(file, "\n/Next "), 2u);
}

TEST_F(PdfNavigation, BookmarkLevelsMustExist) {
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().AddBookmark(0, 0, "deep", 2, true); }), "Bad bookmark level");
    EXPECT_FALSE(pdf.Printing());
    pdf.BeginDoc();
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().AddBookmark(0, 0, "zero", 0, true); }), "Bad bookmark level: 0");
}

TEST_F(PdfNavigation, NamedDestinationsAndLinksOfEveryKind) {
    WriteFile(scratch.Path("other.pdf"), "%PDF-1.3");
    WriteFile(scratch.Path("notes.txt"), "notes");
    auto& canvas = pdf.Canvas();
    canvas.AddNamedDestination(0, 500, "part2");
    canvas.AddNamedDestination(0, 400, "intro");
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().AddNamedDestination(0, 0, "Intro"); }), "Duplicate name: Intro");
    pdf.BeginDoc();
    canvas.AddNamedDestination(0, 500, "part2");
    canvas.AddNamedDestination(0, 400, "intro");
    canvas.AddLink(Rect(0, 0, 100, 100), "Intro");
    canvas.AddLink(Rect(0, 100, 100, 200), "MailTo:someone@example.org");
    canvas.AddLink(Rect(0, 200, 100, 300), "nextpage");
    canvas.AddLink(Rect(0, 300, 100, 400), "other.pdf|chapter");
    canvas.AddLink(Rect(0, 400, 100, 500), "notes.txt");
    canvas.AddLink(Rect(0, 500, 100, 600), "nowhere");
    const std::string file = End();
    EXPECT_TRUE(Contains(file, "/Subtype/Link\n/Rect[0 841.89 28.346 813.543]\n/Border [0 0 0]\n/H/I\n/A <<\n"
                               "/S/GoTo\n/D(intro)\n>>\n>>\n"));
    EXPECT_TRUE(Contains(file, "/S/URI\n/URI(MailTo:someone@example.org)\n"));
    EXPECT_TRUE(Contains(file, "/S/Named\n/N/NextPage\n"));
    EXPECT_TRUE(Contains(file, "/S/GoToR\n/F(other.pdf)\n/D(chapter)\n/NewWindow true\n"));
    EXPECT_TRUE(Contains(file, "/S/Launch/F(notes.txt)\n"));
    EXPECT_EQ(CountOf(file, "/Annots ["), 1u);
    EXPECT_TRUE(Contains(file, "/Limits [(intro)(part2)]\n"));
    const size_t names = file.find("/Names [(intro)");
    ASSERT_NE(names, std::string::npos);
    EXPECT_TRUE(Contains(file.substr(names, 40), " 0 R(part2)"));
    const std::string dests = RunTool("pdfinfo -dests " + Quoted(Path())).output;
    EXPECT_TRUE(Contains(dests, "\"intro\"")) << dests;
    EXPECT_TRUE(Contains(dests, "\"part2\"")) << dests;
    // Only the undefined destination is reported, and the document is still written.
    ASSERT_EQ(prompter->boxes.size(), 1u);
    EXPECT_EQ(prompter->boxes[0].caption, "PDF Kalmora");
    EXPECT_EQ(prompter->boxes[0].text, "Link destination name not defined: nowhere");
    EXPECT_EQ(prompter->boxes[0].icon, TMsgIcon::Warning);
}

TEST_F(PdfNavigation, NamesAreInByteOrderAndLinksTakeTheDefinedSpelling) {
    auto& canvas = pdf.Canvas();
    canvas.AddNamedDestination(0, 100, "alpha");
    canvas.AddNamedDestination(0, 200, "Beta");
    canvas.AddNamedDestination(0, 300, "gamma");
    canvas.AddLink(Rect(0, 0, 100, 100), "ALPHA");
    canvas.AddLink(Rect(0, 100, 100, 200), "beta");
    const std::string file = End();
    EXPECT_TRUE(Contains(file, "/Limits [(Beta)(gamma)]\n"));
    const size_t names = file.find("/Names [(Beta)");
    ASSERT_NE(names, std::string::npos);
    EXPECT_TRUE(Contains(file.substr(names, 60), " 0 R(alpha)"));
    EXPECT_TRUE(Contains(file, "/S/GoTo\n/D(alpha)\n"));
    EXPECT_TRUE(Contains(file, "/S/GoTo\n/D(Beta)\n"));
    EXPECT_TRUE(prompter->boxes.empty());
    // Poppler finds every name by searching the tree in byte order.
    const std::string dests = RunTool("pdfinfo -dests " + Quoted(Path())).output;
    for (const char* name : {"\"alpha\"", "\"Beta\"", "\"gamma\""}) EXPECT_TRUE(Contains(dests, name)) << dests;
}

TEST_F(PdfNavigation, ARemoteLinkNeedsAnExistingPdfFile) {
    WriteFile(scratch.Path("notes.txt"), "notes");
    for (const char* target : {"missing.pdf|x", "notes.txt|x"}) {
        if (!pdf.Printing()) pdf.BeginDoc();
        EXPECT_EQ(MessageOf([&] { pdf.Canvas().AddLink(Rect(0, 0, 10, 10), target); }),
                  std::string("Invalid link definition: ") + target);
        EXPECT_FALSE(pdf.Printing());
    }
}

TEST_F(PdfNavigation, EncryptedLinksAndOutlinesDecryptForReaders) {
    pdf.Abort();
    pdf.SetOwnerPassword("owner");
    pdf.SetUserPassword("user", true, false, false, false);
    pdf.BeginDoc();
    pdf.Canvas().AddNamedDestination(0, 0, "start");
    pdf.Canvas().AddLink(Rect(0, 0, 100, 100), "start");
    pdf.Canvas().AddLink(Rect(0, 100, 100, 200), "http://example.org/");
    pdf.Canvas().AddBookmark(0, 0, "Encrypted entry", 1, true);
    pdf.EndDoc();
    EXPECT_TRUE(QpdfChecks(Path(), "user"));
    EXPECT_TRUE(Contains(RunTool("pdfinfo -dests -upw user " + Quoted(Path())).output, "\"start\""));
    const std::string plain = scratch.Path("plain.pdf");
    RunTool("qpdf --decrypt --password=user " + Quoted(Path()) + " " + Quoted(plain));
    const std::string json = RunTool("qpdf --json --json-key=outlines " + Quoted(plain)).output;
    EXPECT_TRUE(Contains(json, "Encrypted entry")) << json;
    EXPECT_TRUE(Contains(ReadFile(plain), "http://example.org/"));
}

TEST_F(PdfNavigation, APageEventKeepsTheStylesFontAndNoEventKeepsTheCallersFont) {
    auto& canvas = pdf.Canvas();
    canvas.AddStyle("Heading").Params().SetText("FontSize=16\n");
    canvas.SetCurrentStyle("Heading");
    canvas.GetFont().Size = 30;
    pdf.NewPage();
    EXPECT_EQ(canvas.GetFont().Size, 30);
    TObject* sender = nullptr;
    pdf.OnNewPage = [&](TObject* s) {
        sender = s;
        canvas.GetFont().Size = 8;
    };
    pdf.NewPage();
    EXPECT_EQ(canvas.GetFont().Size, 16);
    EXPECT_EQ(sender, &canvas);
    End();
}

TEST(PdfStyles, ParametersComeFromTheStyleOrItsParents) {
    TPdfStyle base("base"), caption("caption");
    base.Params().SetText("FontSize=14\nFontName=Liberation Serif\nFontBold=1\nLeftMargin=30\n");
    caption.SetParent(&base);
    caption.Params().SetText("FontColor=255, 0 ,0\nIndent=5\nFontCharset=greek\nFontItalic= 1 \n");
    TFont font;
    caption.ApplyFont(font, nullptr);
    EXPECT_EQ(font.Size, 14);
    EXPECT_EQ(font.Name, "Liberation Serif");
    EXPECT_EQ(font.Color, RGB(255, 0, 0));
    EXPECT_EQ(font.Style, fsBold | fsItalic);
    EXPECT_EQ(font.Charset, GREEK_CHARSET);
    EXPECT_EQ(caption.LeftPosition(), 35);
    caption.Params().SetValues("LeftIndent", "7");
    EXPECT_EQ(caption.LeftPosition(), 37);
    EXPECT_EQ(caption.TopMargin(), 0);
    TBrush brush;
    base.Params().SetValues("BrushColor", "Navy");
    caption.ApplyFont(font, &brush);
    EXPECT_EQ(brush.Color, clNavy);
}

TEST(PdfStyles, CircularParentsAndBadValuesAreErrors) {
    TPdfStyle a("a"), b("b"), self("self");
    a.SetParent(&b);
    b.SetParent(&a);
    self.SetParent(&self);
    self.Params().SetValues("FontSize", "9");
    EXPECT_EQ(self.NumParam("FontSize", 0), 9);
    EXPECT_EQ(MessageOf([&] { self.Param("FontName"); }), "Circular reference in style sheet: self");
    EXPECT_EQ(MessageOf([&] { a.Param("FontName"); }), "Circular reference in style sheet: a");
    TPdfStyle plain("plain");
    plain.Params().SetValues("TopMargin", "12mm");
    EXPECT_EQ(MessageOf([&] { plain.TopMargin(); }), "Numeric value expected for style parameter: TopMargin = 12mm");
}

TEST(PdfStyles, ColoursAreTripletsOrNames) {
    EXPECT_EQ(StyleColor(""), clBlack);
    EXPECT_EQ(StyleColor("255,0,0"), clRed);
    EXPECT_EQ(StyleColor(" 0 , 128 , 255 "), RGB(0, 128, 255));
    EXPECT_EQ(StyleColor("Red"), clRed);
    EXPECT_EQ(StyleColor("skyblue"), clSkyBlue);
    EXPECT_EQ(MessageOf([] { StyleColor("300,0,0"); }), "Invalid color specification:300,0,0,");
    EXPECT_EQ(MessageOf([] { StyleColor("1,2"); }), "Invalid color specification:");
    EXPECT_THROW(StyleColor("Mauve"), EConvertError);
}

TEST_F(PdfNavigation, CurrentStyleSetsTheTextState) {
    auto& canvas = pdf.Canvas();
    TPdfStyle& style = canvas.AddStyle("Heading");
    style.Params().SetText("FontSize=16\nCharacterSpacing=3\nFontDegreeAngle=45\nLineSpacing=10\n");
    canvas.SetCurrentStyle("heading");
    EXPECT_EQ(canvas.GetFont().Size, 16);
    EXPECT_EQ(canvas.CharacterSpacing(), 3);
    EXPECT_DOUBLE_EQ(canvas.FontAngle(), 45);
    EXPECT_EQ(canvas.LineSpacing(), 10);
    canvas.SetCurrentStyle("");
    EXPECT_EQ(canvas.GetFont().Size, 10);
    EXPECT_EQ(canvas.CharacterSpacing(), 0);
    EXPECT_EQ(canvas.CurrentStyle(), nullptr);
    canvas.TextOut(0, 100, "plain");
    canvas.SetCurrentStyle("heading");
    canvas.TextOut(0, 200, "spaced");
    canvas.SetCurrentStyle("");
    canvas.TextOut(0, 300, "plain again");
    const std::string file = End();
    // The spacing is switched off in the page as it is in the measures.
    const size_t spaced = file.find("(spaced) Tj"), plainAgain = file.find("(plain again) Tj");
    ASSERT_NE(plainAgain, std::string::npos);
    EXPECT_TRUE(Contains(file.substr(spaced, plainAgain - spaced), "\n0 Tc\n"));
    pdf.BeginDoc();
    EXPECT_EQ(MessageOf([&] { canvas.SetCurrentStyle("Body"); }), "Invalid style name: Body");
    EXPECT_FALSE(pdf.Printing());
}

}  // namespace
