// Text box layout: line breaks, alignment, page breaks under a style, and where poppler finds the text.
#include <gtest/gtest.h>

#include <regex>

#include "PdfTestSupport.h"
#include "pdf/PdfKalmora.h"
#include "pdf/PdfLineBreak.h"
#include "pdf/PdfStyle.h"

namespace {

struct TWordBox {
    std::string word;
    double xMin, yMin, xMax, yMax;  // points from the top left corner
};

std::vector<TWordBox> WordBoxes(const std::string& pdfPath) {
    const std::string html = RunTool("pdftotext -bbox " + Quoted(pdfPath) + " -").output;
    static const std::regex word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    std::vector<TWordBox> boxes;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), word); it != std::sregex_iterator(); ++it)
        boxes.push_back({(*it)[5], std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])});
    return boxes;
}

// Every character one unit wide, the Hebrew letters of code page 1255 (0xE0..0xFA) right to left.
TEST(PdfLineBreak, LinesEndAtBreaksSeparatorsOrTheWidth) {
    const std::vector<int> widths(256, 10);
    TRtlTable hebrew{};
    for (int c = 0xE0; c <= 0xFA; ++c) hebrew[size_t(c)] = true;
    const TLineMetrics plain{widths, [](int64_t pixels, size_t) { return int(pixels / 10); }};
    const TLineMetrics rtl{widths, plain.width, &hebrew};
    const TLineMetrics spaced{widths, [](int64_t pixels, size_t length) { return int(pixels / 10 + length - 1); }};
    struct {
        const char* name;
        std::string text;
        int width;
        size_t maxLines;
        const TLineMetrics& metrics;
        std::vector<std::string> lines;
        size_t consumed;
    } const cases[] = {
        {"fits", "short", 10, 9, plain, {"short"}, 5},
        {"after the blank", "one two three", 8, 9, plain, {"one two ", "three"}, 13},
        {"after other separators", "a-b/c:d;e", 4, 9, plain, {"a-b/", "c:d;", "e"}, 9},
        {"a long word is cut", "abcdefghij", 4, 9, plain, {"abcd", "efgh", "ij"}, 10},
        {"no break at the first character", "-abcdef", 4, 9, plain, {"-abc", "def"}, 7},
        {"line breaks are dropped", "a\r\nb\nc\rd", 10, 9, plain, {"a", "b", "c", "d"}, 8},
        {"an empty line", "a\n\nb", 10, 9, plain, {"a", "", "b"}, 4},
        {"the line count limits", "one two three four", 4, 2, plain, {"one ", "two "}, 8},
        {"narrower than a character", "abc", 0, 9, plain, {"a", "b", "c"}, 3},
        {"spacing counts", "abcdef", 7, 9, spaced, {"abcd", "ef"}, 6},
        {"a separator between Latin letters is no break", "ab cd\xE0\xE1", 5, 9, rtl, {"ab cd", "\xE0\xE1"}, 7},
        {"a separator beside a Hebrew letter breaks", "\xE0\xE1 \xE2\xE3\xE4", 4, 9, rtl, {"\xE0\xE1 ", "\xE2\xE3\xE4"}, 6},
        {"a direction change breaks", "abc\xE0\xE1\xE2", 5, 9, rtl, {"abc", "\xE0\xE1\xE2"}, 6},
    };
    for (const auto& c : cases) {
        const TBrokenLines broken = BreakLines(c.text, c.width, c.maxLines, c.metrics);
        EXPECT_EQ(broken.lines, c.lines) << c.name;
        EXPECT_EQ(broken.consumed, c.consumed) << c.name;
        ASSERT_EQ(broken.starts.size(), broken.lines.size()) << c.name;
        EXPECT_EQ(broken.starts[0], 0u) << c.name;
    }
}

class PdfTextBox : public ::testing::Test {
protected:
    void SetUp() override {
        pdf.SetFileName(Path());
        pdf.BeginDoc();
    }
    void TearDown() override { pdf.Abort(); }
    std::string End() {
        pdf.EndDoc();
        EXPECT_TRUE(QpdfChecks(Path()));
        return ReadFile(Path());
    }
    // The strings shown by the page content, in order.
    static std::vector<std::string> Shown(const std::string& file) {
        std::vector<std::string> shown;
        static const std::regex show(R"(\n\(((?:[^\\)]|\\.)*)\) Tj\n)");
        for (auto it = std::sregex_iterator(file.begin(), file.end(), show); it != std::sregex_iterator(); ++it)
            shown.push_back((*it)[1]);
        return shown;
    }
    std::string Path() const { return scratch.Path("box.pdf"); }
    TPdfCanvas& Canvas() { return pdf.Canvas(); }
    TScratchFolder scratch;
    TPdfKalmora pdf;
    static constexpr double PointsPerTenth = 72.0 / 254;
};

