#include "QtTestApplication.h"
#include "imaging/view/KVPreviewPane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <set>

#include "LayoutCheck.h"
#include "TestSupport.h"
#include "imaging/acquire/MediaProvider.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KestovaMView.h"
#include "imaging/view/KestovaView.h"

namespace {

class KVPreviewPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
        ASSERT_EQ(RunTool("convert -size 8x8 xc:red xc:lime xc:blue " + Quoted(scratch.Path("anim.gif"))).status, 0);
        ASSERT_EQ(RunTool("convert -size 30x20 xc:'rgb(0,0,255)' " + Quoted(scratch.Path("one.png"))).status, 0);
        WriteFile(scratch.Path("broken.gif"), "GIF89a and nothing more");
        pane = std::make_unique<TKVPreviewPane>(msEnglish, rfFastLinear, true, nullptr);
        pane->show();
    }

    // Shows the file and waits until its pixels have been read in the background.
    void Preview(const std::string& file) {
        pane->ShowFile(file.empty() ? QString() : QString::fromStdString(file));
        WaitForPreview();
    }
    void WaitForPreview() {
        QElapsedTimer timer;
        timer.start();
        while (pane->IsLoading() && timer.elapsed() < 30000) QApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_FALSE(pane->IsLoading());
    }

    template <typename T>
    T* Child(const char* name) {
        return pane->findChild<T*>(name);
    }
    std::string Label(const char* name) { return Child<QLabel>(name)->text().toStdString(); }
    // The colour at the centre of the bitmap the preview view shows.
    TKVRGB ShownColour() {
        TKVBitmap& bitmap = *Child<TKestovaView>("KestovaView")->GetKVBitmap();
        return bitmap.GetPixelRGB(bitmap.GetWidth() / 2, bitmap.GetHeight() / 2);
    }
    // Runs the preview window and reports its caption and the colour and width of its picture.
    void OpenPreviewWindow(QString& caption, TKVRGB& colour, int& width) {
        QTimer::singleShot(50, [&] {
            auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(form, nullptr);
            EXPECT_EQ(form->objectName(), "PreviewForm");
            caption = form->windowTitle();
            TKVBitmap& bitmap = *form->findChild<TKestovaView*>("KestovaView")->GetKVBitmap();
            colour = bitmap.GetPixelRGB(bitmap.GetWidth() / 2, bitmap.GetHeight() / 2);
            width = bitmap.GetWidth();
            form->reject();
        });
        pane->OpenPreviewWindow();
    }

    TScratchFolder scratch;
    std::unique_ptr<TKVPreviewPane> pane;
};

const TKVRGB Red{0, 0, 255}, Lime{0, 255, 0}, Blue{255, 0, 0};

}  // namespace

TEST_F(KVPreviewPaneTest, MultiFrameFileShowsItsFramesToPick) {
    Preview(scratch.Path("anim.gif"));
    auto* thumbnails = Child<TKestovaMView>("KestovaMView");
    EXPECT_TRUE(thumbnails->isVisible());
    EXPECT_FALSE(Child<TKestovaView>("KestovaView")->isVisible());
    ASSERT_EQ(thumbnails->GetImageCount(), 3);
    EXPECT_EQ(thumbnails->GetImageFileName(2), KVFrameName(scratch.Path("anim.gif"), 2));
    EXPECT_EQ(Label("PicLabel1"), "8 x 8 pixel , 3 frames");
    EXPECT_TRUE(Child<QToolButton>("PlayButton")->isEnabled());
    EXPECT_TRUE(Child<QToolButton>("PreviewButton")->isEnabled());
    EXPECT_EQ(pane->SelectedFrame(), 0);
    const TKVCellPlace third = thumbnails->CellOf(2);
    QTest::mouseClick(thumbnails->viewport(), Qt::LeftButton, {},
                      QPoint(third.x - thumbnails->ViewX() + 5, third.y - thumbnails->ViewY() + 5));
    EXPECT_EQ(pane->SelectedFrame(), 2);

    // The preview window shows the picked frame at its own size.
    QString caption;
    TKVRGB colour{};
    int width = 0;
    OpenPreviewWindow(caption, colour, width);
    EXPECT_EQ(caption.toStdString(), scratch.Path("anim.gif"));
    EXPECT_EQ(colour, Blue);
    EXPECT_EQ(width, 8);

    // Another file starts over; a single picture has nothing to play.
    Preview(scratch.Path("one.png"));
    EXPECT_FALSE(thumbnails->isVisible());
    EXPECT_TRUE(Child<TKestovaView>("KestovaView")->isVisible());
    EXPECT_FALSE(Child<QToolButton>("PlayButton")->isEnabled());
    EXPECT_TRUE(Child<QToolButton>("PreviewButton")->isEnabled());
    EXPECT_EQ(Label("PicLabel1"), "30 x 20 pixel");
    OpenPreviewWindow(caption, colour, width);
    EXPECT_EQ(colour, Blue);
    EXPECT_EQ(width, 30);
}

