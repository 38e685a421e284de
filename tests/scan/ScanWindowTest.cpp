// The main window's scan command with SANE's virtual scanner, used as a person uses it: the
// scanner's dialogs, the conversion of the scanned page in both modes, and closing the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "AppTestSupport.h"
#include "DialogAnswers.h"
#include "QtTestApplication.h"
#include "SaneTestDevice.h"
#include "app/engine/AppFolders.h"
#include "app/window/MainForm.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/acquire/ScannerProvider.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaView.h"
#include "platform/qt/ScannerDialogs.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/qt/TzLibWindows.h"

namespace fs = std::filesystem;

namespace {

const std::string CrLf = "\r\n";

// The person sets colour at 75 dots per inch in the scanner's dialog, and scans.
void ScanInColourAt75(QDialog& options) {
    QTest::keyClick(options.findChild<QComboBox*>("mode"), Qt::Key_Down);
    QCoreApplication::processEvents();
    options.findChild<QDoubleSpinBox*>("resolution")->setValue(75);
    options.accept();
}

class ScanWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EnsureTestApplication<QApplication>();
        InstallTzLibWindows();
        InstallScannerProvider();
    }
    static void TearDownTestSuite() {
        SetAcquireProviderFactory(nullptr);
        SetTwainDialogs(nullptr, nullptr);
    }
    // Default settings, and a home folder of the test's own.
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(scratch_.Path("config")));
        savedHome_ = qgetenv("HOME");
        fs::create_directories(scratch_.Path("home"));
        qputenv("HOME", QByteArray::fromStdString(Home()));
        PicDirectory.clear();
        SetTwainDialogs(nullptr, nullptr);
    }
    void TearDown() override { qputenv("HOME", savedHome_); }
    std::string Home() const { return scratch_.Path("home"); }
    static void Click(TMainForm& form, const char* name) {
        auto* button = form.findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }

    TScratchFolder scratch_;
    QByteArray savedHome_;
};

TEST_F(ScanWindow, TheScanButtonAcquiresIntoThePreviewAndTheList) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    TMainForm form;
    form.show();
    TKVTWainParams* scanner = form.View()->GetIO()->GetTWainParams();
    ASSERT_NE(scanner, nullptr);
    scanner->VisibleDialog = false;
    Click(form, "btSourceScan");
    ASSERT_EQ(form.SourceList()->count(), 1);
    EXPECT_EQ(form.SourceList()->item(0)->text(), "Scanner:Pic1.bmp");
    const TPnm oracle = ParsePnm(device.Scanimage("--test-picture 'Color pattern' --format=pnm"));
    EXPECT_TRUE(SamePixels(form.View()->GetIO()->WorkBitmap(), oracle));
    // The page is a picture of its own that reads back with the scanner's pixels.
    TKestovaIO reader;
    reader.LoadFromFile(TempFolder + "Pic1.bmp");
    ASSERT_FALSE(reader.AbortFlag);
    EXPECT_TRUE(SamePixels(reader.WorkBitmap(), oracle));
    // The transfer's own file is gone (the folder also holds the program's and Qt's folders).
    for (const std::string& name : device.TempFiles()) EXPECT_FALSE(name.starts_with("mordale-scan.")) << name;
}

