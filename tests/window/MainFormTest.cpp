#include "QtTestApplication.h"
#include "app/window/MainForm.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QScrollBar>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <deque>
#include <functional>
#include <unistd.h>
#include <map>
#include <string>
#include <vector>

#include "LayoutCheck.h"
#include "TestSupport.h"
#include "app/engine/AppFolders.h"
#include "app/engine/CommandLine.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterPic.h"
#include "imaging/acquire/MediaProvider.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaView.h"
#include "platform/Exception.h"
#include "platform/Prompter.h"
#include "tzlib/qt/TzLibWindows.h"

namespace {

// Pictures pic0.bmp to pic3.bmp, and a settings folder of the tests' own.
class MainFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EnsureTestApplication<QApplication>();
        // The window scales its layout to the screen as in the program.
        InstallTzLibWindows();
        scratch_ = new TScratchFolder;
        for (int i = 0; i < 4; ++i) {
            TKestovaIO writer;
            writer.WorkBitmap().Allocate(8 + i, 6, kv24RGB);
            writer.SaveToFile(Pic(i));
        }
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }
    // Every test starts from the default settings.
    void SetUp() override {
        static int run = 0;
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(scratch_->Path("config" + std::to_string(++run))));
    }
    static std::string Pic(int i) { return scratch_->Path("pic" + std::to_string(i) + ".bmp"); }
    static inline TScratchFolder* scratch_ = nullptr;

    // Pictures a.bmp and b.bmp of the folder listed, the second selected.
    static void ListTwoPictures(TMainForm& form, const TScratchFolder& folder) {
        for (const char* name : {"a.bmp", "b.bmp"}) {
            ASSERT_EQ(RunTool("convert -size 8x6 xc:olive " + Quoted("BMP3:" + folder.Path(name))).status, 0);
            form.AddPicture(folder.Path(name), -1);
        }
        form.SourceList()->setCurrentRow(1);
    }

    void FillList(TMainForm& form, int count, int selected) {
        for (int i = 0; i < count; ++i) form.AddPicture(Pic(i), -1);
        form.SourceList()->setCurrentRow(selected);
        form.EnableControls(true);
    }
};

std::vector<std::string> ListTexts(TMainForm& form) {
    std::vector<std::string> texts;
    for (int i = 0; i < form.SourceList()->count(); ++i)
        texts.push_back(QFileInfo(form.SourceList()->item(i)->text()).fileName().toStdString());
    return texts;
}

}  // namespace

