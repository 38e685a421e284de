#include "QtTestApplication.h"
#include "imaging/view/KVOpenSaveDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QTest>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <map>

#include "LayoutCheck.h"
#include "TestSupport.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/view/KVPreviewInfo.h"
#include "imaging/view/KVPreviewPane.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KestovaMIO.h"
#include "imaging/view/KestovaMView.h"

namespace {

class KVOpenSaveDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
    }
};

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace

TEST_F(KVOpenSaveDlgTest, OpenFilterComesFromTheRegistry) {
    const std::vector<std::string> parts = Split(KVOpenFilter(msEnglish), '|');
    ASSERT_GE(parts.size(), 4u);
    EXPECT_EQ(parts[0], "Common Graphic Files");
    EXPECT_EQ(parts[2], "All Files");
    EXPECT_EQ(parts[3], "*.*");
    const std::string& common = parts[1];
    EXPECT_TRUE(common.ends_with(";*.avi;*.mpg;*.wmv")) << common;
    size_t readable = 0;
    for (const TKVFileFormatEntry* format : GetFileFormats()) {
        if (!format->ReadHook) continue;
        ++readable;
        std::string first = "*." + Split(format->Extensions, ';').front();
        for (char& c : first) c = static_cast<char>(std::tolower(c));
        EXPECT_TRUE(Contains(";" + common + ";", ";" + first + ";")) << first;
    }
    EXPECT_FALSE(Contains(common, "*.jpeg"));  // only each format's first extension
    EXPECT_EQ(parts.size(), 4 + 2 * (readable + 3));
    EXPECT_EQ(parts[parts.size() - 2], "Windows Media Video (WMV)");
    EXPECT_TRUE(Contains(KVOpenFilter(msEnglish), "|Video for Windows (AVI)|*.avi|Mpeg (MPEG)|*.mpeg;*.mpg|"));
}

TEST_F(KVOpenSaveDlgTest, InformationTexts) {
    struct Case {
        int width, height, samples, bits, fileType, frames;
        int64_t fileSize;
        const char *pic1, *pic2, *info2;
    } cases[] = {
        {100, 10, 1, 1, kvftBMP, 1, 200, "100 x 10 pixel", "2 Colors (1 bit)", "File: 200 byte   Mem: 160 byte"},
        {1000, 1000, 3, 8, kvftBMP, 1, 3000054, "1000 x 1000 pixel", "16777216 Colors (24 bit)",
         "File: 2929 KB   Mem: 2929 KB"},
        {640, 480, 1, 8, kvftGIF, 12, 1024, "640 x 480 pixel , 12 frames", "256 Colors (8 bit)",
         "File: 1 KB   Mem: 900 KB"},
        {10, 10, 4, 8, kvftTIFF, 1, 10, "10 x 10 pixel", "16777216 Colors (32 bit)", "File: 10 byte   Mem: 320 byte"},
        {10, 10, 3, 16, kvftTIFF, 1, 10, "10 x 10 pixel", "2^48 Colors (48 bit)", "File: 10 byte   Mem: 320 byte"},
    };
    for (const Case& c : cases) {
        TIOParamsVals params(nullptr);
        params.Width = c.width;
        params.Height = c.height;
        params.SamplesPerPixel = c.samples;
        params.BitsPerSample = c.bits;
        params.FileType = c.fileType;
        params.SetDpiX(72);
        params.SetDpiY(96);
        const TKVPreviewInfo info = KVPreviewInfoTexts(params, c.fileSize, c.frames, msEnglish);
        EXPECT_EQ(info.pic1, c.pic1);
        EXPECT_EQ(info.pic2, c.pic2);
        EXPECT_EQ(info.pic3, "72 x 96 dpi");
        EXPECT_EQ(info.info2, c.info2);
    }
    // A JPEG previewed reduced reports the size of the file's picture.
    TIOParamsVals jpeg(nullptr);
    jpeg.FileType = kvftJPEG;
    jpeg.Width = 750;
    jpeg.Height = 500;
    jpeg.JpegFrameWidth = 6000;
    jpeg.JpegFrameHeight = 4000;
    EXPECT_EQ(KVPreviewInfoTexts(jpeg, 1, 1, msEnglish).pic1, "6000 x 4000 pixel");
}