TEST_F(ScanWindow, ScannedPagesBecomeDocumentsThatOutliveTheProgram) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    TScriptedPrompterGuard prompter;
    InstallScannerDialogs();
    std::string temp, dimensions;
    QStringList sources;
    {
        TMainForm form;
        form.show();
        temp = TempFolder;
        // The person takes the second scanner, and sets colour at 75 dots per inch in its dialog.
        WhenShown([&](QDialog& select) {
            auto* list = select.findChild<QListWidget*>("lbSources");
            for (int i = 0; i < list->count(); ++i) sources << list->item(i)->text();
            list->setCurrentRow(1);
            WhenShown(ScanInColourAt75);
            select.accept();
        });
        Click(form, "btSourceScan");
        EXPECT_EQ(sources, (QStringList{"Noname frontend-tester (test:0)", "Noname frontend-tester (test:1)"}));
        ASSERT_EQ(form.SourceList()->count(), 1);
        const TPnm oracle = ParsePnm(device.Scanimage("--mode Color --resolution 75 --test-picture 'Color pattern' --format=pnm"));
        EXPECT_TRUE(SamePixels(form.View()->GetIO()->WorkBitmap(), oracle));
        // The temporary folder is no folder to take pictures from.
        EXPECT_EQ(PicDirectory, "");

        // Single mode: the document goes home, and the message says so.
        Click(form, "rbModeSingle");
        dimensions = form.findChild<QLabel*>("laSourcePicDim")->text().toStdString();
        prompter->answers = {idNo};
        Click(form, "btMakePdf");
        ASSERT_EQ(prompter->boxes.size(), 1u);
        EXPECT_EQ(prompter->boxes[0].text, "1 pic converted." + CrLf + "Written to " + Home() + CrLf + "Want to see it?");

        // Book mode: a book asked for in the temporary folder is refused, the proposed one goes home.
        Click(form, "rbModeBook");
        prompter->saveAnswers = {temp + "Inside.pdf"};
        Click(form, "btMakePdf");
        ASSERT_EQ(prompter->boxes.size(), 2u);
        EXPECT_NE(prompter->boxes[1].text.find("No book was written: " + temp + "Inside.pdf"), std::string::npos)
            << prompter->boxes[1].text;
        EXPECT_FALSE(fs::exists(temp + "Inside.pdf"));
        prompter->answers = {idNo};
        Click(form, "btMakePdf");
        ASSERT_EQ(prompter->boxes.size(), 3u);
        const std::string book = (fs::path(Home()) / "Book1.pdf").string();
        EXPECT_EQ(prompter->boxes[2].text, "PDF book successfully generated!" + CrLf + "Written to " + book + CrLf + "Want to see it?");
        EXPECT_TRUE(form.close());
    }
    // The program is closed and its temporary folder gone; the documents stay, with the page.
    EXPECT_FALSE(fs::exists(temp));
    for (const char* name : {"Pic1.pdf", "Book1.pdf"}) {
        const std::string document = (fs::path(Home()) / name).string();
        EXPECT_EQ(RunTool("qpdf --check " + Quoted(document)).status, 0) << name;
        const std::string images = RunTool("pdfimages -list " + Quoted(document)).output;
        const TPnm oracle = ParsePnm(device.Scanimage("--mode Color --resolution 75 --test-picture 'Color pattern' --format=pnm"));
        EXPECT_TRUE(std::regex_search(images, std::regex("image +" + std::to_string(oracle.width) + " +" +
                                                         std::to_string(oracle.height) + " +rgb")))
            << images;
    }
    EXPECT_EQ(prompter->boxes.size(), 3u);
    // The page's dimensions shown are those of its page in the Single document: its pixels at
    // the resolution chosen for that mode.
    std::smatch size;
    const std::string info = RunTool("pdfinfo " + Quoted((fs::path(Home()) / "Pic1.pdf").string())).output;
    ASSERT_TRUE(std::regex_search(info, size, std::regex(R"(Page size: +([0-9.]+) x ([0-9.]+) pts)"))) << info;
    char expected[64];
    std::snprintf(expected, sizeof expected, "Dimensions: %.1f cm x %.1f cm", std::stod(size[1]) / 72 * 2.54,
                  std::stod(size[2]) / 72 * 2.54);
    EXPECT_EQ(dimensions, expected);
}

TEST_F(ScanWindow, WithoutAScannerTheScanCommandSaysSo) {
    TSaneTestDevice device({}, false);
    TScriptedPrompterGuard prompter;
    InstallScannerDialogs();
    TMainForm form;
    form.show();
    Click(form, "btSourceScan");
    ASSERT_EQ(prompter->boxes.size(), 1u);
    EXPECT_NE(prompter->boxes[0].text.find("Source Manager unable to find the specified Source."), std::string::npos)
        << prompter->boxes[0].text;
    EXPECT_EQ(form.SourceList()->count(), 0);
}

TEST_F(ScanWindow, CancellingTheScannersDialogsSaysNothingAndAddsNothing) {
    TSaneTestDevice device;
    TScriptedPrompterGuard prompter;
    InstallScannerDialogs();
    TMainForm form;
    form.show();
    // No scanner chosen, then a scanner chosen and its options dialog cancelled.
    WhenShown([](QDialog& select) { select.reject(); });
    Click(form, "btSourceScan");
    WhenShown([](QDialog& select) {
        WhenShown([](QDialog& options) { options.reject(); });
        select.accept();
    });
    Click(form, "btSourceScan");
    EXPECT_TRUE(prompter->boxes.empty()) << prompter->boxes.front().text;
    EXPECT_EQ(form.SourceList()->count(), 0);
    EXPECT_TRUE(fs::is_empty(RemoveBackslash(TempFolder)));
}

TEST_F(ScanWindow, OptionsSetInTheScannersDialogStayForTheNextScan) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    InstallScannerDialogs();
    TMainForm form;
    form.show();
    WhenShown([](QDialog& select) {
        WhenShown(ScanInColourAt75);
        select.accept();
    });
    Click(form, "btSourceScan");
    // The scanner stays chosen; its dialog shows what the person set, and Scan alone scans so.
    QString mode;
    double resolution = 0;
    WhenShown([&](QDialog& options) {
        mode = options.findChild<QComboBox*>("mode")->currentText();
        resolution = options.findChild<QDoubleSpinBox*>("resolution")->value();
        options.accept();
    });
    Click(form, "btSourceScan");
    EXPECT_EQ(mode, "Color");
    EXPECT_EQ(resolution, 75);
    ASSERT_EQ(form.SourceList()->count(), 2);
    const TPnm oracle = ParsePnm(device.Scanimage("--mode Color --resolution 75 --test-picture 'Color pattern' --format=pnm"));
    for (const char* name : {"Pic1.bmp", "Pic2.bmp"}) {
        TKestovaIO reader;
        reader.LoadFromFile(TempFolder + name);
        ASSERT_FALSE(reader.AbortFlag) << name;
        EXPECT_TRUE(SamePixels(reader.WorkBitmap(), oracle)) << name;
    }
}

}  // namespace