TEST_F(MainFormTest, ControlsCarryTheirNamesAndCaptions) {
    TMainForm form;
    struct Case {
        const char* name;
        const char* text;  // the caption, or the hint of a tool button
    } cases[] = {
        {"btSourceAddFile", "Add one or several files to source pics"},
        {"btSourceAddDir", "Add a directory to source pics"},
        {"btSourceScan", "Connect to scanner and acquire a pic"},
        {"btSourceMoveFirst", "Move first"},
        {"btSourceMoveUp", "Move up"},
        {"btSourceMoveDown", "Move down"},
        {"btSourceMoveLast", "Move last"},
        {"btSourceSort", "Sort pics"},
        {"btSourceRemovePic", "Remove pic"},
        {"btSourceRemoveAll", "Clear list"},
        {"pnSourceLabel", "Place source pics here"},
        {"laSourceCount", "No pic selected"},
        {"gbPdfOptions", "PDF output options"},
        {"rbModeSingle", "Make an individual PDF file for each source pic"},
        {"rbModeBook", "Make one PDF book containing all source pics"},
        {"chEncryptOutput", "Encrypt generated PDF files"},
        {"btPasswords", "Passwords..."},
        {"chDeleteSourcePics", "Delete source pics after conversion"},
        {"gbSingleOptions", "Single-mode options"},
        {"chOverwriteExisting", "Overwrite existing PDF files, if any"},
        {"gbBookOptions", "Book-mode options"},
        {"rbBookPicsPerPage12", "12"},
        {"btAbout", "&About Mordale..."},
        {"btPrefs", "&Preferences..."},
        {"btMakePdf", "Convert Pics"},
        {"btClose", "&Close"},
    };
    for (const Case& c : cases) {
        QWidget* control = form.findChild<QWidget*>(c.name);
        ASSERT_NE(control, nullptr) << c.name;
        QString text;
        if (auto* tool = qobject_cast<QToolButton*>(control))
            text = tool->toolTip();
        else if (auto* button = qobject_cast<QAbstractButton*>(control))
            text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(control))
            text = label->text();
        else if (auto* group = qobject_cast<QGroupBox*>(control))
            text = group->title();
        EXPECT_EQ(text.toStdString(), c.text) << c.name;
    }
    EXPECT_FALSE(form.findChild<QWidget*>("btPasswords")->isEnabled());
    for (const char* name : {"lbSource", "cbSinglePicRes", "eBookTitle", "eBookSubject", "eSourceFrame",
                             "eSourceFileFrameCount", "sbSourceFrame", "pbProgress", "nbModeOptions", "View"})
        EXPECT_NE(form.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(form.size(), QSize(693, 551));
    // It cannot be resized, so it offers no maximise button; minimising and closing stay.
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(MainFormTest, EnableControlsFollowsTheSelectionAndTheCount) {
    // Columns: up/first, down/last, sort/clear/make, remove, viewer, close.
    struct Case {
        bool enabled;
        int count, selected;
        bool up, down, any, remove, viewer, close;
    } cases[] = {
        {true, 0, -1, false, false, false, false, false, true},
        {true, 3, -1, false, false, true, false, false, true},  // nothing selected: nothing to move
        {true, 3, 0, false, true, true, true, true, true},
        {true, 3, 1, true, true, true, true, true, true},
        {true, 3, 2, true, false, true, true, true, true},
        {false, 3, -1, false, false, false, false, false, true},  // converting: close aborts
        {false, 0, -1, false, false, false, false, false, false},
        {false, 3, 1, false, false, false, false, false, false},
    };
    for (const Case& c : cases) {
        TMainForm form;
        FillList(form, c.count, c.selected);
        form.EnableControls(c.enabled);
        const std::string where = std::to_string(c.count) + " items, selected " + std::to_string(c.selected) +
                                  (c.enabled ? "" : ", disabled");
        const auto on = [&](const char* name) { return form.findChild<QWidget*>(name)->isEnabled(); };
        for (const char* name : {"btSourceAddFile", "btSourceAddDir", "btSourceScan", "lbSource", "btAbout", "btPrefs"})
            EXPECT_EQ(on(name), c.enabled) << name << " " << where;
        EXPECT_EQ(on("btSourceMoveUp"), c.up) << where;
        EXPECT_EQ(on("btSourceMoveFirst"), c.up) << where;
        EXPECT_EQ(on("btSourceMoveDown"), c.down) << where;
        EXPECT_EQ(on("btSourceMoveLast"), c.down) << where;
        for (const char* name : {"btSourceSort", "btSourceRemoveAll", "btMakePdf"}) EXPECT_EQ(on(name), c.any) << name << " " << where;
        EXPECT_EQ(on("btSourceRemovePic"), c.remove) << where;
        EXPECT_EQ(form.findChild<QWidget*>("pnViewer")->isVisibleTo(&form), c.viewer) << where;
        EXPECT_EQ(on("gbPdfOptions"), c.enabled) << where;
        EXPECT_EQ(on("gbBookOptions"), c.enabled) << where;
        EXPECT_EQ(on("btClose"), c.close) << where;
    }
}

TEST_F(MainFormTest, MovingKeepsTheItemSelected) {
    using Move = void (TMainForm::*)();
    struct Case {
        Move move;
        int selected;
        std::vector<std::string> after;
        int selectedAfter;
    } cases[] = {
        {&TMainForm::btSourceMoveFirstClick, 2, {"pic2.bmp", "pic0.bmp", "pic1.bmp", "pic3.bmp"}, 0},
        {&TMainForm::btSourceMoveFirstClick, 0, {"pic0.bmp", "pic1.bmp", "pic2.bmp", "pic3.bmp"}, 0},
        {&TMainForm::btSourceMoveUpClick, 2, {"pic0.bmp", "pic2.bmp", "pic1.bmp", "pic3.bmp"}, 1},
        {&TMainForm::btSourceMoveDownClick, 1, {"pic0.bmp", "pic2.bmp", "pic1.bmp", "pic3.bmp"}, 2},
        {&TMainForm::btSourceMoveDownClick, 3, {"pic0.bmp", "pic1.bmp", "pic2.bmp", "pic3.bmp"}, 3},
        {&TMainForm::btSourceMoveLastClick, 1, {"pic0.bmp", "pic2.bmp", "pic3.bmp", "pic1.bmp"}, 3},
        {&TMainForm::btSourceMoveLastClick, -1, {"pic0.bmp", "pic1.bmp", "pic2.bmp", "pic3.bmp"}, -1},
        {&TMainForm::btSourceMoveDownClick, -1, {"pic0.bmp", "pic1.bmp", "pic2.bmp", "pic3.bmp"}, -1},
    };
    for (const Case& c : cases) {
        TMainForm form;
        FillList(form, 4, c.selected);
        (form.*c.move)();
        EXPECT_EQ(ListTexts(form), c.after) << "selected " << c.selected;
        EXPECT_EQ(form.SourceList()->currentRow(), c.selectedAfter) << "selected " << c.selected;
    }
}

// Each change of the pictures changes only its rows; after any of them the list must still show
// the engine's pictures row for row, with the selection where the change leaves it.
TEST_F(MainFormTest, TheListFollowsThePicturesThroughEveryChange) {
    const std::string broken = scratch_->Path("broken.bmp");
    WriteFile(broken, "BM not a bitmap");
    struct Step {
        const char* what;
        std::function<void(TMainForm&)> change;
        std::vector<std::string> after;
        int selectedAfter;
    } steps[] = {
        {"adding four", [](TMainForm& f) { for (int i = 0; i < 4; ++i) f.AddPicture(Pic(i), -1); },
         {"pic0.bmp", "pic1.bmp", "pic2.bmp", "pic3.bmp"}, -1},
        {"a picture that cannot be read", [&](TMainForm& f) { EXPECT_ANY_THROW(f.AddPicture(broken, -1)); },
         {"pic0.bmp", "pic1.bmp", "pic2.bmp", "pic3.bmp"}, -1},
        {"the second to the end", [](TMainForm& f) { f.SourceList()->setCurrentRow(1); f.btSourceMoveLastClick(); },
         {"pic0.bmp", "pic2.bmp", "pic3.bmp", "pic1.bmp"}, 3},
        {"the last to the front", [](TMainForm& f) { f.btSourceMoveFirstClick(); },
         {"pic1.bmp", "pic0.bmp", "pic2.bmp", "pic3.bmp"}, 0},
        {"down one", [](TMainForm& f) { f.btSourceMoveDownClick(); },
         {"pic0.bmp", "pic1.bmp", "pic2.bmp", "pic3.bmp"}, 1},
        {"removing the first", [](TMainForm& f) { f.SourceList()->setCurrentRow(0); f.btSourceRemovePicClick(); },
         {"pic1.bmp", "pic2.bmp", "pic3.bmp"}, 0},
        {"removing the last", [](TMainForm& f) { f.SourceList()->setCurrentRow(2); f.btSourceRemovePicClick(); },
         {"pic1.bmp", "pic2.bmp"}, 1},
        {"a drop", [](TMainForm& f) { f.AddDroppedFiles({Pic(0)}); }, {"pic1.bmp", "pic2.bmp", "pic0.bmp"}, 2},
        {"sorting by name", [](TMainForm& f) { f.SortPics(TSortKey::FileName, false); },
         {"pic0.bmp", "pic1.bmp", "pic2.bmp"}, 0},
        {"sorting by name, descending", [](TMainForm& f) { f.SortPics(TSortKey::FileName, true); },
         {"pic2.bmp", "pic1.bmp", "pic0.bmp"}, 0},
        {"removing all", [](TMainForm& f) { f.btSourceRemoveAllClick(); }, {}, -1},
        {"adding after that", [](TMainForm& f) { f.AddDroppedFiles({Pic(3), Pic(2)}); }, {"pic3.bmp", "pic2.bmp"}, 1},
    };
    TMainForm form;
    for (const Step& step : steps) {
        step.change(form);
        EXPECT_EQ(ListTexts(form), step.after) << step.what;
        EXPECT_EQ(form.SourceList()->currentRow(), step.selectedAfter) << step.what;
        const TStringList& pics = form.Converter().Pics;
        ASSERT_EQ(form.SourceList()->count(), pics.Count()) << step.what;
        for (int i = 0; i < pics.Count(); ++i)
            EXPECT_EQ(form.SourceList()->item(i)->text().toStdString(), pics.Strings(i)) << step.what << ", row " << i;
    }
}

TEST_F(MainFormTest, CountTextAndModePages) {
    TMainForm form;
    auto* count = form.findChild<QLabel*>("laSourceCount");
    auto* make = form.findChild<QPushButton*>("btMakePdf");
    EXPECT_TRUE(form.findChild<QWidget*>("pnSourceLabel")->isVisibleTo(&form));
    FillList(form, 1, 0);
    form.RefreshOptions();
    EXPECT_EQ(count->text(), "1 pics selected");
    EXPECT_FALSE(form.findChild<QWidget*>("pnSourceLabel")->isVisibleTo(&form));
    EXPECT_EQ(make->text(), "Convert Pic");
    form.Converter().Mode = cmBook;
    form.RefreshOptions();
    EXPECT_EQ(make->text(), "Make PDF book");
    EXPECT_TRUE(form.findChild<QWidget*>("gbBookOptions")->isVisibleTo(&form));
}

TEST_F(MainFormTest, TheCloseButtonAbortsARun) {
    TMainForm form;
    FillList(form, 2, -1);
    form.EnableControls(false);
    form.BeginProgress(1);
    auto* close = form.findChild<QPushButton*>("btClose");
    EXPECT_EQ(close->text(), "Abort");
    EXPECT_TRUE(close->isEnabled());
    EXPECT_FALSE(form.AbortRequested());
    close->click();
    EXPECT_TRUE(form.AbortRequested());
    EXPECT_EQ(close->text(), "Close");
    form.EndProgress();  // the engine ends its run as well
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, ClosingDuringARunAbortsItAndClosesAfterwards) {
    TMainForm form;
    FillList(form, 3, 1);
    form.show();
    bool seenDisabled = false, stillOpen = false;
    form.RunConversion([&] {
        seenDisabled = !form.SourceList()->isEnabled() && form.SourceList()->currentRow() == -1 &&
                       form.findChild<QWidget*>("btClose")->isEnabled();
        form.BeginProgress(2);
        form.close();  // the window's close button in the middle of the run
        stillOpen = form.isVisible();
        EXPECT_TRUE(form.AbortRequested());
    });
    EXPECT_TRUE(seenDisabled);
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, AFailedRunIsShownAndTheWindowComesBack) {
    auto scripted = std::make_unique<TScriptedPrompter>();
    TScriptedPrompter* prompter = scripted.get();
    std::unique_ptr<TPrompter> saved = SetPrompter(std::move(scripted));
    TMainForm form;
    FillList(form, 3, 2);
    form.RunConversion([&] {
        form.BeginProgress(2);
        throw Exception("Invalid book margins");
    });
    const std::unique_ptr<TPrompter> used = SetPrompter(std::move(saved));
    ASSERT_EQ(prompter->boxes.size(), 1u);
    EXPECT_EQ(prompter->boxes[0].text, "Invalid book margins");
    EXPECT_EQ(form.SourceList()->currentRow(), 2);
    EXPECT_TRUE(form.SourceList()->isEnabled());
    EXPECT_EQ(form.findChild<QPushButton*>("btClose")->text(), "Close");
}

TEST_F(MainFormTest, CommandLineOpensTheWindowWithItsPictures) {
    {
        TMainForm form(ParseCommandLine({"/W", Pic(0), Pic(1) + "#1", "/x", scratch_->Path("notes.txt")}));
        EXPECT_EQ(ListTexts(form), (std::vector<std::string>{"pic0.bmp", "pic1.bmp"}));
        EXPECT_EQ(form.Converter().Mode, cmSingle);
        EXPECT_EQ(form.SourceList()->currentRow(), 1);  // the last one, previewed
    }
    {
        TMainForm form(ParseCommandLine({Pic(0), "/B"}));  // a picture first: the command line is not read
        EXPECT_EQ(form.SourceList()->count(), 0);
    }
    TMainForm form(ParseCommandLine({"/B", Pic(2)}));
    EXPECT_EQ(form.Converter().Mode, cmBook);
    EXPECT_EQ(ListTexts(form), std::vector<std::string>{"pic2.bmp"});
}

TEST_F(MainFormTest, FoldersAndDropsAddOnlyAcceptedFiles) {
    TScratchFolder folder;
    for (const char* name : {"b.bmp", "a.bmp"}) {
        TKestovaIO writer;
        writer.WorkBitmap().Allocate(4, 4, kv24RGB);
        writer.SaveToFile(folder.Path(name));
    }
    WriteFile(folder.Path("notes.txt"), "x");
    std::filesystem::create_directory(folder.Path("sub.bmp"));
    TMainForm form;
    form.AddFolder(folder.Folder());
    EXPECT_EQ(ListTexts(form), (std::vector<std::string>{"a.bmp", "b.bmp"}));

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Pic(3))), QUrl::fromLocalFile(QString::fromStdString(folder.Path("notes.txt"))),
                  QUrl::fromLocalFile(QString::fromStdString(folder.Path("sub.bmp"))), QUrl("http://example.com/x.jpg")});
    form.show();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.SourceList()->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.SourceList()->viewport(), &drop);
    EXPECT_EQ(ListTexts(form), (std::vector<std::string>{"a.bmp", "b.bmp", "pic3.bmp"}));
    EXPECT_EQ(form.SourceList()->currentRow(), 2);  // the last one, previewed
    EXPECT_EQ(form.findChild<QLabel*>("laSourceCount")->text(), "3 pics selected");
}