TEST_F(KVPreviewPaneTest, ThePreviewWindowZoomsWithTheMouseAndDragsThePicture) {
    Preview(scratch.Path("one.png"));
    EXPECT_EQ(Child<TKestovaView>("KestovaView")->MouseInteract(), TKVMouseInteract({miScroll}));
    double before = 0, afterClick = 0, afterRightClick = 0;
    QPoint dragged;
    QTimer::singleShot(50, [&] {
        auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        auto* view = form->findChild<TKestovaView*>("KestovaView");
        const QPoint middle = view->viewport()->rect().center();
        before = view->Zoom();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, middle);
        afterClick = view->Zoom();
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, middle);
        afterRightClick = view->Zoom();
        for (int i = 0; i < 20 && !view->CanScroll(); ++i) QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, middle);
        const QPoint origin(view->OriginX(), view->OriginY());
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, middle);
        QTest::mouseMove(view->viewport(), middle - QPoint(10, 6));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, middle - QPoint(10, 6));
        dragged = QPoint(view->OriginX(), view->OriginY()) - origin;
        form->reject();
    });
    pane->OpenPreviewWindow();
    EXPECT_GT(afterClick, before);
    EXPECT_EQ(afterRightClick, before);
    EXPECT_EQ(dragged.x(), 10);  // the picture follows the pointer where it is wider than the window
}

TEST_F(KVPreviewPaneTest, PlayShowsTheFramesInTurnFillingTheThumbnailView) {
    Preview(scratch.Path("anim.gif"));
    auto* play = Child<QToolButton>("PlayButton");
    auto* thumbnails = Child<TKestovaMView>("KestovaMView");
    play->click();
    EXPECT_TRUE(play->isChecked());
    EXPECT_TRUE(thumbnails->Playing());
    EXPECT_FALSE(Child<TKestovaView>("KestovaView")->isVisible());
    EXPECT_FALSE(Child<QToolButton>("PreviewButton")->isEnabled());
    EXPECT_EQ(thumbnails->ThumbWidth(), thumbnails->width() - 2 * thumbnails->frameWidth());
    EXPECT_EQ(thumbnails->HorizBorder(), 0);
    std::set<uint32_t> seen;
    for (int step = 0; step < 3; ++step) {
        const QImage shown = thumbnails->Render();
        seen.insert(shown.pixel(shown.width() / 2, shown.height() / 2) & 0xFFFFFF);
        thumbnails->PlayStep();
    }
    EXPECT_EQ(seen, (std::set<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF}));
    play->click();
    EXPECT_FALSE(thumbnails->Playing());
    EXPECT_EQ(thumbnails->ThumbWidth(), 100);
    EXPECT_TRUE(thumbnails->isVisible());
    EXPECT_TRUE(Child<QToolButton>("PreviewButton")->isEnabled());
}

TEST_F(KVPreviewPaneTest, UnreadableFileEmptiesThePane) {
    Preview(scratch.Path("anim.gif"));
    for (const char* name : {"broken.gif", "missing.gif", ""}) {
        Preview(name[0] ? scratch.Path(name) : "");
        EXPECT_EQ(Label("PicLabel1"), "") << name;
        EXPECT_EQ(Child<TKestovaMView>("KestovaMView")->GetImageCount(), 0) << name;
        EXPECT_FALSE(Child<QToolButton>("PlayButton")->isEnabled()) << name;
        EXPECT_FALSE(Child<QToolButton>("PreviewButton")->isEnabled()) << name;
        EXPECT_TRUE(Child<TKestovaView>("KestovaView")->IsBlank()) << name;
    }
}

