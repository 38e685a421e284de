// Text and TrueType fonts: operators, metrics, font objects, embedding, code pages and
// right-to-left text.
#include <gtest/gtest.h>

#include <clocale>
#include <locale>

#include "PdfTestSupport.h"
#include "pdf/PdfFont.h"
#include "pdf/PdfKalmora.h"
#include "platform/FontService.h"

namespace {

class PdfText : public ::testing::Test {
protected:
    void Begin() {
        pdf.SetFileName(Path());
        pdf.BeginDoc();
    }
    std::string End() {
        pdf.EndDoc();
        EXPECT_TRUE(QpdfChecks(Path()));
        return ReadFile(Path());
    }
    // Name, type, encoding and embedding of each line of `pdffonts`.
    std::vector<std::string> Fonts() {
        std::vector<std::string> lines;
        std::istringstream output(RunTool("pdffonts " + Quoted(Path())).output);
        std::string line;
        for (int n = 0; std::getline(output, line); ++n) {
            if (n < 2) continue;
            std::string name = line.substr(0, 36);
            name.erase(name.find_last_not_of(' ') + 1);
            std::istringstream rest(line.substr(37));
            std::string type, encoding, embedded;
            rest >> type >> encoding >> embedded;
            lines.push_back(name + "|" + type + "|" + encoding + "|" + embedded);
        }
        return lines;
    }
    std::string Path() const { return scratch.Path("text.pdf"); }
    TFont& Font() { return pdf.Canvas().GetFont(); }
    TScratchFolder scratch;
    TPdfKalmora pdf;
};

TEST_F(PdfText, TextLinesAreTheOperatorsOfTheText) {
    Begin();
    pdf.Canvas().TextOut(100, 200, "Hello (world)");
    Font().Color = RGB(255, 128, 0);
    Font().Size = 12;
    pdf.Canvas().SetFontAngle(90);
    pdf.Canvas().TextOut(100, 200, "Up");
    pdf.Canvas().SetFontAngle(0);
    pdf.Canvas().SetCharacterSpacing(10);
    const std::string file = End();
    // Liberation Sans (for Arial) has an ascent of 0.9 em at the screen's 133 pixels for 100 points.
    EXPECT_TRUE(Contains(file, "stream\nBT\n/F0 10 Tf\n0 0 0 rg\n28.346 776.197 Td\n(Hello \\(world\\)) Tj\nET\n"));
    EXPECT_TRUE(Contains(file, "BT\n/F0 12 Tf\n1 0.502 0 rg\n0 1 -1 0 28.346 774.397 Tm\n(Up) Tj\nET\n2.835 Tc\n\nendstream"));
}

TEST_F(PdfText, NumbersStayPointSeparatedUnderAGermanLocale) {
    const TCommandResult made = RunTool("localedef -i de_DE -f UTF-8 " + Quoted(scratch.Path("de_DE.UTF-8")));
    ::setenv("LOCPATH", scratch.Folder().c_str(), 1);
    const bool german = made.status <= 1 && std::setlocale(LC_ALL, "de_DE.UTF-8");
    // Streams follow the global C++ locale; give it a decimal comma whether or not the C locale exists.
    struct TComma : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new TComma));
    Begin();
    pdf.Canvas().TextOut(100, 200, "Komma");
    const std::string file = End();
    std::locale::global(previous);
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");
    EXPECT_TRUE(Contains(file, "\n28.346 776.197 Td\n"));
    EXPECT_TRUE(Contains(file, "/MediaBox[ 0 0 595.276 841.89 ]"));
    if (!german) GTEST_SKIP() << "no German C locale: " << made.output;
}

TEST_F(PdfText, FacesAreReusedByNameStyleAndCharacterSet) {
    Begin();
    pdf.Canvas().TextOut(0, 100, "regular");
    Font().Style = fsBold;
    pdf.Canvas().TextOut(0, 200, "bold");
    Font().Style = 0;
    pdf.Canvas().TextOut(0, 300, "regular again");
    Font().Style = fsItalic;
    Font().Name = "times new roman";
    pdf.Canvas().TextOut(0, 400, "italic serif");
    const std::string file = End();
    EXPECT_EQ(CountOf(file, "/Type/Font\n"), 3u);
    EXPECT_EQ(CountOf(file, "/F0 10 Tf"), 2u);
    EXPECT_EQ(CountOf(file, "/F1 10 Tf"), 1u);
    EXPECT_TRUE(Contains(file, "/Font<<\n/F0 "));
    EXPECT_EQ(Fonts(), (std::vector<std::string>{"Arial|TrueType|WinAnsi|no", "Arial,Bold|TrueType|WinAnsi|no",
                                                 "times new roman,Italic|TrueType|WinAnsi|no"}));
    // A face with blanks is escaped; an italic face adds 64 to its flags.
    EXPECT_TRUE(Contains(file, "/FontName/times#20new#20roman\n"));
    EXPECT_TRUE(Contains(file, "/Flags 98\n"));
    EXPECT_TRUE(Contains(file, "/Flags 32\n"));
    const TCommandResult text = RunTool("pdftotext " + Quoted(Path()) + " -");
    EXPECT_TRUE(Contains(text.output, "regular again")) << text.output;
}