TEST_F(MainFormTest, MultiFrameAnswersAndTheFrameSelector) {
    const std::string gif = scratch_->Path("ten.gif");
    ASSERT_EQ(RunTool("convert -size 6x4 xc:red xc:blue xc:red xc:blue xc:red xc:blue xc:red xc:blue xc:red xc:blue " +
                      Quoted(gif)).status, 0);
    struct Case {
        int count, step;
        std::vector<std::string> items;
    } cases[] = {
        {-1, 3, {"ten.gif#1", "ten.gif#4", "ten.gif#7", "ten.gif#10"}},
        {4, 0, {"ten.gif#1", "ten.gif#2", "ten.gif#3", "ten.gif#4"}},
        {0, 0, {}},
        {-1, 0, {"ten.gif#1", "ten.gif#2", "ten.gif#3", "ten.gif#4", "ten.gif#5", "ten.gif#6", "ten.gif#7", "ten.gif#8",
                 "ten.gif#9", "ten.gif#10"}},
    };
    for (const Case& c : cases) {
        TMainForm form;
        form.AskFrames = [&](TConverterPic&, int& count, int& step) { count = c.count, step = c.step; };
        form.AddPicture(gif, -1);
        EXPECT_EQ(ListTexts(form), c.items) << c.count << " step " << c.step;
    }

    TMainForm form;
    form.AskFrames = [](TConverterPic&, int& count, int&) { count = 1; };
    form.AddPicture(gif, -1);
    form.SourceList()->setCurrentRow(0);
    EXPECT_TRUE(form.findChild<QWidget*>("pnViewerFrame")->isVisibleTo(&form));
    EXPECT_EQ(form.findChild<QLineEdit*>("eSourceFileFrameCount")->text(), "10");
    auto* frame = form.findChild<QLineEdit*>("eSourceFrame");
    frame->setText("3");
    EXPECT_EQ(ListTexts(form), std::vector<std::string>{"ten.gif#3"});
    EXPECT_EQ(form.findChild<QScrollBar*>("sbSourceFrame")->value(), 2);
    frame->setText("99");  // beyond the file: its last frame
    EXPECT_EQ(ListTexts(form), std::vector<std::string>{"ten.gif#10"});
    form.findChild<QScrollBar*>("sbSourceFrame")->setValue(4);
    EXPECT_EQ(frame->text(), "5");
    EXPECT_EQ(ListTexts(form), std::vector<std::string>{"ten.gif#5"});
}

