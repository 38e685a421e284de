// The image view's mouse, key and drawing events, raised by input as a person gives it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <string>
#include <vector>

#include "PointerEnterLeave.h"
#include "QtTestApplication.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KestovaView.h"

namespace {

class KestovaViewEventsTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication<QApplication>(); }
};

std::string KeyName(int key) { return QKeySequence(key).toString().toStdString(); }

// A dialog holding a view with a picture larger than itself, and an edit box to take the focus.
struct TKeyFixture {
    TKeyFixture() : view(new TKestovaView(&dialog)), edit(new QLineEdit(&dialog)) {
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(view);
        layout->addWidget(edit);
        view->setFixedSize(120, 100);
        view->GetKVBitmap()->Allocate(400, 400, kv24RGB);
        view->Update();
        view->OnKeyDown = [this](int key, Qt::KeyboardModifiers) { log.push_back("down " + KeyName(key)); };
        view->OnKeyUp = [this](int key, Qt::KeyboardModifiers) { log.push_back("up " + KeyName(key)); };
        view->OnKeyPress = [this](const QString& text) { log.push_back("press " + text.toStdString()); };
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        view->setFocus();
        QApplication::processEvents();
    }
    QDialog dialog;
    TKestovaView* view;
    QLineEdit* edit;
    std::vector<std::string> log;
};

}  // namespace

TEST_F(KestovaViewEventsTest, MouseEnterAndLeaveFollowThePointer) {
    EXPECT_EQ(PointerEnterLeaveEvents<TKestovaView>(), (std::vector<std::string>{"enter", "leave", "enter"}));
}

TEST_F(KestovaViewEventsTest, KeysReachTheirEventsAndNavigationKeysStayWithTheView) {
    TKeyFixture f;
    QTest::keyClick(f.view, Qt::Key_A);
    QTest::keyClick(f.view, Qt::Key_Right);
    QTest::keyClick(f.view, Qt::Key_PageDown);
    EXPECT_EQ(f.log, (std::vector<std::string>{"down A", "press a", "up A", "down Right", "up Right", "down PgDown",
                                               "up PgDown"}));
    // They neither scroll nor move the focus: what they do is the handlers' choice.
    EXPECT_EQ(f.view->OriginX(), 0);
    EXPECT_EQ(f.view->OriginY(), 0);
    EXPECT_TRUE(f.view->hasFocus());

    // A held key repeats its press, not its release.
    f.log.clear();
    for (bool repeat : {false, true, true}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "b", repeat);
        QApplication::sendEvent(f.view, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_B, Qt::NoModifier, "b", repeat);
        if (repeat) QApplication::sendEvent(f.view, &release);
    }
    QTest::keyRelease(f.view, Qt::Key_B);
    EXPECT_EQ(f.log, (std::vector<std::string>{"down B", "press b", "down B", "press b", "down B", "press b", "up B"}));

    // Tab leaves the view, and Escape closes the dialog around it.
    f.log.clear();
    QTest::keyClick(f.view, Qt::Key_Tab);
    EXPECT_TRUE(f.edit->hasFocus());
    f.view->setFocus();
    QTest::keyClick(f.view, Qt::Key_Escape);
    EXPECT_FALSE(f.dialog.isVisible());
}

// A handled key goes nowhere else: no other event of the view, no focus move, no closed dialog;
// its release still comes to the view, which keeps the focus.
TEST_F(KestovaViewEventsTest, AHandledSpecialKeyGoesNoFurther) {
    const struct {
        Qt::Key key;
        std::vector<std::string> log;
    } cases[] = {
        {Qt::Key_Tab, {"special Tab", "up Tab"}},
        {Qt::Key_Escape, {"special Esc", "up Esc"}},
        {Qt::Key_C, {"special C", "up C"}},
        {Qt::Key_Left, {"special Left", "up Left"}},
    };
    for (const auto& c : cases) {
        TKeyFixture f;
        f.view->OnSpecialKey = [&](int key, bool& handled) {
            f.log.push_back("special " + KeyName(key));
            handled = true;
        };
        QTest::keyClick(f.view, c.key);
        EXPECT_EQ(f.log, c.log) << KeyName(c.key);
        EXPECT_TRUE(f.view->hasFocus()) << KeyName(c.key);
        EXPECT_TRUE(f.dialog.isVisible()) << KeyName(c.key);
    }
    // Unhandled, the key goes on as usual.
    TKeyFixture f;
    f.view->OnSpecialKey = [&](int key, bool&) { f.log.push_back("special " + KeyName(key)); };
    QTest::keyClick(f.view, Qt::Key_D);
    EXPECT_EQ(f.log, (std::vector<std::string>{"special D", "down D", "press d", "up D"}));
}