TEST_F(KVPreviewPaneTest, AlwaysAnimatePlaysAtOnceAndTheBorderStyleRestylesTheView) {
    pane->SetAlwaysAnimate(true);
    EXPECT_FALSE(Child<QToolButton>("PlayButton")->isVisible());
    Preview(scratch.Path("anim.gif"));
    EXPECT_TRUE(Child<QToolButton>("PlayButton")->isChecked());
    EXPECT_TRUE(Child<TKestovaMView>("KestovaMView")->Playing());
    Preview(scratch.Path("one.png"));
    EXPECT_FALSE(Child<QToolButton>("PlayButton")->isChecked());

    auto* view = Child<TKestovaView>("KestovaView");
    struct Case {
        TKVDBorderStyle style;
        TKVBackgroundStyle background;
        QFrame::Shape frame;
    } cases[] = {{kvpsCropped, kvbsCropped, QFrame::NoFrame},
                 {kvpsCropShadow, kvbsCropShadow, QFrame::NoFrame},
                 {kvpsDefault, kvbsSolid, QFrame::StyledPanel}};
    EXPECT_EQ(view->BackgroundStyle(), kvbsChessboard);  // until a style is set
    for (const Case& c : cases) {
        pane->SetBorderStyle(c.style);
        EXPECT_EQ(view->BackgroundStyle(), c.background) << c.style;
        EXPECT_EQ(view->frameShape(), c.frame) << c.style;
    }
}

TEST_F(KVPreviewPaneTest, ProgressBarRunsAcrossTheShownViewWhileAFileLoads) {
    ASSERT_EQ(RunTool("convert -size 30x40 xc:red " + Quoted(scratch.Path("one.bmp"))).status, 0);
    auto* bar = Child<QProgressBar>("ProgressBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isHidden());
    struct Step {
        int value;
        bool shown;
        QString on;
    };
    std::vector<Step> steps;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
        steps.push_back({value, !bar->isHidden(), bar->parentWidget()->objectName()});
    });
    struct Case {
        const char* file;
        const char* on;
    } cases[] = {{"one.bmp", "KestovaView"}, {"anim.gif", "KestovaMView"}};
    for (const Case& c : cases) {
        steps.clear();
        Preview(scratch.Path(c.file));
        ASSERT_GE(steps.size(), 3u) << c.file;
        EXPECT_EQ(steps.front().value, 0) << c.file;
        EXPECT_EQ(steps.back().value, 100) << c.file;
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_TRUE(steps[i].shown) << c.file << " step " << i;
            EXPECT_EQ(steps[i].on, c.on) << c.file << " step " << i;
            if (i > 0) EXPECT_GE(steps[i].value, steps[i - 1].value) << c.file << " step " << i;
        }
        // Every frame adds its share: no frame's own end reads as the whole file done.
        EXPECT_EQ(std::count_if(steps.begin(), steps.end() - 1, [](const Step& s) { return s.value == 100; }), 0)
            << c.file;
        EXPECT_TRUE(bar->isHidden()) << c.file;
    }

    // Frames played after the load, and a file that fails, leave the bar hidden.
    Child<QToolButton>("PlayButton")->click();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 300) QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(bar->isHidden());
    Preview(scratch.Path("broken.gif"));
    EXPECT_TRUE(bar->isHidden());
}