TEST_F(MainFormTest, PreviewInformationAndOptionsOfBothModes) {
    TMainForm form;
    FillList(form, 2, 0);
    const auto text = [&](const char* name) { return form.findChild<QLabel*>(name)->text().toStdString(); };
    EXPECT_EQ(text("laSourceFileName"), "File name: pic0.bmp");
    EXPECT_TRUE(text("laSourceFileSize").starts_with("File size: ")) << text("laSourceFileSize");
    EXPECT_TRUE(text("laSourceFileDate").starts_with("File date: ")) << text("laSourceFileDate");
    EXPECT_EQ(text("laSourcePicColors"), "True color (24 bits)");
    // 8 x 6 pixels at 96 dpi.
    EXPECT_EQ(text("laSourcePicDim"), "Dimensions: 0.2 cm x 0.2 cm");
    EXPECT_FALSE(form.findChild<QWidget*>("pnViewerFrame")->isVisibleTo(&form));

    TConverter& c = form.Converter();
    c.PicResolution = 300;
    c.Overwrite = true;
    c.OwnerPassword = "secret";
    form.RefreshOptions();
    EXPECT_EQ(form.findChild<QComboBox*>("cbSinglePicRes")->currentText(), "300");
    EXPECT_TRUE(form.findChild<QCheckBox*>("chOverwriteExisting")->isChecked());
    EXPECT_TRUE(form.findChild<QCheckBox*>("chEncryptOutput")->isChecked());
    EXPECT_TRUE(form.findChild<QWidget*>("btPasswords")->isEnabled());
    EXPECT_EQ(form.findChild<QPushButton*>("btMakePdf")->text(), "Convert Pics");
    form.show();
    QApplication::processEvents();
    QDir().mkpath("screenshots");
    form.grab().save("screenshots/main-window-single.png");

    form.findChild<QRadioButton*>("rbModeBook")->click();  // the user's choice goes into the engine
    EXPECT_EQ(c.Mode, cmBook);
    EXPECT_EQ(text("laSourcePicDim"), "");
    for (const auto& [perPage, checked] : {std::pair{6, "rbBookPicsPerPage6"}, std::pair{5, "rbBookPicsPerPage1"}}) {
        c.PicsPerPage = static_cast<uint8_t>(perPage);
        c.Title = "Holidays";
        form.RefreshOptions();
        EXPECT_TRUE(form.findChild<QRadioButton*>(checked)->isChecked()) << perPage;
    }
    EXPECT_EQ(form.findChild<QLineEdit*>("eBookTitle")->text(), "Holidays");
    EXPECT_EQ(form.findChild<QPushButton*>("btMakePdf")->text(), "Make PDF book");
    form.findChild<QRadioButton*>("rbBookPicsPerPage12")->click();
    EXPECT_EQ(c.PicsPerPage, 12);
    form.findChild<QCheckBox*>("chEncryptOutput")->click();  // unticked: the passwords go
    EXPECT_TRUE(c.OwnerPassword.empty());
    QApplication::processEvents();
    form.grab().save("screenshots/main-window-book.png");
}