// The canvas event draws over the picture and under the selection's border, on the client area;
// a transition's frames go without it.
TEST_F(KestovaViewEventsTest, DrawCanvasPaintsOverThePictureUnderTheSelection) {
    TKestovaView view;
    view.resize(100, 80);
    view.SetBackground(clWhite);
    view.GetKVBitmap()->Allocate(40, 40, kv24RGB);
    view.GetKVBitmap()->Fill(clWhite);
    view.Update();
    std::vector<QRect> rects;
    view.OnDrawCanvas = [&](QPainter& canvas, const QRect& rect) {
        rects.push_back(rect);
        canvas.fillRect(rect, Qt::blue);
    };
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QImage shown = view.viewport()->grab().toImage();
    ASSERT_FALSE(rects.empty());
    EXPECT_EQ(rects.back(), view.viewport()->rect());
    EXPECT_EQ(shown.pixelColor(50, 40), QColor(Qt::blue));

    view.AddSelectionRect(view.BitmapToClientX(10), view.BitmapToClientY(10), view.BitmapToClientX(30),
                          view.BitmapToClientY(30), false);
    shown = view.viewport()->grab().toImage();
    const int left = view.BitmapToClientX(10), middle = view.BitmapToClientY(20);
    EXPECT_NE(shown.pixelColor(left, middle), QColor(Qt::blue));  // the border
    EXPECT_EQ(shown.pixelColor(left + 5, middle), QColor(Qt::blue));

    rects.clear();
    view.LockPaint();
    view.viewport()->grab();
    view.UnlockPaintNoUpdate();
    EXPECT_TRUE(rects.empty());
}

// The kind of scroll bar changes nothing that the user sees here: the bars still scroll.
TEST_F(KestovaViewEventsTest, FlatScrollBarsAreKeptAsASetting) {
    TKestovaView view;
    view.resize(100, 80);
    view.GetKVBitmap()->Allocate(400, 300, kv24RGB);
    view.Update();
    EXPECT_FALSE(view.FlatScrollBars());
    view.SetFlatScrollBars(true);
    EXPECT_TRUE(view.FlatScrollBars());
    view.show();
    QApplication::processEvents();
    ASSERT_TRUE(view.horizontalScrollBar()->isVisible());
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
    int maxX, maxY;
    view.GetMaxOrigin(maxX, maxY);
    EXPECT_EQ(view.OriginX(), maxX);
    view.SetFlatScrollBars(false);
    EXPECT_FALSE(view.FlatScrollBars());
    EXPECT_TRUE(view.verticalScrollBar()->isVisible());
}

// A wheel zoom is offered to OnZoomIn or OnZoomOut, which may change it.
TEST_F(KestovaViewEventsTest, WheelZoomGoesThroughTheZoomEvents) {
    TKestovaView view;
    view.resize(200, 150);
    view.GetKVBitmap()->Allocate(20, 20, kv24RGB);
    view.SetZoom(1000);
    std::vector<std::string> log;
    view.OnZoomIn = [&](double& zoom) { log.push_back("in " + std::to_string(int(zoom))); };
    view.OnZoomOut = [&](double& zoom) {
        log.push_back("out " + std::to_string(int(zoom)));
        zoom = 500;
    };
    const auto turn = [&](int delta) {
        QWheelEvent event(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &event);
    };
    turn(120);
    EXPECT_DOUBLE_EQ(view.Zoom(), 500);
    turn(-120);
    EXPECT_DOUBLE_EQ(view.Zoom(), 540);
    EXPECT_EQ(log, (std::vector<std::string>{"out 920", "in 540"}));
}
