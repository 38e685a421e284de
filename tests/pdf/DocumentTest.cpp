// The document component: properties, paper sizes and units, the life of a document and its errors.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <cmath>

#include "PdfTestSupport.h"
#include "pdf/PdfKalmora.h"
#include "platform/Paths.h"
#include "platform/Prompter.h"

namespace {

TEST(PdfDocument, PaperNamesAndUnitsGiveThePageSize) {
    struct {
        const char* name;
        TLengthUnit unit;
        TPrinterOrientation orientation;
        int index, width, height;
    } const cases[] = {
        {"a4", luTenth, poPortrait, 9, 2100, 2970},
        {"A4", luPoint, poPortrait, 9, 595, 842},
        {"A4", luTenth, poLandscape, 9, 2970, 2100},
        {"B5", luTenth, poPortrait, 13, 1820, 2570},
        {"b4", luTenth, poPortrait, 12, 2500, 3540},
        {"Letter", luPoint, poPortrait, 1, 612, 792},
        {"Ledger", luTenth, poPortrait, 4, 4318, 2794},
        {"German Legal Fanfold", luTenth, poLandscape, 41, 3302, 2159},
        {"envelope #10", luPoint, poPortrait, 20, 297, 684},
    };
    for (const auto& c : cases) {
        TPdfKalmora pdf;
        pdf.SetLengthUnit(c.unit);
        pdf.SetOrientation(c.orientation);
        pdf.SetPaperSizeName(c.name);
        EXPECT_EQ(pdf.PaperSize(), c.index) << c.name;
        EXPECT_EQ(pdf.PageWidth(), c.width) << c.name;
        EXPECT_EQ(pdf.PageHeight(), c.height) << c.name;
    }
}

TEST(PdfDocument, PaperNameErrorsAndCustomSizes) {
    TPdfKalmora pdf;
    EXPECT_EQ(MessageOf([&] { pdf.SetPaperSizeName("Custom"); }), "Invalid property value: PaperSizeName");
    EXPECT_EQ(MessageOf([&] { pdf.SetPaperSizeName("A9"); }), "Invalid property value: PaperSizeName");
    EXPECT_EQ(MessageOf([&] { pdf.SetPaperSize(42); }), "Invalid property value: PaperSize");
    pdf.SetPaperSizeName("A4");
    pdf.SetPageWidth(1000);
    EXPECT_EQ(pdf.PaperSizeName(), "Custom");
    EXPECT_EQ(pdf.PaperSize(), 0);
    EXPECT_EQ(pdf.PageHeight(), 2970);
}

TEST(PdfDocument, UnitChangesRoundTheSizeEachTime) {
    TPdfKalmora pdf;
    pdf.SetPaperSizeName("A4");
    pdf.SetLengthUnit(luPoint);
    EXPECT_EQ(pdf.PageWidth(), 595);
    EXPECT_EQ(pdf.PageHeight(), 842);
    pdf.SetLengthUnit(luPoint);
    EXPECT_EQ(pdf.PageWidth(), 595);
    pdf.SetLengthUnit(luTenth);
    EXPECT_EQ(pdf.PageWidth(), 2099);
    EXPECT_EQ(pdf.PageHeight(), 2970);
    pdf.SetOrientation(poLandscape);
    pdf.SetOrientation(poLandscape);
    EXPECT_EQ(pdf.PageWidth(), 2970);
}

TEST(PdfDocument, DefaultsOfANewComponent) {
    TPdfKalmora pdf;
    EXPECT_EQ(pdf.About(), "Brelvant PDF Kalmora version 3.02");
    EXPECT_EQ(pdf.ImageCompressMode(), cpJpeg);
    EXPECT_EQ(pdf.JpegQuality(), 90);
    EXPECT_EQ(pdf.LengthUnit(), luTenth);
    EXPECT_TRUE(pdf.SmartStretchDraw());
    EXPECT_EQ(pdf.NonEmbeddedFonts().Text(), "Arial\r\nCourier New\r\nSymbol\r\nTimes New Roman\r\n");
    EXPECT_EQ(MessageOf([&] { pdf.SetJpegQuality(0); }), "Invalid value for property: JpegQuality");
    EXPECT_EQ(MessageOf([&] { pdf.SetJpegQuality(101); }), "Invalid value for property: JpegQuality");
    pdf.SetJpegQuality(1);
    pdf.SetJpegQuality(100);
    EXPECT_EQ(pdf.JpegQuality(), 100);
}

// The locale's paper decides the default; locales are compiled into a private folder.
class PdfLocalePaper : public ::testing::Test {
protected:
    void SetUp() override {
        // "odd": the U.S. locale with a paper of 100 x 100 mm, which the table does not know.
        std::string odd;
        for (const char* category : {"IDENTIFICATION", "CTYPE", "COLLATE", "TIME", "NUMERIC", "MONETARY", "MESSAGES",
                                     "NAME", "ADDRESS", "TELEPHONE", "MEASUREMENT"})
            odd += std::string("LC_") + category + "\ncopy \"en_US\"\nEND LC_" + category + "\n";
        WriteFile(scratch.Path("odd"), odd + "LC_PAPER\nheight 100\nwidth 100\nEND LC_PAPER\n");
        for (const std::string name : {"en_US", "odd"}) {
            const std::string source = name == "odd" ? scratch.Path("odd") : name;
            const TCommandResult made =
                RunTool("localedef -i " + Quoted(source) + " -f UTF-8 " + Quoted(scratch.Path(name + ".UTF-8")));
            if (made.status > 1) GTEST_SKIP() << "localedef cannot build " << name << ": " << made.output;
        }
        ::setenv("LOCPATH", scratch.Folder().c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("LOCPATH");
        ::unsetenv("LC_PAPER");
        ::unsetenv("LC_MEASUREMENT");
    }
    TScratchFolder scratch;
};

TEST_F(PdfLocalePaper, TheLocalesPaperOrMeasurementChoosesTheDefault) {
    ::setenv("LC_PAPER", "en_US.UTF-8", 1);
    EXPECT_EQ(TPdfKalmora().PaperSizeName(), "Letter");
    ::setenv("LC_PAPER", "C", 1);
    EXPECT_EQ(TPdfKalmora().PaperSizeName(), "A4");
    // A paper the table does not know gives A4, even where letters are the custom.
    ::setenv("LC_PAPER", "odd.UTF-8", 1);
    ::setenv("LC_MEASUREMENT", "en_US.UTF-8", 1);
    EXPECT_EQ(TPdfKalmora().PaperSizeName(), "A4");
    // A locale that does not exist says nothing about paper; its measurement decides.
    ::setenv("LC_PAPER", "xx_XX.UTF-8", 1);
    EXPECT_EQ(TPdfKalmora().PaperSizeName(), "Letter");
    ::setenv("LC_MEASUREMENT", "xx_XX.UTF-8", 1);
    EXPECT_EQ(TPdfKalmora().PaperSizeName(), "A4");
}

class PdfDocumentLife : public ::testing::Test {
protected:
    void SetUp() override {
        pdf.SetFileName(scratch.Path("doc.pdf"));
        pdf.OnStart = [this](TObject*) { events += "start "; };
        pdf.OnNewPage = [this](TObject*) { events += "page "; };
        pdf.OnEnd = [this](TObject*) { events += "end "; };
        pdf.OnAbort = [this](TObject*) { events += "abort "; };
    }
    TScratchFolder scratch;
    std::string events;  // outlives the component, whose destruction may still fire OnAbort
    TPdfKalmora pdf;
};

TEST_F(PdfDocumentLife, EventsFireInOrderAndPagesCount) {
    pdf.BeginDoc();
    pdf.NewPage();
    pdf.NewPage();
    EXPECT_EQ(pdf.Canvas().PageCount(), 3);
    pdf.EndDoc();
    EXPECT_EQ(events, "start page page page end ");
    EXPECT_TRUE(Contains(RunTool("pdfinfo " + Quoted(scratch.Path("doc.pdf"))).output, "Pages:           3"));
    EXPECT_TRUE(QpdfChecks(scratch.Path("doc.pdf")));
    pdf.EndDoc();
    pdf.Abort();
    EXPECT_EQ(events, "start page page page end ");
}

TEST_F(PdfDocumentLife, ASettingRefusedWhileOpenAbandonsTheDocument) {
    WriteFile(scratch.Path("doc.pdf"), "old document");
    pdf.BeginDoc();
    EXPECT_EQ(MessageOf([&] { pdf.SetTitle("late"); }), "Can't modify property when opened: Title");
    EXPECT_EQ(events, "start page abort ");
    EXPECT_FALSE(pdf.Printing());
    // The old file survives and no temporary file is left beside it.
    EXPECT_EQ(ReadFile(scratch.Path("doc.pdf")), "old document");
    EXPECT_EQ(scratch.Files(), std::vector<std::string>{"doc.pdf"});
    // After the abort drawing does nothing and measuring gives 1.
    EXPECT_EQ(pdf.Canvas().TextHeight("A"), 1);
    EXPECT_EQ(pdf.Canvas().TextWidth("A"), 1);
    TBitmap bitmap = GradientBitmap(2, 2);
    pdf.Canvas().StretchDraw(Rect(0, 0, 10, 10), &bitmap);
    pdf.NewPage();
    EXPECT_EQ(pdf.Title(), "");
}

TEST_F(PdfDocumentLife, RefusalsWhileOpenNameTheirProperty) {
    const std::pair<std::function<void()>, std::string> refusals[] = {
        {[&] { pdf.SetAuthor("a"); }, "Can't modify property when opened: Author"},
        {[&] { pdf.SetEmbedFonts(true); }, "Can't modify property when opened: EmbedFonts"},
        {[&] { pdf.SetFileName("x.pdf"); }, "Can't modify property when opened: FileName"},
        {[&] { pdf.SetLengthUnit(luPoint); }, "Can't modify property when opened: LengthUnit"},
        {[&] { pdf.SetOrientation(poLandscape); }, "Can't modify property when opened: Orientation (use NewSection method)"},
        {[&] { pdf.SetPageWidth(10); }, "Can't modify property when opened: PageWidth (use NewSection method)"},
        {[&] { pdf.SetPaperSizeName("A5"); }, "Can't modify property when opened: PaperSizeName (use NewSection method)"},
        {[&] { pdf.SetOwnerPassword("x"); }, "Can't invoke this method when printing: SetOwnerPassword"},
        {[&] { pdf.SetUserPassword("x", 1, 0, 0, 1); }, "Can't invoke this method when printing: SetUserPassword"},
        {[&] { pdf.Canvas().SetEnableOutput(false); }, "Can't modify property when opened: EnableOutput"},
        {[&] { pdf.SetJpegQuality(0); }, "Invalid value for property: JpegQuality"},
        {[&] { pdf.BeginDoc(); }, "PDF document already open"},
    };
    for (const auto& [action, message] : refusals) {
        pdf.BeginDoc();
        EXPECT_EQ(MessageOf(action), message);
        EXPECT_FALSE(pdf.Printing()) << message;
    }
    EXPECT_EQ(CountOf(events, "abort"), std::size(refusals));
    EXPECT_EQ(scratch.Files(), std::vector<std::string>{});
}

TEST_F(PdfDocumentLife, ErrorsBeforeOpeningLeaveNothingBehind) {
    EXPECT_EQ(MessageOf([&] { pdf.Canvas().TextOut(0, 0, "x"); }), "Document not opened");
    EXPECT_EQ(MessageOf([&] { pdf.NewPage(); }), "Document not opened");
    pdf.SetPageHeight(0);
    EXPECT_EQ(MessageOf([&] { pdf.BeginDoc(); }), "Invalid property value: PageHeight");
    pdf.SetPaperSizeName("A4");
    pdf.SetPageWidth(0);
    EXPECT_EQ(MessageOf([&] { pdf.BeginDoc(); }), "Invalid property value: PageWidth");
    pdf.SetPaperSizeName("A4");
    pdf.SetFileName(scratch.Path("missing-folder/doc.pdf"));
    EXPECT_EQ(MessageOf([&] { pdf.BeginDoc(); }), "Can't open file: " + scratch.Path("missing-folder/doc.pdf") + " (No such file or directory)");
    ::mkdir(scratch.Path("folder.pdf").c_str(), 0700);
    pdf.SetFileName(scratch.Path("folder.pdf"));
    EXPECT_EQ(MessageOf([&] { pdf.BeginDoc(); }), "File locked: " + scratch.Path("folder.pdf"));
    EXPECT_EQ(events, "");
}

TEST_F(PdfDocumentLife, EndDocReplacesTheOldFileOnlyWhenComplete) {
    WriteFile(scratch.Path("doc.pdf"), "old document");
    pdf.BeginDoc();
    EXPECT_EQ(ReadFile(scratch.Path("doc.pdf")), "old document");
    pdf.Abort();
    EXPECT_EQ(ReadFile(scratch.Path("doc.pdf")), "old document");
    EXPECT_EQ(events, "start page abort ");
    pdf.BeginDoc();
    pdf.EndDoc();
    EXPECT_TRUE(ReadFile(scratch.Path("doc.pdf")).starts_with("%PDF-1.3"));
    EXPECT_EQ(scratch.Files(), std::vector<std::string>{"doc.pdf"});
}

TEST_F(PdfDocumentLife, ADiskFullAbandonsTheDocument) {
    // A file size limit stands in for a full disk; it is set in a child process only.
    auto writeBeyondTheLimit = [this] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        pdf.SetImageCompressMode(cpNone);
        pdf.BeginDoc();
        const TBitmap big = GradientBitmap(300, 300);
        pdf.Canvas().StretchDraw(Rect(0, 0, 1000, 1000), &big);
        const std::string message = MessageOf([&] { pdf.NewPage(); });
        const bool clean = scratch.Files().empty() && !pdf.Printing() && events == "start page abort ";
        std::exit(message == "File write error, or disk full: File too large" && clean ? 0 : 1);
    };
    EXPECT_EXIT(writeBeyondTheLimit(), ::testing::ExitedWithCode(0), "");
}

TEST_F(PdfDocumentLife, EmptyFileNameWritesFilePdfBesideTheProgram) {
    pdf.SetFileName("");
    pdf.BeginDoc();
    const std::string expected = ExecutableFolder() + "/File.pdf";
    EXPECT_EQ(pdf.FileName(), expected);
    pdf.EndDoc();
    struct stat info;
    EXPECT_EQ(::stat(expected.c_str(), &info), 0);
    std::remove(expected.c_str());
}

TEST_F(PdfDocumentLife, ShowDocumentOpensTheFileThroughThePrompter) {
    auto scripted = std::make_unique<TScriptedPrompter>();
    TScriptedPrompter* prompter = scripted.get();
    auto previous = SetPrompter(std::move(scripted));
    pdf.SetWantShow(true);
    pdf.BeginDoc();
    pdf.EndDoc();
    EXPECT_EQ(prompter->opened, std::vector<std::string>{scratch.Path("doc.pdf")});
    std::remove(scratch.Path("doc.pdf").c_str());
    EXPECT_EQ(MessageOf([&] { pdf.ShowDocument(); }), "File not found: " + scratch.Path("doc.pdf"));
    SetPrompter(std::move(previous));
}

TEST_F(PdfDocumentLife, InformationEntriesAndOutputSwitchedOff) {
    pdf.SetTitle("");
    pdf.SetSubject("Holidays");
    pdf.BeginDoc();
    pdf.EndDoc();
    const std::string info = ObjectText(ReadFile(scratch.Path("doc.pdf")), 1);
    EXPECT_TRUE(Contains(info, "\n/Title()\n"));
    EXPECT_TRUE(Contains(info, "\n/Subject(Holidays)\n"));
    EXPECT_FALSE(Contains(info, "/Author"));
    EXPECT_TRUE(Contains(info, "\n/Producer(Brelvant PDF Kalmora version 3.02)\n"));

    // With output off the numbering runs but no file replaces the old one.
    pdf.SetFileName(scratch.Path("silent.pdf"));
    pdf.Canvas().SetEnableOutput(false);
    pdf.BeginDoc();
    pdf.Canvas().AddBookmark(0, 0, "entry", 1, true);
    pdf.EndDoc();
    EXPECT_EQ(scratch.Files(), std::vector<std::string>{"doc.pdf"});
}

TEST(PdfTextStrings, InformationAndOutlineTextsReadBackInEveryScript) {
    const std::pair<const char*, std::string> texts[] = {
        {"Author", "“Jay” – 5 €"}, {"Subject", "Отпуск в горах"}, {"Title", "Καλημέρα (κόσμε)"}, {"Keywords", "Café, naïve"}};
    for (const std::string password : {"", "secret"}) {
        TScratchFolder scratch;
        const std::string path = scratch.Path("texts.pdf");
        TPdfKalmora pdf;
        pdf.SetFileName(path);
        pdf.SetAuthor(texts[0].second);
        pdf.SetSubject(texts[1].second);
        pdf.SetTitle(texts[2].second);
        pdf.SetKeywords(texts[3].second);
        pdf.SetUserPassword(password, true, false, false, false);
        pdf.BeginDoc();
        for (const auto& [key, text] : texts) pdf.Canvas().AddBookmark(0, 0, text, 1, true);
        pdf.EndDoc();
        ASSERT_TRUE(QpdfChecks(path, password));
        const std::string option = password.empty() ? "" : " --password=" + password;
        const std::string info = RunTool("pdfinfo" + (password.empty() ? "" : " -upw " + password) + " " + Quoted(path)).output;
        const std::string outlines = RunTool("qpdf --json --json-key=outlines" + option + " " + Quoted(path)).output;
        for (const auto& [key, text] : texts) {
            EXPECT_TRUE(Contains(info, std::string(key) + ":" + std::string(16 - std::strlen(key), ' ') + text + "\n"))
                << info;
            EXPECT_TRUE(Contains(outlines, "\"title\": \"" + text + "\"")) << outlines;
        }
        if (password.empty()) {
            // Texts that PDFDocEncoding holds stay 8-bit; the others are UTF-16 with a byte-order mark.
            const std::string file = ReadFile(path);
            EXPECT_TRUE(Contains(file, "/Author(\x8DJay\x8E \x85 5 \xA0)\n"));
            EXPECT_TRUE(Contains(file, "/Subject(\xFE\xFF\x04\x1E\x04"));
        }
    }
}

TEST(PdfDocumentXref, EveryEntryPointsAtItsObject) {
    TScratchFolder scratch;
    TPdfKalmora pdf;
    pdf.SetFileName(scratch.Path("x.pdf"));
    pdf.BeginDoc();
    pdf.Canvas().TextOut(100, 100, "Hello");
    pdf.NewPage();
    pdf.Canvas().AddBookmark(0, 0, "Second", 1, false);
    pdf.EndDoc();
    const std::string file = ReadFile(scratch.Path("x.pdf"));
    const size_t xref = file.rfind("\nxref\n") + 1;
    ASSERT_NE(xref, std::string::npos);
    const size_t startxref = file.rfind("startxref\n");
    EXPECT_EQ(std::stoul(file.substr(startxref + 10)), xref);
    const size_t countStart = xref + 7;
    const int count = std::stoi(file.substr(countStart));
    size_t entry = file.find('\n', countStart) + 1;
    for (int n = 0; n < count; ++n, entry += 20) {
        const std::string line = file.substr(entry, 20);
        EXPECT_EQ(line.substr(18), "\r\n") << n;
        if (line[17] == 'f') continue;
        const size_t offset = std::stoul(line.substr(0, 10));
        EXPECT_EQ(file.substr(offset, std::to_string(n).size() + 6), std::to_string(n) + " 0 obj") << n;
    }
    EXPECT_TRUE(Contains(file, "/Size " + std::to_string(count) + "\n"));
}

}  // namespace