// Pictures in a folder and with a date that do not change between runs, so that the screenshots do
// not either: a picture of 601 x 451 pixels (21.2 cm x 15.9 cm at 72 dpi) and a GIF of 3 frames.
struct TLayoutPictures {
    explicit TLayoutPictures(int dpi) : folder("/tmp/mordale-layout-" + std::to_string(dpi) + "dpi") {
        std::filesystem::create_directories(folder);
        Make(still, [](const std::string& path) {
            TKestovaIO writer;
            writer.WorkBitmap().Allocate(601, 451, kv24RGB);
            writer.SaveToFile(path);
        });
        Make(frames, [](const std::string& path) {
            ASSERT_EQ(RunTool("convert -size 64x48 xc:red xc:lime xc:blue " + Quoted(path)).status, 0);
        });
        Make(longName, [](const std::string& path) {
            ASSERT_EQ(RunTool("convert -size 80x60 xc:teal " + Quoted("BMP3:" + path)).status, 0);
        });
    }
    // Runs at other scales may make the same picture at the same time.
    void Make(const std::string& name, const std::function<void(const std::string&)>& write) const {
        const std::string path = folder + "/" + name;
        if (!std::filesystem::exists(path)) {
            const std::string writing = folder + "/writing" + std::to_string(getpid()) + "-" + name;
            write(writing);
            std::filesystem::rename(writing, path);
        }
        using namespace std::chrono;
        std::filesystem::last_write_time(
            path, file_clock::from_sys(sys_seconds(sys_days(year(2026) / 12 / 11) + hours(10) + minutes(22))));
    }
    std::string Path(const std::string& name) const { return folder + "/" + name; }

    const std::string folder, still = "holiday.bmp", frames = "frames.gif";
    // 190 characters, as a person names a picture after all that is in it.
    const std::string longName =
        "The whole family on the beach at sunset on the last evening of the summer holiday, with the dog, "
        "the neighbours, two sandcastles, the old lighthouse and the boat that took us out to sea!.bmp";
};

TEST_F(MainFormTest, LaysOutEmptyAndBothModesWithAPictureSelected) {
    TMainForm form;
    form.show();
    EXPECT_TRUE(ShowsFully(form, "MainFormEmpty"));
    const TLayoutPictures pictures(form.logicalDpiY());
    form.AskFrames = [](TConverterPic&, int& count, int&) { count = 1; };  // the first frame only
    form.AddPicture(pictures.Path(pictures.frames), -1);
    form.AddPicture(pictures.Path(pictures.still), -1);
    form.SourceList()->setCurrentRow(1);
    form.Converter().SetPicResolution(72);
    form.findChild<QRadioButton*>("rbModeSingle")->click();
    EXPECT_TRUE(ShowsFully(form, "MainFormSingle"));
    form.BeginProgress(3);
    EXPECT_TRUE(LaysOutFully(form));
    form.EndProgress();
    form.findChild<QRadioButton*>("rbModeBook")->click();
    EXPECT_TRUE(ShowsFully(form, "MainFormBook"));
    form.SourceList()->setCurrentRow(0);
    ASSERT_TRUE(form.findChild<QWidget*>("pnViewerFrame")->isVisible());
    EXPECT_TRUE(ShowsFully(form, "MainFormFrames"));

    // A picture with a long name changes nothing of the window's size: the name is shortened
    // with an ellipsis and shown whole as the tooltip.
    const QSize size = form.size();
    ASSERT_EQ(pictures.longName.size(), 190u);
    form.AddPicture(pictures.Path(pictures.longName), -1);
    form.findChild<QRadioButton*>("rbModeSingle")->click();
    form.SourceList()->setCurrentRow(2);
    EXPECT_TRUE(ShowsFully(form, "MainFormLongName"));
    EXPECT_EQ(form.size(), size);
    const auto* name = form.findChild<QLabel*>("laSourceFileName");
    EXPECT_TRUE(name->text().startsWith("File name: The whole")) << name->text().toStdString();
    EXPECT_TRUE(name->text().endsWith("to sea!.bmp")) << name->text().toStdString();
    EXPECT_TRUE(name->text().contains(QChar(0x2026))) << name->text().toStdString();
    EXPECT_EQ(name->toolTip().toStdString(), "File name: " + pictures.longName);
    // A short name afterwards is shown whole, without a tooltip.
    form.SourceList()->setCurrentRow(1);
    EXPECT_EQ(name->text(), "File name: holiday.bmp");
    EXPECT_EQ(name->toolTip(), "");
    EXPECT_EQ(form.size(), size);
}