TEST_F(PdfTextBox, ACaptionIsCentredInItsBox) {
    // Poppler measures a word from its own idea of the font's ascent, so heights are compared
    // with a line placed at the top of the same box.
    EXPECT_EQ(Canvas().TextBox(600, 100, 1100, 300, 0, 0, "Top"), 0);
    EXPECT_EQ(Canvas().TextBox(0, 100, 500, 300, 2, 2, "Caption"), 0);
    EXPECT_EQ(Canvas().TextBox(1200, 100, 1700, 300, 0, 1, "Bottom"), 0);
    EXPECT_EQ(Canvas().TextBox(1000, 1000, 1500, 1010, 1, 2, "Right"), 0);
    End();
    const auto boxes = WordBoxes(Path());
    ASSERT_EQ(boxes.size(), 4u);
    const double top = boxes[0].yMin;
    // Centred between 0 and 500; its line of 39 tenths centred between 100 and 300 starts at 180.
    EXPECT_NEAR((boxes[1].xMin + boxes[1].xMax) / 2, 250 * PointsPerTenth, 0.5);
    EXPECT_NEAR(boxes[1].yMin - top, 80 * PointsPerTenth, 0.01);
    EXPECT_NEAR(boxes[2].yMin - top, 161 * PointsPerTenth, 0.01);
    // A box lower than its line starts the line at its top; right alignment ends it at the right edge.
    EXPECT_NEAR(boxes[3].xMax, 1500 * PointsPerTenth, 0.5);
    EXPECT_NEAR(boxes[3].yMin - top, 900 * PointsPerTenth, 0.01);
}

TEST_F(PdfTextBox, LineBreaksSplitWithoutTheBreakCharacters) {
    Canvas().TextBox(0, 100, 2000, 0, 0, 0, "one\r\ntwo\nthree\rfour");
    EXPECT_EQ(Shown(End()), (std::vector<std::string>{"one", "two", "three", "four"}));
}

TEST_F(PdfTextBox, LongTextBreaksAfterSeparatorsAndCutsLongWords) {
    struct {
        std::string text, widest;
    } const cases[] = {
        {"alpha beta gamma-delta epsilon/zeta eta", "alpha beta "},
        {"Supercalifragilisticexpialidocious", "Supercal"},
    };
    for (const auto& c : cases) {
        if (!pdf.Printing()) pdf.BeginDoc();
        const int width = Canvas().TextWidth(c.widest);
        Canvas().TextBox(0, 100, width, 0, 0, 0, c.text);
        const bool words = c.text.find(' ') != std::string::npos;
        const auto shown = Shown(End());
        ASSERT_GE(shown.size(), 3u);
        EXPECT_EQ(shown[0], c.widest);
        std::string joined;
        for (size_t i = 0; i < shown.size(); ++i) {
            joined += shown[i];
            pdf.BeginDoc();
            EXPECT_LE(Canvas().TextWidth(shown[i]), width) << shown[i];
            if (i + 1 < shown.size()) {
                const std::string longer = shown[i] + shown[i + 1][0];
                // Each line ends where the next character would not fit, or at a separator.
                if (words) EXPECT_NE(std::string(" -/").find(shown[i].back()), std::string::npos) << shown[i];
                else EXPECT_GT(Canvas().TextWidth(longer), width) << longer;
            }
            pdf.Abort();
        }
        EXPECT_EQ(joined, c.text);
    }
}

TEST_F(PdfTextBox, ABoxKeepsTheLinesThatFitAndCountsTheRest) {
    const std::string text = "one two three four five six";
    const int width = Canvas().TextWidth("one two ");
    // Lower than a line: still one line.
    const int left = Canvas().TextBox(0, 100, width, 110, 0, 0, text);
    EXPECT_EQ(left, int(text.size() - std::string("one two ").size()));
    // Room for two lines of 39 tenths.
    EXPECT_EQ(Canvas().TextBox(0, 200, width, 290, 0, 0, text), int(text.size() - std::string("one two three ").size()));
    EXPECT_EQ(Canvas().TextBox(0, 400, width, 500, 0, 0, ""), 0);
    EXPECT_EQ(Shown(End()), (std::vector<std::string>{"one two ", "one two ", "three "}));
}