TEST_F(KVPreviewPaneTest, UntickingPreviewEmptiesThePaneUntilItIsTickedAgain) {
    auto* check = Child<QCheckBox>("PreviewCheck");
    auto* view = Child<TKestovaView>("KestovaView");
    auto* thumbnails = Child<TKestovaMView>("KestovaMView");
    auto* zoom = Child<QComboBox>("ZoomCombo");
    auto* play = Child<QToolButton>("PlayButton");
    for (const char* file : {"one.png", "anim.gif"}) {
        Preview(scratch.Path(file));
        if (thumbnails->isVisible()) play->click();
        check->click();
        for (const char* label : {"PicLabel1", "PicLabel2", "PicLabel3", "InfoLabel1", "InfoLabel2"})
            EXPECT_EQ(Label(label), "") << file << " " << label;
        EXPECT_TRUE(view->IsBlank()) << file;
        EXPECT_TRUE(view->isVisible()) << file;
        EXPECT_EQ(view->Zoom(), 100) << file;
        EXPECT_FALSE(view->AutoFit()) << file;
        EXPECT_EQ(thumbnails->GetImageCount(), 0) << file;
        EXPECT_FALSE(thumbnails->isVisible()) << file;
        EXPECT_FALSE(play->isChecked()) << file;
        EXPECT_FALSE(Child<QToolButton>("PreviewButton")->isEnabled()) << file;
        EXPECT_FALSE(zoom->isEnabled()) << file;

        // Without preview another selection shows only the file's information.
        Preview(scratch.Path("one.png"));
        EXPECT_EQ(Label("PicLabel1"), "30 x 20 pixel") << file;
        EXPECT_TRUE(view->IsBlank()) << file;
        EXPECT_FALSE(zoom->isEnabled()) << file;

        // Ticking again previews the selection at the chosen zoom.
        check->click();
        WaitForPreview();
        EXPECT_FALSE(view->IsBlank()) << file;
        EXPECT_TRUE(zoom->isEnabled()) << file;
        EXPECT_TRUE(view->AutoFit()) << file;
        EXPECT_TRUE(Child<QToolButton>("PreviewButton")->isEnabled()) << file;
    }
}

// The size, colours and resolution shown are those the file holds, as ImageMagick reads them.
TEST_F(KVPreviewPaneTest, InformationTellsWhatImageMagickReadsInTheFile) {
    struct Case {
        const char* file;
        const char* make;  // ImageMagick's options and picture
        const char* identified;  // what identify finds: depth, channels, resolution
        const char* colours;
        const char* resolution;
    } cases[] = {
        {"t72.tif", "-size 30x20 xc:red -depth 8 -units PixelsPerInch -density 72x144", "8 srgb 72x144", "16777216 Colors (24 bit)",
         "72 x 144 dpi"},
        {"j72.jpg", "-size 30x20 xc:red -units PixelsPerInch -density 72x96", "8 srgb 72x96", "16777216 Colors (24 bit)",
         "72 x 96 dpi"},
        {"gray.png", "-size 30x20 gradient: -depth 8", "8 gray", "256 Colors (8 bit)", nullptr},
        {"rgba16.png", "-size 30x20 gradient:red-blue -alpha set -channel A -evaluate set 50% +channel -depth 16",
         "16 srgba", "2^64 Colors (64 bit)", nullptr},
    };
    for (const Case& c : cases) {
        const std::string path = scratch.Path(c.file);
        ASSERT_EQ(RunTool("convert " + std::string(c.make) + " " + Quoted(path)).status, 0) << c.file;
        const std::string format = c.resolution ? "%z %[channels] %xx%y" : "%z %[channels]";
        EXPECT_EQ(RunTool("identify -format '" + format + "' " + Quoted(path)).output, c.identified) << c.file;
        Preview(path);
        EXPECT_EQ(Label("PicLabel1"), "30 x 20 pixel") << c.file;
        EXPECT_EQ(Label("PicLabel2"), c.colours) << c.file;
        if (c.resolution) EXPECT_EQ(Label("PicLabel3"), c.resolution) << c.file;
    }
}

// The call comes back before the pixels are read, so the dialog goes on taking keys; a file
// chosen meanwhile replaces the one still being read, which then never shows.
TEST_F(KVPreviewPaneTest, PicturesLoadInTheBackgroundAndOnlyTheLatestShows) {
    const std::string big = scratch.Path("big.bmp");
    ASSERT_EQ(RunTool("convert -size 3000x3000 xc:lime " + Quoted(big)).status, 0);
    auto* view = Child<TKestovaView>("KestovaView");
    pane->ShowFile(QString::fromStdString(big));
    EXPECT_TRUE(pane->IsLoading());
    EXPECT_TRUE(view->IsBlank());
    EXPECT_EQ(Label("PicLabel1"), "");

    std::vector<std::string> shown;
    pane->ShowFile(QString::fromStdString(big));  // chosen again: the first request is dropped
    Preview(scratch.Path("one.png"));
    EXPECT_EQ(Label("PicLabel1"), "30 x 20 pixel");
    EXPECT_EQ(ShownColour(), Blue);
    // Whatever the dropped loads still deliver is not shown.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 500) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        shown.push_back(Label("PicLabel1"));
    }
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "30 x 20 pixel"), long(shown.size()));
    EXPECT_EQ(ShownColour(), Blue);

    Preview(big);
    EXPECT_EQ(Label("PicLabel1"), "3000 x 3000 pixel");
    EXPECT_EQ(ShownColour(), Lime);
}

