#include "imaging/view/KVPreviewPane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QToolButton>
#include <set>

#include "TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KestovaView.h"

namespace {

class KVPreviewPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "view_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QApplication(argc, argv);
        ASSERT_EQ(RunTool("convert -size 8x8 xc:red xc:lime xc:blue " + Quoted(scratch.Path("anim.gif"))).status, 0);
        ASSERT_EQ(RunTool("convert -size 30x20 xc:'rgb(0,0,255)' " + Quoted(scratch.Path("one.png"))).status, 0);
        WriteFile(scratch.Path("broken.gif"), "GIF89a and nothing more");
        pane = std::make_unique<TKVPreviewPane>(msEnglish, rfFastLinear, true, nullptr);
        pane->show();
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
    pane->ShowFile(QString::fromStdString(scratch.Path("anim.gif")));
    auto* thumbnails = Child<QListWidget>("KestovaMView");
    EXPECT_TRUE(thumbnails->isVisible());
    EXPECT_FALSE(Child<TKestovaView>("KestovaView")->isVisible());
    ASSERT_EQ(thumbnails->count(), 3);
    EXPECT_EQ(thumbnails->item(2)->text(), "anim.gif::2");
    EXPECT_EQ(Label("PicLabel1"), "8 x 8 pixel , 3 frames");
    EXPECT_TRUE(Child<QToolButton>("PlayButton")->isEnabled());
    EXPECT_TRUE(Child<QToolButton>("PreviewButton")->isEnabled());
    EXPECT_EQ(pane->SelectedFrame(), 0);
    thumbnails->setCurrentRow(2);
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
    pane->ShowFile(QString::fromStdString(scratch.Path("one.png")));
    EXPECT_FALSE(thumbnails->isVisible());
    EXPECT_TRUE(Child<TKestovaView>("KestovaView")->isVisible());
    EXPECT_FALSE(Child<QToolButton>("PlayButton")->isEnabled());
    EXPECT_TRUE(Child<QToolButton>("PreviewButton")->isEnabled());
    EXPECT_EQ(Label("PicLabel1"), "30 x 20 pixel");
    OpenPreviewWindow(caption, colour, width);
    EXPECT_EQ(colour, Blue);
    EXPECT_EQ(width, 30);
}

TEST_F(KVPreviewPaneTest, PlayShowsTheFramesInTurnInThePreview) {
    pane->ShowFile(QString::fromStdString(scratch.Path("anim.gif")));
    auto* play = Child<QToolButton>("PlayButton");
    play->click();
    EXPECT_TRUE(play->isChecked());
    EXPECT_TRUE(Child<TKestovaView>("KestovaView")->isVisible());
    EXPECT_FALSE(Child<QListWidget>("KestovaMView")->isVisible());
    EXPECT_FALSE(Child<QToolButton>("PreviewButton")->isEnabled());
    std::set<uint32_t> seen;
    QElapsedTimer timer;
    timer.start();
    while (seen.size() < 3 && timer.elapsed() < 5000) {
        const TKVRGB c = ShownColour();
        seen.insert(uint32_t(c.r) << 16 | c.g << 8 | c.b);
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(seen, (std::set<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF}));
    play->click();
    EXPECT_TRUE(Child<QListWidget>("KestovaMView")->isVisible());
    EXPECT_FALSE(Child<TKestovaView>("KestovaView")->isVisible());
    EXPECT_TRUE(Child<QToolButton>("PreviewButton")->isEnabled());
}

TEST_F(KVPreviewPaneTest, UnreadableFileEmptiesThePane) {
    pane->ShowFile(QString::fromStdString(scratch.Path("anim.gif")));
    for (const char* name : {"broken.gif", "missing.gif", ""}) {
        pane->ShowFile(name[0] ? QString::fromStdString(scratch.Path(name)) : QString());
        EXPECT_EQ(Label("PicLabel1"), "") << name;
        EXPECT_EQ(Child<QListWidget>("KestovaMView")->count(), 0) << name;
        EXPECT_FALSE(Child<QToolButton>("PlayButton")->isEnabled()) << name;
        EXPECT_FALSE(Child<QToolButton>("PreviewButton")->isEnabled()) << name;
        EXPECT_TRUE(Child<TKestovaView>("KestovaView")->IsBlank()) << name;
    }
}

TEST_F(KVPreviewPaneTest, AlwaysAnimatePlaysAtOnceAndTheBorderStyleRestylesTheView) {
    pane->SetAlwaysAnimate(true);
    EXPECT_FALSE(Child<QToolButton>("PlayButton")->isVisible());
    pane->ShowFile(QString::fromStdString(scratch.Path("anim.gif")));
    EXPECT_TRUE(Child<QToolButton>("PlayButton")->isChecked());
    EXPECT_TRUE(Child<TKestovaView>("KestovaView")->isVisible());
    pane->ShowFile(QString::fromStdString(scratch.Path("one.png")));
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