TEST_F(PdfTextBox, ZeroTopContinuesBelowThePreviousBox) {
    Canvas().TextBox(0, 100, 2000, 0, 0, 0, "first");
    Canvas().TextBox(0, 0, 2000, 0, 0, 0, "second");
    End();
    const auto boxes = WordBoxes(Path());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NEAR(boxes[1].yMin - boxes[0].yMin, 39 * PointsPerTenth, 0.01);
}

TEST_F(PdfTextBox, ABoxNarrowerThanACharacterStillAdvances) {
    EXPECT_EQ(Canvas().TextBox(0, 100, 1, 0, 0, 0, "abc"), 0);
    TPdfStyle& style = Canvas().AddStyle("body");
    style.Params().SetText("TopMargin=100\n");
    Canvas().SetCurrentStyle("body");
    EXPECT_EQ(Canvas().TextBox(0, 0, 1, 0, 0, 0, "xyz"), 0);
    EXPECT_EQ(Shown(End()), (std::vector<std::string>{"a", "b", "c", "x", "y", "z"}));
}

TEST_F(PdfTextBox, AStyledBoxBreaksPagesAtItsMargins) {
    TPdfStyle& style = Canvas().AddStyle("body");
    style.Params().SetText("TopMargin=200\nBottomMargin=300\nLeftMargin=100\nFontName=Liberation Serif\n");
    Canvas().SetCurrentStyle("body");
    std::string text;
    for (int i = 0; i < 200; ++i) text += "Line " + std::to_string(i) + "\n";
    int pages = 0;
    pdf.OnNewPage = [&](TObject*) { ++pages; };
    EXPECT_EQ(Canvas().TextBox(100, 200, 1800, 0, 0, 0, text), 0);
    const std::string file = End();
    EXPECT_GE(pages, 3);
    EXPECT_TRUE(Contains(RunTool("pdfinfo " + Quoted(Path())).output, "Pages:           " + std::to_string(pages + 1)));
    const auto boxes = WordBoxes(Path());
    ASSERT_EQ(boxes.size(), 400u);
    double lowest = 0;
    for (const auto& box : boxes) {
        lowest = std::max(lowest, box.yMax);
        EXPECT_GE(box.yMin, 200 * PointsPerTenth - 0.5) << box.word;
    }
    EXPECT_LE(lowest, (2970 - 300) * PointsPerTenth);
}

TEST_F(PdfTextBox, AnAbortFromTheNewPageEventEndsTheStyledBox) {
    TPdfStyle& style = Canvas().AddStyle("body");
    style.Params().SetText("TopMargin=100\nBottomMargin=2500\n");
    Canvas().SetCurrentStyle("body");
    int messageRuns = 0;
    pdf.ProcessMessages = [&] { ++messageRuns; };
    pdf.OnNewPage = [&](TObject*) { pdf.Abort(); };
    std::string text;
    for (int i = 0; i < 20; ++i) text += "line " + std::to_string(i) + "\n";
    // Lines 0 to 11 fit above the bottom margin; the rest are not written.
    EXPECT_EQ(Canvas().TextBox(0, 0, 2000, 0, 0, 0, text), int(text.size() - text.find("line 12")));
    EXPECT_FALSE(pdf.Printing());
    EXPECT_EQ(messageRuns, 0);  // the abort came before the page's messages
    Canvas().TextOut(0, 0, "ignored");
    pdf.NewPage();
    EXPECT_EQ(scratch.Files(), std::vector<std::string>{});
    pdf.OnNewPage = nullptr;
    pdf.BeginDoc();
    pdf.NewPage();
    EXPECT_EQ(messageRuns, 2);  // once per page
}

TEST_F(PdfTextBox, APendingDestinationMarksTheFirstLine) {
    Canvas().DestinationName = "caption1";
    Canvas().TextBox(300, 400, 2000, 0, 0, 0, "Marked\nnot marked");
    EXPECT_TRUE(Canvas().DestinationName.empty());
    End();
    const std::string dests = RunTool("pdfinfo -dests " + Quoted(Path())).output;
    EXPECT_TRUE(Contains(dests, "\"caption1\"")) << dests;
    EXPECT_EQ(CountOf(dests, "\"caption"), 1u);
}

TEST_F(PdfTextBox, RightToLeftLinesEndAtTheRightEdge) {
    Canvas().GetFont().Name = "Liberation Sans";
    Canvas().GetFont().Charset = HEBREW_CHARSET;
    Canvas().TextBox(0, 100, 1000, 0, 1, 0, "שלום עולם");
    End();
    const auto boxes = WordBoxes(Path());
    ASSERT_FALSE(boxes.empty());
    double right = 0;
    for (const auto& box : boxes) right = std::max(right, box.xMax);
    EXPECT_NEAR(right, 1000 * PointsPerTenth, 1);
}

}  // namespace