TEST_F(PdfText, WidthsFillFourteenLinesOfSixteen) {
    Begin();
    pdf.Canvas().TextOut(0, 100, " ");
    const std::string file = End();
    const size_t start = file.find("0 obj\n[\n");
    ASSERT_NE(start, std::string::npos);
    const std::string widths = file.substr(start + 8, file.find("]\nendobj", start) - start - 8);
    EXPECT_EQ(CountOf(widths, "\n"), 14u);
    EXPECT_EQ(CountOf(widths, " "), 224u);
    // The space of Liberation Sans: 569 units of 2048 are 37 pixels at 133, 277.5 thousandths.
    EXPECT_TRUE(widths.starts_with("278 ")) << widths.substr(0, 40);
    EXPECT_TRUE(Contains(file, "/FirstChar 32\n/LastChar 255\n"));
}

TEST_F(PdfText, EmbeddingSkipsTheListedFaces) {
    pdf.SetEmbedFonts(true);
    Begin();
    pdf.Canvas().TextOut(0, 100, "Not embedded");
    Font().Name = "Liberation Serif";
    pdf.Canvas().TextOut(0, 200, "Embedded serif");
    const std::string file = End();
    EXPECT_EQ(Fonts(), (std::vector<std::string>{"Arial|TrueType|WinAnsi|no", "Liberation Serif|TrueType|WinAnsi|yes"}));
    EXPECT_EQ(CountOf(file, "/FontFile2 "), 1u);
    EXPECT_TRUE(Contains(file, "/Filter[/ASCII85Decode/FlateDecode]\n/Length "));
    const std::string fontFile = ReadFile(TFontFace::Find("Liberation Serif", false, false)->FileName());
    EXPECT_TRUE(Contains(file, "/Length1 " + std::to_string(fontFile.size()) + "\n"));
    EXPECT_TRUE(Contains(RunTool("pdftotext " + Quoted(Path()) + " -").output, "Embedded serif"));
}

TEST_F(PdfText, UnderlinedAndStruckOutTextDrawsRules) {
    Begin();
    Font().Style = fsUnderline | fsStrikeOut;
    pdf.Canvas().TextOut(0, 100, "ruled");
    const std::string file = End();
    EXPECT_EQ(CountOf(file, "\n0 0 0 RG\n[]0 d\n"), 2u);
    EXPECT_EQ(CountOf(file, " l S\n"), 2u);
}

TEST_F(PdfText, LinesUseThePen) {
    Begin();
    pdf.Canvas().MoveTo(0, 0);
    pdf.Canvas().LineTo(254, 254);
    pdf.Canvas().Pen().Style = TPenStyle::psDash;
    pdf.Canvas().Pen().Color = clRed;
    pdf.Canvas().LineTo(508, 254);
    pdf.Canvas().Pen().Style = TPenStyle::psClear;
    pdf.Canvas().LineTo(0, 0);
    const std::string file = End();
    EXPECT_TRUE(Contains(file, "stream\n0 0 0 RG\n[]0 d\n0.283 w\n0 841.89 m\n72 769.89 l S\n"
                               "1 0 0 RG\n[3 3]0 d\n0.283 w\n72 769.89 m\n144 769.89 l S\n\nendstream"));
}

TEST_F(PdfText, MeasuresFollowTheScreenMetrics) {
    Begin();
    // 10 points: (1854 + 434) / 2048 of 1333 pixels, in tenths of a millimetre.
    EXPECT_EQ(pdf.Canvas().TextHeight("A"), 39);
    const int one = pdf.Canvas().TextWidth("W");
    EXPECT_LT(pdf.Canvas().TextWidth("iiii"), pdf.Canvas().TextWidth("WWWW"));
    pdf.Canvas().SetCharacterSpacing(5);
    EXPECT_NEAR(pdf.Canvas().TextWidth("WW") - 2 * one, 5, 1);
    pdf.Canvas().SetCharacterSpacing(0);
    Font().Size = 20;
    EXPECT_NEAR(pdf.Canvas().TextHeight("A"), 79, 1);
    End();
}

TEST_F(PdfText, UnsupportedCharacterSetsAndNonTrueTypeFacesAreRefused) {
    Begin();
    Font().Charset = SHIFTJIS_CHARSET;
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().TextOut(0, 0, "x"); }), "Font character set not supported: Arial");
    EXPECT_FALSE(pdf.Printing());
    // Cantarell is installed as an OpenType face with CFF outlines only.
    Begin();
    Font().Name = "Cantarell";
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().TextOut(0, 0, "x"); }), "This font is not TrueType: Cantarell");
    EXPECT_FALSE(pdf.Printing());
}