// The colour label says what the picture holds, as ImageMagick reads it: the colours of its
// samples, without their alpha.
TEST_F(MainFormTest, TheColourLabelTellsWhatImageMagickReadsInTheFile) {
    struct Case {
        const char* file;
        const char* make;        // ImageMagick's options and picture
        const char* identified;  // depth and channels as identify finds them
        const char* label;
    } cases[] = {
        {"t72.tif", "xc:red -depth 8 -units PixelsPerInch -density 72", "8 srgb", "True color (24 bits)"},
        {"gray8.png", "gradient: -depth 8", "8 gray", "256 colors (8 bits)"},
        {"gray16.png", "gradient:", "16 gray", "65536 colors (16 bits)"},
        {"graya8.png", "gradient: -alpha set -channel A -evaluate set 50% +channel -depth 8", "8 graya",
         "256 colors (8 bits)"},
        {"rgba16.png", "gradient:red-blue -alpha set -channel A -evaluate set 50% +channel -depth 16", "16 srgba",
         "True color (48 bits)"},
        {"rgb16.ppm", "gradient:red-blue -depth 16", "16 srgb", "True color (48 bits)"},
        {"gray16.pgm", "gradient: -depth 16", "16 gray", "65536 colors (16 bits)"},
    };
    TMainForm form;
    for (const Case& c : cases) {
        const std::string path = scratch_->Path(c.file);
        ASSERT_EQ(RunTool("convert -size 30x20 " + std::string(c.make) + " " + Quoted(path)).status, 0) << c.file;
        EXPECT_EQ(RunTool("identify -format '%z %[channels]' " + Quoted(path)).output, c.identified) << c.file;
        form.AddPicture(path, -1);
        form.SourceList()->setCurrentRow(form.SourceList()->count() - 1);
        form.ShowPicInfo(true, true);
        EXPECT_EQ(form.findChild<QLabel*>("laSourcePicColors")->text().toStdString(), c.label) << c.file;
    }
}

// A scanner that answers the source selection and the acquisitions from the test's script.
struct TFakeScanner {
    std::deque<bool> selections, acquisitions;
    int selectCalls = 0, acquireCalls = 0;
};

class TFakeAcquireProvider : public TKVAcquireProvider {
public:
    explicit TFakeAcquireProvider(TFakeScanner& scanner) : scanner_(scanner) {}
    bool SelectSource(int api) override {
        EXPECT_EQ(api, 0);
        ++scanner_.selectCalls;
        return Next(scanner_.selections);
    }
    bool Acquire(int api, TKVBitmap& bitmap, TIOParamsVals&, TKVProgressRec&) override {
        EXPECT_EQ(api, 0);
        ++scanner_.acquireCalls;
        failed_ = !Next(scanner_.acquisitions);
        if (failed_) return false;
        bitmap.Allocate(5 + scanner_.acquireCalls, 4, kv24RGB);
        bitmap.Fill(ColorToRGB(clRed));
        return true;
    }

