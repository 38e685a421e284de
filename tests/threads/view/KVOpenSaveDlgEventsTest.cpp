// The picture dialogs driven as a person drives them: their notifications, their options and what
// the open dialog shows of a folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "LayoutCheck.h"
#include "QtTestApplication.h"
#include "TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KVOpenSaveDlg.h"
#include "imaging/view/KestovaView.h"

namespace fs = std::filesystem;

namespace {

class KVOpenSaveDlgEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
        ASSERT_EQ(RunTool("convert -size 16x8 xc:blue " + Quoted(scratch.Path("a.png"))).status, 0);
        ASSERT_EQ(RunTool("convert -size 4x4 xc:red " + Quoted(scratch.Path("b.bmp"))).status, 0);
        fs::create_directory(scratch.Path("sub"));
        ASSERT_EQ(RunTool("convert -size 6x6 xc:lime " + Quoted(scratch.Path("sub/c.png"))).status, 0);
    }
    TScratchFolder scratch;
};

bool WaitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

// Runs the dialog and, once it is shown and active (keys reach it only then), the drive with
// Qt's dialog.
bool RunDriven(TOpenKestovaDialog& dialog, const std::function<void(QFileDialog&)>& drive) {
    const std::function<void()> shown = dialog.OnShow;
    dialog.OnShow = [&] {
        if (shown) shown();
        QTimer::singleShot(0, [&] {
            auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(files, nullptr);
            ASSERT_TRUE(WaitFor([&] { return files->isActiveWindow(); }));
            drive(*files);
            // A drive that failed half way leaves the dialog to close.
            if (files->isVisible()) files->reject();
        });
    };
    const bool confirmed = dialog.Execute();
    dialog.OnShow = shown;
    return confirmed;
}

QAbstractItemView* FileView(QFileDialog& files) {
    auto* tree = files.findChild<QTreeView*>("treeView");
    if (tree && tree->isVisible()) return tree;
    return files.findChild<QListView*>("listView");
}

// A click on the file's row, once the folder is listed, and Enter to open a folder.
void ClickFile(QFileDialog& files, const std::string& path, bool open = false) {
    auto* model = files.findChild<QFileSystemModel*>();
    QAbstractItemView* view = FileView(files);
    const QString name = QString::fromStdString(path);
    ASSERT_TRUE(WaitFor([&] { return model->index(name).isValid() && !view->visualRect(model->index(name)).isEmpty(); }))
        << path;
    const QPoint point = view->visualRect(model->index(name)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
    QApplication::processEvents();
    if (open) QTest::keyClick(view, Qt::Key_Return);
    QApplication::processEvents();
}

void ClickAccept(QFileDialog& files) {
    auto* buttons = files.findChild<QDialogButtonBox*>("buttonBox");
    QPushButton* accept = buttons->button(QDialogButtonBox::Open) ? buttons->button(QDialogButtonBox::Open)
                                                                  : buttons->button(QDialogButtonBox::Save);
    QTest::mouseClick(accept, Qt::LeftButton);
    QApplication::processEvents();
}

void TypeName(QFileDialog& files, const std::string& name) {
    auto* edit = files.findChild<QLineEdit*>("fileNameEdit");
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, QString::fromStdString(name));
    QApplication::processEvents();
}

// The text of the message box the action opens, answered with the button; empty when none opens.
QString AnswerBox(const std::function<void()>& action, QMessageBox::StandardButton answer) {
    QString text;
    QTimer watch;  // gone with the action: it never meets a later window
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        watch.stop();
        text = box->text();
        box->button(answer) ? box->button(answer)->click() : box->reject();
    });
    watch.start();
    action();
    return text;
}