TEST_F(KVOpenSaveDlgTest, InitialFolderLosesItsTrailingSlashButTheRootKeepsIt) {
    TOpenKestovaDialog dialog;
    for (const auto& [given, kept] : std::vector<std::pair<std::string, std::string>>{
             {"/", "/"}, {"/tmp/", "/tmp"}, {"/tmp", "/tmp"}, {"", ""}}) {
        dialog.SetInitialDir(given);
        EXPECT_EQ(dialog.InitialDir(), kept) << given;
    }
}

TEST_F(KVOpenSaveDlgTest, PreviewsTheSelectionAndReturnsFullPaths) {
    TScratchFolder scratch;
    ASSERT_EQ(RunTool("convert -size 16x8 xc:'rgb(0,0,255)' " + Quoted(scratch.Path("a.png"))).status, 0);
    ASSERT_EQ(RunTool("convert -size 4x4 xc:red " + Quoted(scratch.Path("b.bmp"))).status, 0);
    WriteFile(scratch.Path("broken.png"), "not a picture");
    TOpenKestovaDialog dialog;
    dialog.Title = "Select one or several pic files";
    dialog.MsgLanguage = msEnglish;
    dialog.FilterIndex = 2;
    dialog.Options = dialog.Options.With(ofAllowMultiSelect);
    dialog.SetInitialDir(scratch.Folder() + "/");
    std::map<std::string, std::string> shown, broken;
    QString caption;
    QTimer::singleShot(200, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(files, nullptr);
        caption = files->windowTitle();
        const auto labels = [&] {
            std::map<std::string, std::string> texts;
            for (const char* name : {"PicLabel1", "PicLabel2", "PicLabel3", "InfoLabel1", "InfoLabel2"})
                texts[name] = files->findChild<QLabel*>(name)->text().toStdString();
            return texts;
        };
        // The folder is read in the background: select once its files are listed.
        const auto select = [&](const std::string& name, const std::string& expected) {
            QElapsedTimer timer;
            timer.start();
            auto* list = files->findChild<QListView*>("listView");
            auto* model = files->findChild<QFileSystemModel*>();
            do {
                // As a click in the list does.
                list->setCurrentIndex(model->index(QString::fromStdString(scratch.Path(name))));
                QApplication::processEvents(QEventLoop::AllEvents, 20);
            } while (labels()["PicLabel1"] != expected && timer.elapsed() < 3000);
            return labels();
        };
        shown = select("b.bmp", "4 x 4 pixel");
        QDir().mkpath("screenshots");
        files->grab().save("screenshots/open-dialog.png");
        broken = select("broken.png", "");
        files->findChild<QLineEdit*>("fileNameEdit")->setText("\"a.png\" \"b.bmp\"");
        QMetaObject::invokeMethod(files, "accept");
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(caption, "Select one or several pic files");
    EXPECT_EQ(shown["PicLabel1"], "4 x 4 pixel");
    EXPECT_EQ(shown["PicLabel3"].find(" dpi") != std::string::npos, true);
    EXPECT_TRUE(shown["InfoLabel2"].starts_with("File: ")) << shown["InfoLabel2"];
    EXPECT_EQ(broken["PicLabel1"], "");
    EXPECT_EQ(dialog.Files, (std::vector<std::string>{scratch.Path("a.png"), scratch.Path("b.bmp")}));
    EXPECT_EQ(dialog.FileName, scratch.Path("a.png"));
    EXPECT_EQ(dialog.FilterIndex, 2);
    EXPECT_EQ(dialog.SelectedFrame, 0);

    QTimer::singleShot(0, [] { qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject(); });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(dialog.Files.empty());
}

TEST_F(KVOpenSaveDlgTest, FramePickedAmongTheThumbnailsIsReturned) {
    TScratchFolder scratch;
    ASSERT_EQ(RunTool("convert -size 8x8 xc:red xc:lime xc:blue " + Quoted(scratch.Path("anim.gif"))).status, 0);
    TOpenKestovaDialog dialog;
    dialog.SetInitialDir(scratch.Folder());
    int frames = 0;
    QTimer::singleShot(200, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(files, nullptr);
        auto* thumbnails = files->findChild<TKestovaMView*>("KestovaMView");
        auto* list = files->findChild<QListView*>("listView");
        auto* model = files->findChild<QFileSystemModel*>();
        QElapsedTimer timer;
        timer.start();
        do {
            list->setCurrentIndex(model->index(QString::fromStdString(scratch.Path("anim.gif"))));
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        } while (thumbnails->GetImageCount() == 0 && timer.elapsed() < 3000);
        frames = thumbnails->GetImageCount();
        const TKVCellPlace second = thumbnails->CellOf(1);
        QTest::mouseClick(thumbnails->viewport(), Qt::LeftButton, {},
                          QPoint(second.x - thumbnails->ViewX() + 5, second.y - thumbnails->ViewY() + 5));
        QDir().mkpath("screenshots");
        files->grab().save("screenshots/open-dialog-frames.png");
        QMetaObject::invokeMethod(files, "accept");
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(dialog.Files, std::vector<std::string>{scratch.Path("anim.gif")});
    EXPECT_EQ(dialog.SelectedFrame, 1);
}

TEST_F(KVOpenSaveDlgTest, SaveFilterAndItsExtensions) {
    const std::string filter = KVSaveFilter(msEnglish);
    const std::vector<std::string> parts = Split(filter, '|');
    size_t writable = 0;
    for (const TKVFileFormatEntry* format : GetFileFormats()) writable += format->WriteHook != nullptr;
    EXPECT_EQ(parts.size(), 2 * (writable + 1));
    EXPECT_FALSE(Contains(filter, "All Files"));
    EXPECT_EQ(parts.back(), "*.avi");
    struct Case {
        const char* filter;
        int index;
        const char* patterns;
        const char* extension;
    } cases[] = {
        {"A|*.jpg;*.jpeg|B|*.png", 1, "*.jpg;*.jpeg", ".jpg"},
        {"A|*.jpg;*.jpeg|B|*.png", 2, "*.png", ".png"},
        {"A|*.jpg;*.jpeg|B|*.png", 3, "", ""},
        {"A|*.jpg;*.jpeg|B|*.png", 0, "", ""},
        {"All|*.*", 1, "*.*", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KVFilterPatterns(c.filter, c.index), c.patterns) << c.index;
        EXPECT_EQ(KVFirstExtension(KVFilterPatterns(c.filter, c.index)), c.extension) << c.index;
    }
}

TEST_F(KVOpenSaveDlgTest, SaveDialogCompletesAndFollowsTheChosenFormat) {
    TScratchFolder scratch;
    TSaveKestovaDialog dialog;
    dialog.AutoSetFilter = false;
    dialog.Filter = "JPEG Bitmap (JPG)|*.jpg|Windows Bitmap (BMP)|*.bmp";
    dialog.ShowPreview = false;
    dialog.SetInitialDir(scratch.Folder());
    QString afterSwitch;
    QTimer::singleShot(100, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(files, nullptr);
        auto* edit = files->findChild<QLineEdit*>("fileNameEdit");
        auto* types = files->findChild<QComboBox*>("fileTypeCombo");
        edit->setText("holiday.jpg");
        types->setCurrentIndex(1);  // as the user picks another format
        emit types->activated(1);
        afterSwitch = edit->text();
        types->setCurrentIndex(0);
        emit types->activated(0);
        edit->setText("holiday");
        QMetaObject::invokeMethod(files, "accept");
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(afterSwitch, "holiday.bmp");
    EXPECT_EQ(dialog.FileName, scratch.Path("holiday.jpg"));
    EXPECT_EQ(dialog.FilterIndex, 1);
}

TEST_F(KVOpenSaveDlgTest, AdvancedButtonEditsTheAttachedParametersOfTheTypedFormat) {
    TScratchFolder scratch;
    TKestovaIO io;
    io.WorkBitmap().Allocate(8, 8, kv24RGB);
    io.Params().JpegQuality = 60;
    io.MsgLanguage = msEnglish;  // taken over by the dialog
    TSaveKestovaDialog dialog;
    dialog.AutoSetFilter = false;
    dialog.Filter = "JPEG Bitmap (JPG)|*.jpg|Portable Pixmap (PPM)|*.ppm";
    dialog.ShowPreview = false;
    dialog.SetAttachedKestovaIO(&io);
    dialog.SetInitialDir(scratch.Folder());
    std::map<std::string, bool> enabled;
    QString caption, parametersDialog;
    QTimer::singleShot(100, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(files, nullptr);
        auto* edit = files->findChild<QLineEdit*>("fileNameEdit");
        auto* advanced = files->findChild<QPushButton*>("AdvancedButton");
        ASSERT_NE(advanced, nullptr);
        caption = advanced->text();
        // A typed extension decides; without one, the chosen filter entry does.
        for (const char* name : {"photo.ppm", "photo.jpg", "photo.PPM", "photo"}) {
            edit->setText(name);
            QElapsedTimer timer;
            timer.start();
            while (timer.elapsed() < 250) QApplication::processEvents(QEventLoop::AllEvents, 20);
            enabled[name] = advanced->isEnabled();
        }
        QTimer::singleShot(100, [&] {
            QWidget* parameters = QApplication::activeModalWidget();
            parametersDialog = parameters == files ? QString() : QString(parameters->metaObject()->className());
            io.Params().JpegQuality = 10;  // as the user would change it there
            qobject_cast<QDialog*>(parameters)->reject();
        });
        advanced->click();
        QMetaObject::invokeMethod(files, "reject");
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(caption, "Advanced...");
    EXPECT_EQ(enabled, (std::map<std::string, bool>{
                           {"photo.ppm", false}, {"photo.jpg", true}, {"photo.PPM", false}, {"photo", true}}));
    EXPECT_FALSE(parametersDialog.isEmpty());
    // A cancelled save dialog leaves the parameters as they were.
    EXPECT_EQ(io.Params().JpegQuality, 60);
}

// A multi-image component (or a thumbnail view's) with no frame has nothing to save: no dialog.
// A view that is gone leaves nothing attached, so the dialog shows as usual.
TEST_F(KVOpenSaveDlgTest, EmptyMultiImageAttachmentShowsNothing) {
    enum Attachment { EmptyComponent, EmptyView, ViewGone };
    struct Case {
        const char* name;
        Attachment attachment;
        bool shown;
    } cases[] = {
        {"empty component", EmptyComponent, false},
        {"empty view", EmptyView, false},
        {"view gone", ViewGone, true},
    };
    for (const Case& c : cases) {
        TSaveKestovaDialog dialog;
        dialog.ShowPreview = false;
        TKestovaMIO component;
        auto view = std::make_unique<TKestovaMView>();
        if (c.attachment == EmptyComponent)
            dialog.SetAttachedKestovaIO(&component);
        else
            dialog.SetAttachedKestovaIO(view.get());
        if (c.attachment == ViewGone) view.reset();
        bool shown = false;
        QTimer::singleShot(0, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                shown = true;
                qobject_cast<QDialog*>(modal)->reject();
            }
        });
        EXPECT_FALSE(dialog.Execute()) << c.name;
        QApplication::processEvents();
        EXPECT_EQ(shown, c.shown) << c.name;
    }
}

// With a thumbnail view attached, the first frame's parameters are the ones a cancelled run
// restores, and the Advanced button's parameters dialog gives its settings to every frame.
TEST_F(KVOpenSaveDlgTest, AdvancedButtonOfAThumbnailViewEditsAllFrames) {
    struct Case {
        const char* name;
        bool confirm;
        int first, second;  // JPEG qualities afterwards
    } cases[] = {
        {"cancelled", false, 60, 10},
        {"confirmed", true, 10, 10},
    };
    for (const Case& c : cases) {
        TScratchFolder scratch;
        TKestovaMView view;
        for (int i = 0; i < 2; ++i) {
            TKVBitmap picture;
            picture.Allocate(8, 8, kv24RGB);
            view.InsertImage(i);
            view.SetImage(i, &picture);
        }
        TKestovaMIO& component = *view.GetMIO();
        component.MsgLanguage = msEnglish;
        component.GetParams(0)->JpegQuality = 60;
        component.GetParams(1)->JpegQuality = 40;
        TSaveKestovaDialog dialog;
        dialog.AutoSetFilter = false;
        dialog.Filter = "JPEG Bitmap (JPG)|*.jpg";
        dialog.ShowPreview = false;
        dialog.SetInitialDir(scratch.Folder());
        dialog.SetAttachedKestovaIO(&view);
        QString parametersDialog;
        QTimer::singleShot(100, [&] {
            auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(files, nullptr);
            files->findChild<QLineEdit*>("fileNameEdit")->setText("photo.jpg");
            auto* advanced = files->findChild<QPushButton*>("AdvancedButton");
            ASSERT_NE(advanced, nullptr);
            EXPECT_TRUE(advanced->isEnabled()) << c.name;
            QTimer::singleShot(100, [&] {
                QWidget* parameters = QApplication::activeModalWidget();
                if (parameters == files) return;
                parametersDialog = parameters->metaObject()->className();
                component.GetParams(0)->JpegQuality = 10;  // as the user would change it there
                qobject_cast<QDialog*>(parameters)->accept();
            });
            advanced->click();
            QMetaObject::invokeMethod(files, c.confirm ? "accept" : "reject");
        });
        EXPECT_EQ(dialog.Execute(), c.confirm) << c.name;
        EXPECT_FALSE(parametersDialog.isEmpty()) << c.name;
        EXPECT_EQ(component.GetParams(0)->JpegQuality, c.first) << c.name;
        EXPECT_EQ(component.GetParams(1)->JpegQuality, c.second) << c.name;
    }
}

// The dialog opens large enough for its preview pane and for a long folder path, written out whole.
TEST_F(KVOpenSaveDlgTest, LaysOutTheFolderPathWhole) {
    const std::string folder = "/tmp/mordale-open-dialog/Pictures of the holidays in 2026/In the mountains above the lake";
    std::filesystem::create_directories(folder);
    TOpenKestovaDialog dialog;
    dialog.SetInitialDir(folder);
    QTimer::singleShot(200, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(files, nullptr);
        QApplication::processEvents();
        const auto* lookIn = files->findChild<QComboBox*>("lookInCombo");
        ASSERT_NE(lookIn, nullptr);
        EXPECT_EQ(lookIn->currentText().toStdString(), folder);
        EXPECT_TRUE(HasRoomForItsText(*lookIn));
        EXPECT_GE(files->width(), 940 * files->logicalDpiY() / 96);
        // The cast of findChild would take any widget for the pane.
        for (QWidget* child : files->findChildren<QWidget*>())
            if (auto* pane = dynamic_cast<TKVPreviewPane*>(child)) EXPECT_TRUE(LaysOutFully(*pane));
        files->reject();
    });
    EXPECT_FALSE(dialog.Execute());
}