// A video, of a single frame too, tells its size and frame count as a multi-page file does, read
// through the video itself.
TEST_F(KVPreviewPaneTest, PagesAnimationsAndVideosShowTheirFramesInTheThumbnailView) {
    const std::string tiff = scratch.Path("pages.tif"), video = scratch.Path("clip.avi"), mpeg = scratch.Path("clip.mpg"),
                      still = scratch.Path("still.mpeg");
    ASSERT_EQ(RunTool("convert -size 40x30 xc:red xc:orange xc:yellow xc:lime xc:green xc:cyan xc:blue xc:navy "
                      "xc:purple xc:magenta " + Quoted(tiff)).status, 0);
    ASSERT_EQ(RunTool("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 10 -c:v mjpeg " +
                      Quoted(video)).status, 0);
    ASSERT_EQ(RunTool("ffmpeg -v error -f lavfi -i testsrc=size=80x64:rate=25 -frames:v 12 -c:v mpeg1video " +
                      Quoted(mpeg)).status, 0);
    ASSERT_EQ(RunTool("ffmpeg -v error -f lavfi -i testsrc=size=48x32:rate=25 -frames:v 1 -c:v mpeg1video " +
                      Quoted(still)).status, 0);
    struct Case {
        std::string file;
        int frames;
        const char* screenshot;
        const char *pic1, *pic2, *info1;
    } cases[] = {
        {tiff, 10, "OpenDialogFramesTiff", "40 x 30 pixel , 10 frames", "2^48 Colors (48 bit)",
         "TIFF Bitmap (TIF) Uncompressed"},
        {scratch.Path("anim.gif"), 3, "OpenDialogFramesGif", "8 x 8 pixel , 3 frames", nullptr, nullptr},
        {video, 10, "OpenDialogFramesVideo", "64 x 48 pixel , 10 frames", "16777216 Colors (24 bit)",
         "Video for Windows (AVI)"},
        {mpeg, 12, nullptr, "80 x 64 pixel , 12 frames", "16777216 Colors (24 bit)", "Mpeg (MPEG)"},
        {still, 1, nullptr, "48 x 32 pixel", "16777216 Colors (24 bit)", "Mpeg (MPEG)"},
    };
    InstallMediaProvider();
    auto* thumbnails = Child<TKestovaMView>("KestovaMView");
    for (const Case& c : cases) {
        Preview(c.file);
        ASSERT_EQ(thumbnails->GetImageCount(), c.frames) << c.file;
        EXPECT_TRUE(thumbnails->isVisible());
        EXPECT_EQ(Label("PicLabel1"), c.pic1) << c.file;
        if (c.pic2) EXPECT_EQ(Label("PicLabel2"), c.pic2) << c.file;
        if (c.info1) EXPECT_EQ(Label("InfoLabel1"), c.info1) << c.file;
        if (c.screenshot) EXPECT_TRUE(LooksLikeReference(*pane, c.screenshot));
        EXPECT_TRUE(thumbnails->HasPicture(0)) << c.file;  // read as it was drawn
    }
}

// The information's longest texts have their room at every resolution.
TEST_F(KVPreviewPaneTest, LaysOutAPicturesInformationWhole) {
    const std::string big = scratch.Path("big.jpg");
    ASSERT_EQ(RunTool("convert -size 6000x4000 xc:red " + Quoted(big)).status, 0);
    Preview(big);
    ASSERT_EQ(Label("PicLabel1"), "6000 x 4000 pixel");
    ASSERT_EQ(Label("PicLabel2"), "16777216 Colors (24 bit)");
    EXPECT_TRUE(LaysOutFully(*pane));
}
