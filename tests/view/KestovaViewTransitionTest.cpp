// The image view with its transition engine: the engine's frames take the picture's place while
// it runs, and a blank picture or a new size stops it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include "TransitionFixtures.h"
#include "QtTestApplication.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KVTransitionEffects.h"
#include "imaging/view/KestovaView.h"

namespace {

constexpr TBgr From{10, 100, 200}, To{250, 50, 0};
constexpr TColor Picture = RGB(0, 200, 0);

class KestovaViewTransitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.resize(120, 90);
        view.GetKVBitmap()->Allocate(60, 40, kv24RGB);
        view.GetKVBitmap()->Fill(Picture);
        view.show();
        view.Update();
        QApplication::processEvents();
    }
    QImage Grab() {
        QApplication::processEvents();
        return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    void StartLong() {
        view.TransitionEffects().Start(SolidFrame(300, 300, From), SolidFrame(300, 300, To), kvttLeftRight1, 600000,
                                       false);
    }

    // The application comes before the view, which needs it.
    bool applicationMade = (EnsureTestApplication<QApplication>(), true);
    TKestovaView view;
};

QRgb Rgb(TBgr bgr) { return qRgb(bgr[2], bgr[1], bgr[0]); }

TEST_F(KestovaViewTransitionTest, TheEnginesFramesReplaceThePictureWhileItRuns) {
    StartLong();
    ASSERT_TRUE(view.TransitionEffects().Running());
    view.TransitionEffects().Tick();
    const QImage shown = Grab();
    EXPECT_EQ(view.TransitionEffects().CurrentFrame().Width(), view.ViewWidth());
    for (const QPoint p : {QPoint(0, 0), QPoint(shown.width() - 1, shown.height() - 1), QPoint(30, 20)})
        EXPECT_EQ(shown.pixel(p), Rgb(From)) << p.x() << ", " << p.y();
}

TEST_F(KestovaViewTransitionTest, BlankStopsTheTransition) {
    StartLong();
    view.TransitionEffects().Tick();
    view.Blank();
    EXPECT_FALSE(view.TransitionEffects().Running());
    const QImage shown = Grab();
    EXPECT_NE(shown.pixel(30, 20), Rgb(From));
}

TEST_F(KestovaViewTransitionTest, ResizingStopsTheTransition) {
    StartLong();
    view.TransitionEffects().Tick();
    view.resize(150, 100);
    QApplication::processEvents();
    EXPECT_FALSE(view.TransitionEffects().Running());
    const QImage shown = Grab();
    EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2), qRgb(0, 200, 0));
}

// On the view's own 1 ms timer; the wait is bounded, the timing itself is tested with a set clock.
TEST_F(KestovaViewTransitionTest, TheTimerRunsItToTheEnd) {
    view.TransitionEffects().Start(SolidFrame(300, 300, From), SolidFrame(300, 300, To), kvttCrossDissolve, 20, true);
    QElapsedTimer waited;
    waited.start();
    while (view.TransitionEffects().Running() && waited.elapsed() < 10000) QApplication::processEvents();
    EXPECT_FALSE(view.TransitionEffects().Running());
    EXPECT_GE(view.TransitionEffects().TickCount(), 1);
    const QImage shown = Grab();
    EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2), qRgb(0, 200, 0));
}

}  // namespace