TEST_F(PdfText, UnderlineLiesBelowTheBaselineAndStrikeOutAboveIt) {
    Begin();
    Font().Style = fsUnderline | fsStrikeOut;
    Font().Size = 20;
    pdf.Canvas().TextOut(100, 200, "Ruled");
    const std::string file = End();
    std::istringstream lines(file);
    std::string line;
    double baseline = 0;
    std::vector<double> rules;  // the y of each rule, in drawing order
    while (std::getline(lines, line)) {
        double x, y, x1, y1;
        if (line.ends_with(" Td")) std::istringstream(line) >> x >> baseline;
        if (line.ends_with(" l S")) {
            std::string m;
            std::istringstream(line) >> x >> y >> m >> x1 >> y1;
            EXPECT_EQ(y, y1);
            rules.push_back(y);
        }
    }
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_LT(rules[0], baseline);
    EXPECT_GT(rules[1], baseline + 3);
}

TEST(PdfRightToLeft, TablesMarkTheDifferencesCodes) {
    const TRtlTable& hebrew = RtlTable(2);
    EXPECT_TRUE(hebrew[0xE0]);
    EXPECT_TRUE(hebrew[0xFA]);
    EXPECT_FALSE(hebrew['a']);
    EXPECT_FALSE(hebrew[0xDF]);
    EXPECT_TRUE(RtlTable(1)[0xC1]);
    EXPECT_FALSE(RtlTable(0)[0xC1]);
    TRtlTable table{};
    EXPECT_EQ(MessageOf([&] { AssignRTLChars(table, {"12"}); }), "Internal error: TPdfFont.AssignRTLChars");
    EXPECT_EQ(MessageOf([&] { AssignRTLChars(table, {"x/a"}); }), "Internal error: TPdfFont.AssignRTLChars");
    AssignRTLChars(table, {"65/a/b"});
    EXPECT_TRUE(table[65] && table[66] && !table[67]);
}

TEST(PdfRightToLeft, EncodeTextReversesRightToLeftRunsOnly) {
    const TRtlTable& hebrew = RtlTable(2);
    EXPECT_EQ(EncodeText("ab\xE0\xE1 c", &hebrew, 0, nullptr), "( c\xE1\xE0" "ab)");
    EXPECT_EQ(EncodeText("a\\b\n", nullptr, 0, nullptr), "(a\\\\b\\n)");
}

TEST_F(PdfText, CodePagesOfTheLocaleAndOfTheFont) {
    ::setenv("LC_CTYPE", "ru_RU.UTF-8", 1);
    TPdfKalmora russian;
    ::unsetenv("LC_CTYPE");
    EXPECT_EQ(russian.AnsiCodePage(), 1251);
    russian.SetFileName(Path());
    russian.SetTitle("Отпуск");
    russian.BeginDoc();
    russian.Canvas().TextOut(0, 100, "Привет, мир");
    russian.Canvas().GetFont().Name = "Symbol";
    russian.Canvas().TextOut(0, 200, "abc");
    russian.Canvas().GetFont().Name = "Liberation Sans";
    russian.Canvas().GetFont().Charset = GREEK_CHARSET;
    russian.Canvas().TextOut(0, 300, "Γειά σου");
    russian.Canvas().GetFont().Charset = HEBREW_CHARSET;
    russian.Canvas().TextOut(3000, 400, "שלום");
    russian.EndDoc();
    const std::string file = ReadFile(Path());
    EXPECT_TRUE(QpdfChecks(Path()));
    EXPECT_TRUE(Contains(file, "/BaseEncoding/WinAnsiEncoding\n/Differences [\n128/afii10051/afii10052\n"));
    EXPECT_TRUE(Contains(file, "\n161/dieresistonos/Alphatonos\n"));
    EXPECT_TRUE(Contains(file, "\n253/afii299/afii300\n]\n"));
    EXPECT_TRUE(Contains(file, "(\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0) Tj"));
    // Document texts do not depend on the locale's code page.
    EXPECT_TRUE(Contains(RunTool("pdfinfo " + Quoted(Path())).output, "Title:           Отпуск\n"));
    // The symbol face keeps the symbolic flag with its family bits.
    EXPECT_TRUE(Contains(file, "/FontName/Symbol\n/Ascent "));
    EXPECT_TRUE(Contains(file, "/Flags 4\n"));
    const std::string text = RunTool("pdftotext " + Quoted(Path()) + " -").output;
    EXPECT_TRUE(Contains(text, "Привет, мир")) << text;
    EXPECT_TRUE(Contains(text, "Γειά σου")) << text;
    // Right-to-left text is stored in visual order.
    EXPECT_TRUE(Contains(file, "(\xED\xE5\xEC\xF9) Tj"));
}

TEST_F(PdfText, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    Begin();
    pdf.Canvas().TextOut(0, 100, "Bild 漢字 ok");
    EXPECT_TRUE(Contains(End(), "(Bild ?? ok) Tj"));
}

}  // namespace