    std::string LastErrorText() const override { return failed_ ? "The feeder is empty." : ""; }

private:
    static bool Next(std::deque<bool>& answers) {
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    TFakeScanner& scanner_;
    bool failed_ = false;
};

TEST_F(MainFormTest, ScannedPagesAreSavedInTheTemporaryFolderAndListed) {
    TFakeScanner scanner;
    SetAcquireProviderFactory([&scanner] { return std::make_unique<TFakeAcquireProvider>(scanner); });
    auto scripted = std::make_unique<TScriptedPrompter>();
    TScriptedPrompter* prompter = scripted.get();
    std::unique_ptr<TPrompter> saved = SetPrompter(std::move(scripted));
    {
        TMainForm form;
        form.show();
        FillList(form, 1, 0);
        auto* scan = form.findChild<QToolButton*>("btSourceScan");
        ASSERT_TRUE(scan->isEnabled());
        struct Step {
            bool selection, acquisition;
            int selectCalls, acquireCalls;
            std::vector<std::string> texts;
            size_t boxes;
        } steps[] = {
            // No source chosen: nothing else happens, and the next click asks again.
            {false, false, 1, 0, {"pic0.bmp"}, 0},
            {true, true, 2, 1, {"pic0.bmp", "Scanner:Pic1.bmp"}, 0},
            // The chosen source is kept.
            {false, true, 2, 2, {"pic0.bmp", "Scanner:Pic1.bmp", "Scanner:Pic2.bmp"}, 0},
            {false, false, 2, 3, {"pic0.bmp", "Scanner:Pic1.bmp", "Scanner:Pic2.bmp"}, 1},
        };
        for (const Step& step : steps) {
            scanner.selections = {step.selection};
            scanner.acquisitions = {step.acquisition};
            scan->click();
            EXPECT_EQ(scanner.selectCalls, step.selectCalls);
            EXPECT_EQ(scanner.acquireCalls, step.acquireCalls);
            std::vector<std::string> texts;
            for (int i = 0; i < form.SourceList()->count(); ++i)
                texts.push_back(QFileInfo(form.SourceList()->item(i)->text()).fileName().toStdString());
            EXPECT_EQ(texts, step.texts);
            EXPECT_EQ(prompter->boxes.size(), step.boxes);
        }
        EXPECT_EQ(form.SourceList()->item(1)->text(), "Scanner:Pic1.bmp");
        EXPECT_EQ(form.SourceList()->currentRow(), 2);  // the last page added
        ASSERT_EQ(prompter->boxes.size(), 1u);
        EXPECT_EQ(prompter->boxes[0].text, "Image acquisition failed\nThe feeder is empty.");
        // A page that cannot be saved (its name is taken by a folder) is not listed.
        const std::string blocked = TempFolder + "Pic3.bmp";
        ASSERT_TRUE(std::filesystem::create_directory(blocked));
        scanner.acquisitions = {true};
        scan->click();
        std::filesystem::remove(blocked);
        EXPECT_EQ(form.SourceList()->count(), 3);
        ASSERT_EQ(prompter->boxes.size(), 2u);
        EXPECT_EQ(prompter->boxes[1].text, "Cannot write \"" + blocked + "\". Is a directory");
        // The pages are pictures of their own in the temporary folder.
        for (int n : {1, 2}) {
            TKestovaIO reader;
            reader.LoadFromFile(TempFolder + "Pic" + std::to_string(n) + ".bmp");
            ASSERT_FALSE(reader.AbortFlag) << n;
            EXPECT_EQ(reader.WorkBitmap().GetWidth(), 5 + n);
            EXPECT_EQ(reader.WorkBitmap().GetPixelRGB(2, 2), (TKVRGB{0, 0, 255}));
        }
        prompter->answers = {idYes};
        form.close();
    }
    SetPrompter(std::move(saved));
    SetAcquireProviderFactory(nullptr);
}

TEST_F(MainFormTest, ClosingAsksWithoutOutputSavesTheSettingsAndRemovesTheTemporaryFolder) {
    auto scripted = std::make_unique<TScriptedPrompter>();
    TScriptedPrompter* prompter = scripted.get();
    std::unique_ptr<TPrompter> saved = SetPrompter(std::move(scripted));
    {
        TMainForm form;
        form.show();
        form.close();  // an empty list closes at once
        EXPECT_FALSE(form.isVisible());
        EXPECT_TRUE(prompter->boxes.empty());
    }
    std::string temporary;
    {
        TMainForm form;
        temporary = TempFolder;
        EXPECT_TRUE(std::filesystem::is_directory(temporary));
        form.show();
        FillList(form, 1, 0);
        prompter->answers = {idNo};
        form.close();
        EXPECT_TRUE(form.isVisible());
        ASSERT_EQ(prompter->boxes.size(), 1u);
        EXPECT_EQ(prompter->boxes[0].text, "Quit with no PDF output?");
        prompter->answers = {idYes};
        form.Converter().PicResolution = 300;
        form.close();
        EXPECT_FALSE(form.isVisible());
    }
    const std::unique_ptr<TPrompter> used = SetPrompter(std::move(saved));
    EXPECT_FALSE(std::filesystem::exists(temporary));
    TMainForm next;
    EXPECT_EQ(next.Converter().PicResolution, 300);
}

// A picture with transparent parts is previewed as its document shows it, composed over white,
// whatever form its transparency takes in the file.
TEST_F(MainFormTest, APictureWithAlphaIsPreviewedAsItsDocumentShowsIt) {
    TScratchFolder folder;
    // Half of it half-covered, a corner opaque, the rest transparent.
    const std::string drawn = "-size 60x40 xc:none -fill 'rgba(255,0,0,0.5)' -draw 'rectangle 0,0 29,39' "
                              "-fill 'rgba(0,0,255,1)' -draw 'rectangle 30,0 44,19' ";
    const std::string gray = "-size 60x40 xc:none -fill 'graya(20%,0.5)' -draw 'rectangle 0,0 29,39' "
                             "-fill 'graya(0%,1)' -draw 'rectangle 30,0 44,19' ";
    struct Case {
        const char* file;
        std::string make, format;  // ImageMagick's options and its output format
    } cases[] = {
        {"rgba.png", drawn + "-define png:color-type=6", ""},
        {"palette.png", drawn, "PNG8:"},  // transparent or opaque palette entries
        {"graya.png", gray + "-define png:color-type=4", ""},
        // ImageMagick stores its rows top first unless told the origin.
        {"targa.tga", drawn + "-flip -define tga:image-origin=BottomLeft", ""},
        // Read by the extended library.
        {"silicon.sgi", drawn, ""},
        {"layers.psd", drawn + "-depth 8", ""},
    };
    const struct {
        int x, y;
        const char* part;
    } points[] = {{12, 20, "half-covered"}, {37, 8, "opaque"}, {54, 34, "transparent"}, {38, 34, "transparent"}};
    auto scripted = std::make_unique<TScriptedPrompter>();
    TScriptedPrompter* prompter = scripted.get();
    std::unique_ptr<TPrompter> saved = SetPrompter(std::move(scripted));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = folder.Path(c.file);
        ASSERT_EQ(RunTool("convert " + c.make + " " + Quoted(c.format + path)).status, 0);
        TMainForm form;
        form.show();
        form.AddPicture(path, -1);
        form.SourceList()->setCurrentRow(0);
        QApplication::processEvents();
        const QImage preview = form.View()->viewport()->grab().toImage();

        // The document at 96 dpi, one pixel of the rendering for one of the picture.
        form.Converter().PicResolution = 96;
        prompter->answers = {idNo};
        form.btMakePdfClick();
        const std::string pdf = folder.Path(std::filesystem::path(c.file).stem().string() + ".pdf");
        ASSERT_TRUE(QpdfChecks(pdf));
        ASSERT_EQ(RunTool("pdftoppm -r 96 -singlefile -png " + Quoted(pdf) + " " + Quoted(folder.Path("page"))).status, 0);
        const TRgbImage page = ReadWithImageMagick(folder.Path("page.png"));
        ASSERT_GE(page.width, 60);
        for (const auto& point : points) {
            const uint8_t* expected = page.At(point.x, point.y);
            const QColor shown = preview.pixelColor(form.View()->BitmapToClientX(point.x) + 2,
                                                    form.View()->BitmapToClientY(point.y) + 2);
            const int found[] = {shown.red(), shown.green(), shown.blue()};
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(found[i], expected[i], 8) << point.part << " at " << point.x << "," << point.y;
        }
        // The document composes the transparency over white.
        EXPECT_EQ((std::vector<int>(page.At(54, 34), page.At(54, 34) + 3)), (std::vector<int>{255, 255, 255}));
    }
    SetPrompter(std::move(saved));
}

// Records the state of the window each time a box is shown.
class TWatchingPrompter : public TScriptedPrompter {
public:
    std::function<void()> onBox;
    TMsgAnswer MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                          TMsgButtons buttons) override {
        if (onBox) onBox();
        return TScriptedPrompter::MessageBox(caption, text, icon, buttons);
    }
};