std::string Name(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

// Showing, choosing a type, files and a folder, a confirmation first refused and then granted,
// and closing each raise their notification, with FileName, FilterIndex and Files as the dialog
// has them at that moment: in another folder, the name left in the edit box names a file there.
TEST_F(KVOpenSaveDlgEventsTest, NotificationsFollowTheUser) {
    const auto Name = [&](const std::string& path) { return fs::relative(path, scratch.Folder()).string(); };
    TOpenKestovaDialog dialog;
    dialog.MsgLanguage = msEnglish;
    dialog.SetInitialDir(scratch.Folder());
    std::vector<std::string> log;
    dialog.OnShow = [&] { log.push_back("show"); };
    dialog.OnTypeChange = [&] { log.push_back("type " + std::to_string(dialog.FilterIndex)); };
    dialog.OnSelectionChange = [&] { log.push_back("selection " + Name(dialog.FileName)); };
    dialog.OnFolderChange = [&] { log.push_back("folder"); };
    int asked = 0;
    dialog.OnCanClose = [&](bool& canClose) {
        std::string files;
        for (const std::string& file : dialog.Files) files += " " + Name(file);
        log.push_back("can close" + files);
        canClose = ++asked > 1;
    };
    dialog.OnClose = [&] { log.push_back("close"); };
    bool stayedOpen = false;
    const bool confirmed = RunDriven(dialog, [&](QFileDialog& files) {
        QTest::keyClick(files.findChild<QComboBox*>("fileTypeCombo"), Qt::Key_Down);  // to "All Files"
        ClickFile(files, scratch.Path("a.png"));
        ClickFile(files, scratch.Path("b.bmp"));
        ClickFile(files, scratch.Path("sub"), true);
        ClickFile(files, scratch.Path("sub/c.png"));
        ClickAccept(files);
        stayedOpen = files.isVisible();
        ClickAccept(files);
    });
    ASSERT_TRUE(confirmed);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(log, (std::vector<std::string>{"show", "type 2", "selection a.png", "selection b.bmp", "selection sub",
                                             "folder", "selection sub/b.bmp", "selection sub/c.png",
                                             "can close sub/c.png", "can close sub/c.png", "close"}));
    EXPECT_EQ(dialog.Files, std::vector<std::string>{scratch.Path("sub/c.png")});
    EXPECT_EQ(dialog.FilterIndex, 2);
}

// A typed folder is entered as a clicked one is; a name typed there selects its file, and the
// preview shows it; a cancelled run keeps the last result.
TEST_F(KVOpenSaveDlgEventsTest, ATypedNameSelectsAndPreviewsItsFile) {
    ASSERT_EQ(RunTool("convert -size 4x4 xc:red " + Quoted(scratch.Path("sub/d.bmp"))).status, 0);
    TOpenKestovaDialog dialog;
    dialog.MsgLanguage = msEnglish;
    dialog.FilterIndex = 2;
    dialog.FileName = "/earlier/choice.png";
    dialog.SetInitialDir(scratch.Folder());
    std::vector<std::string> selections;
    dialog.OnSelectionChange = [&] { selections.push_back(Name(dialog.FileName)); };
    int folderChanges = 0;
    dialog.OnFolderChange = [&] { ++folderChanges; };
    std::string folder, lastSelection;
    std::string preview, selected;
    const bool confirmed = RunDriven(dialog, [&](QFileDialog& files) {
        TypeName(files, "sub");
        QTest::keyClick(files.findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Return);
        folder = files.directory().absolutePath().toStdString();
        ClickFile(files, scratch.Path("sub/c.png"));
        auto* label = files.findChild<QLabel*>("PicLabel1");
        ASSERT_TRUE(WaitFor([&] { return label->text() == "6 x 6 pixel"; }));
        // Qt selects the folder's own row, in its parent, while the name box is empty; the file
        // left selected stands in the same row of the folder.
        auto* model = files.findChild<QFileSystemModel*>();
        ASSERT_TRUE(WaitFor([&] {
            return model->index(QString::fromStdString(scratch.Path("sub/c.png"))).row() ==
                   model->index(QString::fromStdString(scratch.Path("sub"))).row();
        }));
        TypeName(files, "d.bmp");
        WaitFor([&] { return label->text() == "4 x 4 pixel"; });
        preview = label->text().toStdString();
        for (const QModelIndex& row : FileView(files)->selectionModel()->selectedRows())
            selected += row.data().toString().toStdString();
        lastSelection = selections.empty() ? "" : selections.back();
        files.reject();
    });
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(folder, scratch.Path("sub"));
    EXPECT_EQ(preview, "4 x 4 pixel");
    EXPECT_EQ(selected, "d.bmp");
    EXPECT_EQ(lastSelection, "d.bmp");
    EXPECT_EQ(folderChanges, 1);
    EXPECT_EQ(dialog.FileName, "/earlier/choice.png");
    EXPECT_EQ(dialog.FilterIndex, 2);
}

// The remembered name is offered as it was: in its folder when that exists, else whole, in the
// initial folder; accepting it returns it unchanged.
TEST_F(KVOpenSaveDlgEventsTest, TheRememberedNameIsOfferedAsItWas) {
    const struct {
        std::string remembered, folder, shown;
    } cases[] = {
        {scratch.Path("sub/c.png"), scratch.Path("sub"), "c.png"},
        {"/earlier/choice.png", scratch.Folder(), "/earlier/choice.png"},
    };
    for (const auto& c : cases) {
        TOpenKestovaDialog dialog;
        dialog.FilterIndex = 2;
        dialog.FileName = c.remembered;
        dialog.SetInitialDir(scratch.Folder());
        std::string folder, shown;
        EXPECT_TRUE(RunDriven(dialog, [&](QFileDialog& files) {
            folder = files.directory().absolutePath().toStdString();
            shown = files.findChild<QLineEdit*>("fileNameEdit")->text().toStdString();
            ClickAccept(files);
        })) << c.remembered;
        EXPECT_EQ(folder, c.folder) << c.remembered;
        EXPECT_EQ(shown, c.shown) << c.remembered;
        EXPECT_EQ(dialog.FileName, c.remembered);
    }
}

// Each option the dialog can honour, as the user meets it.
TEST_F(KVOpenSaveDlgEventsTest, OptionsAreHonoured) {
    fs::create_directory(scratch.Path("locked"));
    WriteFile(scratch.Path("fixed.png"), ReadFile(scratch.Path("a.png")));
    fs::permissions(scratch.Path("fixed.png"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const struct {
        const char* what;
        bool save;
        TOpenOptions options;
        std::string typed;
        const char* message;  // the start of the box's text after the path; null: none
        QMessageBox::StandardButton answer;
        bool confirmed;
    } cases[] = {
        {"a missing folder", true, {ofPathMustExist}, "nowhere/new.png", "Folder not found", QMessageBox::Ok, false},
        {"a missing folder allowed", true, {}, "nowhere/new.png", nullptr, QMessageBox::Ok, true},
        {"a file to create, declined", false, {ofCreatePrompt}, "new.png", "This file does not exist",
         QMessageBox::No, false},
        {"a file to create, accepted", false, {ofCreatePrompt}, "new.png", "This file does not exist",
         QMessageBox::Yes, true},
        {"a missing file", false, {ofFileMustExist}, "new.png", nullptr, QMessageBox::Ok, false},  // Open stays disabled
        {"a missing file allowed", false, {}, "new.png", nullptr, QMessageBox::Ok, true},
        {"a read-only file", false, {ofNoReadOnlyReturn}, "fixed.png", "This file is read-only", QMessageBox::Ok,
         false},
        {"a file to replace", true, {ofOverwritePrompt}, "a.png", "a.png already exists", QMessageBox::No, false},
        {"a file replaced without asking", true, {}, "a.png", nullptr, QMessageBox::Ok, true},
    };
    for (const auto& c : cases) {
        std::unique_ptr<TOpenKestovaDialog> dialog =
            c.save ? std::make_unique<TSaveKestovaDialog>() : std::make_unique<TOpenKestovaDialog>();
        dialog->MsgLanguage = msEnglish;
        dialog->Options = c.options;
        dialog->FilterIndex = c.save ? 1 : 2;
        dialog->SetInitialDir(scratch.Folder());
        if (auto* save = dynamic_cast<TSaveKestovaDialog*>(dialog.get())) save->ShowPreview = false;
        QString message;
        bool stayedOpen = false;
        const bool confirmed = RunDriven(*dialog, [&](QFileDialog& files) {
            TypeName(files, c.typed);
            message = AnswerBox([&] { ClickAccept(files); }, c.answer);
            stayedOpen = files.isVisible();
            if (stayedOpen) files.reject();
        });
        EXPECT_EQ(confirmed, c.confirmed) << c.what;
        EXPECT_EQ(stayedOpen, !c.confirmed) << c.what;
        if (c.message)
            EXPECT_TRUE(message.contains(c.message)) << c.what << ": " << message.toStdString();
        else
            EXPECT_TRUE(message.isEmpty()) << c.what << ": " << message.toStdString();
        if (confirmed) EXPECT_EQ(dialog->FileName, fs::absolute(scratch.Path(c.typed)).string()) << c.what;
    }
}

// The read-only check box shows only when asked for, and its state is the answer; the extension
// differs from the default one, which a name typed without extension gets.
TEST_F(KVOpenSaveDlgEventsTest, ReadOnlyBoxAndDefaultExtensionAnswer) {
    const struct {
        TOpenOptions options;
        bool tick;
        std::string defaultExt, typed, chosen;
        bool readOnly, box, extensionDifferent;
    } cases[] = {
        {{ofHideReadOnly, ofReadOnly}, false, "", "a.png", "a.png", true, false, false},
        {{ofReadOnly}, false, "", "a.png", "a.png", true, true, false},
        {{ofReadOnly}, true, "", "a.png", "a.png", false, true, false},
        {{}, true, "png", "a.png", "a.png", true, true, false},
        {{ofHideReadOnly}, false, "png", "b.bmp", "b.bmp", false, false, true},
        {{ofHideReadOnly}, false, ".bmp", "b", "b.bmp", false, false, false},
    };
    for (const auto& c : cases) {
        TOpenKestovaDialog dialog;
        dialog.Options = c.options;
        dialog.DefaultExt = c.defaultExt;
        dialog.FilterIndex = 2;
        dialog.SetInitialDir(scratch.Folder());
        bool box = false;
        ASSERT_TRUE(RunDriven(dialog, [&](QFileDialog& files) {
            auto* check = files.findChild<QCheckBox*>("ReadOnlyCheck");
            box = check && check->isVisible();
            if (box && c.tick) QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
            TypeName(files, c.typed);
            ClickAccept(files);
        })) << c.typed;
        EXPECT_EQ(dialog.FileName, scratch.Path(c.chosen)) << c.typed;
        EXPECT_EQ(box, c.box) << c.typed;
        EXPECT_EQ(dialog.Options.Has(ofReadOnly), c.readOnly) << c.typed;
        EXPECT_EQ(dialog.Options.Has(ofExtensionDifferent), c.extensionDifferent) << c.typed;
    }
}

// The places bar and the extended information go when asked; the help context is kept.
TEST_F(KVOpenSaveDlgEventsTest, PlacesBarAndExtendedInformation) {
    for (const bool on : {true, false}) {
        TOpenKestovaDialog dialog;
        dialog.ShowPlacesBar = on;
        dialog.ExtendedDialog = on;
        dialog.HelpContext = 42;
        dialog.SetInitialDir(scratch.Folder());
        bool places = !on, labels = !on, zoom = !on;
        RunDriven(dialog, [&](QFileDialog& files) {
            places = files.findChild<QWidget*>("sidebar")->isVisible();
            labels = files.findChild<QLabel*>("PicLabel1")->isVisible() && files.findChild<QLabel*>("InfoLabel2")->isVisible();
            zoom = files.findChild<QComboBox*>("ZoomCombo")->isVisible();
            files.reject();
        });
        EXPECT_EQ(places, on);
        EXPECT_EQ(labels, on);
        EXPECT_EQ(zoom, on);
        EXPECT_EQ(dialog.HelpContext, 42);
    }
}

// When asked, the preview's picture is resampled so that its two resolutions agree.
TEST_F(KVOpenSaveDlgEventsTest, AdjustedResolutionReachesThePreview) {
    ASSERT_EQ(RunTool("convert -size 48x24 xc:blue -units PixelsPerInch -density 48x96 " +
                      Quoted(scratch.Path("coarse.png"))).status, 0);
    for (const bool adjust : {false, true}) {
        TOpenKestovaDialog dialog;
        dialog.AutoAdjustDPI = adjust;
        dialog.FilteredAdjustDPI = adjust;
        dialog.FilterIndex = 2;
        dialog.SetInitialDir(scratch.Folder());
        int height = 0;
        RunDriven(dialog, [&](QFileDialog& files) {
            ClickFile(files, scratch.Path("coarse.png"));
            auto* view = files.findChild<TKestovaView*>("KestovaView");
            WaitFor([&] { return view->GetKVBitmap()->GetWidth() > 1; });
            height = view->GetKVBitmap()->GetHeight();
            files.reject();
        });
        EXPECT_EQ(height, adjust ? 12 : 24);
    }
}

// The size, type and date of every file are written out whole, not cut with an ellipsis.
TEST_F(KVOpenSaveDlgEventsTest, LaysOutTheFileColumnsWhole) {
    ASSERT_EQ(RunTool("convert -size 300x300 plasma:fractal -quality 100 " + Quoted(scratch.Path("photo.jpg"))).status,
              0);
    WriteFile(scratch.Path("large.bin"), std::string(206 * 1024, 'x'));
    // Wider than what Qt's dialog makes room for at first: "999.45 MiB" and a long type name.
    WriteFile(scratch.Path("film.bin"), "");
    fs::resize_file(scratch.Path("film.bin"), 1048000000);
    WriteFile(scratch.Path("slides.pptx"), "PK");
    TOpenKestovaDialog dialog;
    dialog.FilterIndex = 2;
    dialog.SetInitialDir(scratch.Folder());
    std::vector<std::string> cut;
    RunDriven(dialog, [&](QFileDialog& files) {
        auto* tree = files.findChild<QTreeView*>("treeView");
        auto* model = files.findChild<QFileSystemModel*>();
        ASSERT_TRUE(tree->isVisible());
        const QModelIndex root = tree->rootIndex();
        ASSERT_TRUE(WaitFor([&] { return model->rowCount(root) == 7; }));
        QApplication::processEvents();
        for (int row = 0; row < model->rowCount(root); ++row)
            for (int column = 1; column < model->columnCount(root); ++column) {
                const QModelIndex cell = model->index(row, column, root);
                if (tree->sizeHintForIndex(cell).width() > tree->columnWidth(column))
                    cut.push_back(cell.data().toString().toStdString());
            }
        files.reject();
    });
    EXPECT_TRUE(cut.empty()) << ::testing::PrintToString(cut);
}

// Choosing another format in the save dialog raises the type notification once the typed name's
// extension follows it; the new format's extension is then the default one.
TEST_F(KVOpenSaveDlgEventsTest, SaveDialogTypeChange) {
    TSaveKestovaDialog dialog;
    dialog.AutoSetFilter = false;
    dialog.Filter = "JPEG Bitmap (JPG)|*.jpg|Windows Bitmap (BMP)|*.bmp";
    dialog.ShowPreview = false;
    dialog.SetInitialDir(scratch.Folder());
    std::vector<std::string> log;
    dialog.OnTypeChange = [&] { log.push_back(std::to_string(dialog.FilterIndex) + " " + Name(dialog.FileName)); };
    ASSERT_TRUE(RunDriven(dialog, [&](QFileDialog& files) {
        TypeName(files, "holiday.jpg");
        QTest::keyClick(files.findChild<QComboBox*>("fileTypeCombo"), Qt::Key_Down);
        TypeName(files, "holiday");
        ClickAccept(files);
    }));
    EXPECT_EQ(log, std::vector<std::string>{"2 holiday.bmp"});
    EXPECT_EQ(dialog.FileName, scratch.Path("holiday.bmp"));
    EXPECT_EQ(dialog.FilterIndex, 2);
    EXPECT_FALSE(dialog.Options.Has(ofExtensionDifferent));
}