// The result is told once the run is over: its progress is gone and the button closes again.
TEST_F(MainFormTest, TheResultIsToldOnceTheProgressIsGone) {
    auto scripted = std::make_unique<TWatchingPrompter>();
    TWatchingPrompter* prompter = scripted.get();
    std::unique_ptr<TPrompter> saved = SetPrompter(std::move(scripted));
    for (const TConvertMode mode : {cmSingle, cmBook}) {
        TScratchFolder folder;
        TMainForm form;
        form.show();
        ListTwoPictures(form, folder);
        form.Converter().Mode = mode;
        form.RefreshOptions();
        std::vector<std::string> seen;
        prompter->onBox = [&] {
            seen.push_back(std::string(form.findChild<QWidget*>("pnProgress")->isVisible() ? "progress" : "no progress") +
                           ", " + form.findChild<QPushButton*>("btClose")->text().toStdString());
        };
        prompter->boxes.clear();
        prompter->answers = {idNo};
        QTest::mouseClick(form.findChild<QPushButton*>("btMakePdf"), Qt::LeftButton);
        ASSERT_EQ(prompter->boxes.size(), 1u) << int(mode);
        EXPECT_EQ(prompter->boxes[0].text,
                  mode == cmSingle ? "2 pics converted.\r\nWant to see them?" : "PDF book successfully generated!\r\nWant to see it?");
        EXPECT_EQ(seen, std::vector<std::string>{"no progress, Close"}) << int(mode);
    }
    SetPrompter(std::move(saved));
}

// "Yes" where the desktop has no program for PDF documents: one message at once, naming them,
// and nothing started.
TEST_F(MainFormTest, WithoutAViewerForPdfYesSaysSoOnceNamingTheDocuments) {
    TScratchFolder desktop, folder;
    // A MIME database that knows PDF documents, and no program of the desktop for them.
    std::filesystem::create_directories(desktop.Path("share/mime"));
    WriteFile(desktop.Path("share/mime/globs2"), "50:application/pdf:*.pdf\n");
    const TEnvironmentGuard display("DISPLAY", ":92"), dataDirs("XDG_DATA_DIRS", desktop.Path("share")),
        dataHome("XDG_DATA_HOME", desktop.Path("data")), configDirs("XDG_CONFIG_DIRS", desktop.Path("etc")),
        current("XDG_CURRENT_DESKTOP", std::nullopt);
    auto scripted = std::make_unique<TScriptedPrompter>();
    TScriptedPrompter* prompter = scripted.get();
    std::unique_ptr<TPrompter> saved = SetPrompter(std::move(scripted));
    {
        TMainForm form;
        form.show();
        ListTwoPictures(form, folder);
        prompter->answers = {idYes};
        QTest::mouseClick(form.findChild<QPushButton*>("btMakePdf"), Qt::LeftButton);
        // Told before the click is over, not when an opener gives up.
        ASSERT_EQ(prompter->boxes.size(), 2u);
        EXPECT_EQ(prompter->boxes[1].text, "No program is set to open these files (application/pdf):\n" +
                                               folder.Path("a.pdf") + "\n" + folder.Path("b.pdf"));
        EXPECT_EQ(prompter->boxes[1].icon, TMsgIcon::Warning);
        EXPECT_TRUE(prompter->opened.empty());
        prompter->answers = {idYes};
    }
    SetPrompter(std::move(saved));
}

// A clip of 4 seconds at 25 frames a second, every frame added: the rows come while they are
// added, and the clip is opened once for all of them.
TEST_F(MainFormTest, AllFramesOfAVideoComeIntoTheListAsTheyAreAdded) {
    InstallMediaProvider();
    TScratchFolder folder;
    const std::string clip = folder.Path("clip.avi");
    ASSERT_EQ(RunTool("ffmpeg -v error -f lavfi -i testsrc=size=32x24:rate=25 -t 4 -c:v mpeg4 " + Quoted(clip)).status, 0);
    TMainForm form;
    form.show();
    form.AskFrames = [](TConverterPic& pic, int& count, int& step) {
        EXPECT_EQ(pic.FrameCount, 100);
        count = -1, step = 1;
    };
    // What the list shows each time the window handles its events: how many rows it has, and
    // whether any of them is drawn.
    std::vector<int> rowsSeen;
    int blankShown = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        rowsSeen.push_back(form.SourceList()->count());
        const QImage shown = form.SourceList()->viewport()->grab().toImage();
        int inked = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) inked += qGray(shown.pixel(x, y)) < 200;
        blankShown += inked == 0;
    });
    watch.start(0);
    form.AddPicture(clip, 0);
    watch.stop();
    ASSERT_EQ(form.SourceList()->count(), 100);
    EXPECT_EQ(form.SourceList()->item(99)->text().toStdString(), clip + "#100");
    // The list grew row by row while the frames were added.
    std::erase_if(rowsSeen, [](int rows) { return rows <= 1 || rows >= 100; });
    EXPECT_GT(rowsSeen.size(), 50u);
    EXPECT_TRUE(std::is_sorted(rowsSeen.begin(), rowsSeen.end()));
    EXPECT_EQ(blankShown, 0);
    EXPECT_TRUE(form.SourceList()->isEnabled());

    // The same in a program of its own, its system calls traced; also for an MPEG stream without
    // a container, whose frames are counted one by one.
    const std::string stream = folder.Path("stream.mpg");
    ASSERT_EQ(RunTool("ffmpeg -v error -f lavfi -i testsrc=size=32x24:rate=25 -t 4 -c:v mpeg1video -f mpeg1video " +
                      Quoted(stream)).status, 0);
    for (const std::string& video : {clip, stream}) {
        SCOPED_TRACE(video);
        const std::string trace = folder.Path("trace");
        const TCommandResult run = RunTool("strace -f -qq -e trace=open,openat,openat2 -o " + Quoted(trace) +
                                               " env ASAN_OPTIONS=detect_leaks=0 " + Quoted(MORDALE_ADD_VIDEO_FRAMES) +
                                               " " + Quoted(video),
                                           false);
        ASSERT_EQ(run.status, 0);
        EXPECT_EQ(run.output, "100\n");
        EXPECT_EQ(OpensOf(ReadFile(trace), video), 1u);
    }
}
