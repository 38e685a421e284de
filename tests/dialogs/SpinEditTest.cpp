#include "tzlib/qt/SpinEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include "DialogTestSupport.h"
#include "tzlib/SystemHelpers.h"

namespace {

struct TSpinEditFixture : ::testing::Test {
    TSpinEditFixture() {
        edit = new TTzSpinEdit(&window);
        edit->OnChange = [this] { ++changes; };
        edit->OnSpin = [this] { ++spins; };
    }
    TDialogApplication application;
    QWidget window;
    TTzSpinEdit* edit;
    int changes = 0;
    int spins = 0;
    void ShowActive() {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
};

TEST_F(TSpinEditFixture, SetValueClampsAndShowsTheValue) {
    struct Case {
        double min, max, x, expected;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, -5, 0, "0"},           // the default minimum refuses negatives
        {0, 0, 1e9, 1e9, "1000000000"},  // no maximum while it is 0
        {1, 7, 9, 7, "7"},
        {1, 7, 0, 1, "1"},
        {-3, 0, -2, -2, "-2"},
        {2, 10, 4.6, 4.6, "5"},  // shown with the format "0"
    };
    for (const Case& c : cases) {
        edit->SetMinValue(c.min);
        edit->SetMaxValue(c.max);
        edit->SetValue(c.x);
        EXPECT_EQ(edit->Value(), c.expected) << c.x;
        EXPECT_EQ(edit->text().toStdString(), c.text) << c.x;
    }
}

TEST_F(TSpinEditFixture, ChangeEventOnlyForRealChangesAndNotWhenSilent) {
    edit->SetValue(3);
    EXPECT_EQ(changes, 1);
    edit->SetValue(3);
    EXPECT_EQ(changes, 1);
    edit->SetValueSilent(4);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(edit->text(), "4");
    EXPECT_TRUE(edit->isModified());
}

TEST_F(TSpinEditFixture, GetAsIntegerTruncatesTowardZero) {
    edit->SetMinValue(-10);
    for (auto [x, expected] : {std::pair{2.9, 2}, {-2.9, -2}, {0.4, 0}, {7.0, 7}}) {
        edit->SetValue(x);
        EXPECT_EQ(edit->GetAsInteger(), expected) << x;
    }
}

TEST_F(TSpinEditFixture, TypingSetsTheValueUnclampedUntilTheEditIsLeft) {
    QLineEdit* other = new QLineEdit(&window);
    ShowActive();
    edit->setFocus();
    QTest::keyClicks(edit, "-12");
    EXPECT_EQ(edit->Value(), -12);
    EXPECT_GE(changes, 1);
    other->setFocus();  // leaving clamps to the minimum 0
    EXPECT_EQ(edit->Value(), 0);
    EXPECT_EQ(edit->text(), "0");

    edit->setFocus();
    edit->setText("1-2");  // not a number: 0 until left
    EXPECT_EQ(edit->Value(), 0);
    edit->DisplayZeroAsBlank = true;
    other->setFocus();
    EXPECT_EQ(edit->text(), "");
}

TEST_F(TSpinEditFixture, KeyFilterAcceptsDigitsAndTheDecimalSeparatorOnlyWithAFormat) {
    ShowActive();
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, "1a2.5");
    EXPECT_EQ(edit->text(), "125");
    edit->SetFormat("0.0");
    edit->clear();
    QTest::keyClicks(edit, "1.5");  // the C locale's separator under the test
    EXPECT_EQ(edit->text(), "1.5");
    EXPECT_EQ(edit->Value(), 1.5);
}

TEST_F(TSpinEditFixture, ASmallChangeWhileFocusedKeepsTheTypedText) {
    ShowActive();
    edit->SetFormat("0.00");
    edit->setFocus();
    edit->setText("2.5");
    edit->SetValue(2.53);
    EXPECT_EQ(edit->text(), "2.5");
    edit->SetValue(2.6);
    EXPECT_EQ(edit->text(), "2.60");
}

TEST_F(TSpinEditFixture, SpinningStepsWithinTheLimits) {
    ShowActive();
    edit->SetMinValue(1);
    edit->SetMaxValue(3);
    edit->Step = 1;
    edit->SetValue(1);
    changes = 0;
    for (int i = 0; i < 4; ++i) edit->SpinButton()->ClickUp();
    EXPECT_EQ(edit->Value(), 3);
    EXPECT_EQ(spins, 4);
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(edit->selectedText(), "3");
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->Value(), 2);
    edit->Step = 0.5;
    QTest::mouseClick(edit->SpinButton()->DownButton(), Qt::LeftButton);
    EXPECT_EQ(edit->Value(), 1.5);
    SaveScreenshot(window, "SpinEdit");
}

TEST_F(TSpinEditFixture, AHeldButtonRepeatsAfter400ThenEvery100Milliseconds) {
    ShowActive();
    edit->SetValue(0);
    TTimerSpeedButton* up = edit->SpinButton()->UpButton();
    QTest::mousePress(up, Qt::LeftButton);
    EXPECT_EQ(up->RepeatInterval(), 400);
    EXPECT_EQ(edit->Value(), 0);  // a press alone does not click
    up->RepeatTick();             // the clock reaches 400 ms
    EXPECT_EQ(up->RepeatInterval(), 100);
    up->RepeatTick();
    EXPECT_EQ(edit->Value(), 2);
    QTest::mouseRelease(up, Qt::LeftButton);
    EXPECT_EQ(up->RepeatInterval(), 0);
    EXPECT_EQ(edit->Value(), 3);  // the release completes the click
}

TEST_F(TSpinEditFixture, SizesAreScaledFrom96DpiAndTheButtonsKeepToTheRightEdge) {
    window.show();
    // 21 pixels high at 96 dpi, or as high as the font needs.
    const int height = std::max(ScaleToScreenDpi(21), QLineEdit().sizeHint().height());
    EXPECT_EQ(edit->size(), QSize(ScaleToScreenDpi(77), height));
    edit->resize(120, 40);  // the height stays fixed
    QApplication::processEvents();
    EXPECT_EQ(edit->height(), height);
    EXPECT_EQ(edit->SpinButton()->geometry(),
              QRect(120 - ScaleToScreenDpi(16) - 3, 0, ScaleToScreenDpi(16), height - ScaleToScreenDpi(3)));
}

TEST(TSpinButton, LayoutSplitsTheHeightWithOneSharedPixel) {
    EnsureDialogApplication();
    TSpinButton spin;
    spin.show();
    EXPECT_EQ(spin.size(), QSize(20, 25));
    EXPECT_EQ(spin.UpButton()->geometry(), QRect(0, 0, 20, 12));
    EXPECT_EQ(spin.DownButton()->geometry(), QRect(0, 11, 20, 14));
    spin.resize(10, 30);
    QApplication::processEvents();
    EXPECT_EQ(spin.width(), 15);
    EXPECT_EQ(spin.UpButton()->geometry(), QRect(0, 0, 15, 15));
    EXPECT_EQ(spin.DownButton()->geometry(), QRect(0, 14, 15, 16));
    int ups = 0, downs = 0;
    spin.OnUpClick = [&] { ++ups; };
    spin.OnDownClick = [&] { ++downs; };
    QTest::keyClick(&spin, Qt::Key_Down);
    QTest::keyClick(&spin, Qt::Key_Space);  // the down button is now the focused one
    QTest::keyClick(&spin, Qt::Key_Up);
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(downs, 2);
    EXPECT_EQ(spin.FocusedButton(), spin.UpButton());
}

}  // namespace

namespace {

TEST(TSpinButton, APressHandsTheFocusToTheFocusControlOrTheSpin) {
    TDialogApplication application;
    enum Holder { Other, Spin, Target };
    struct Case {
        bool spinTabStop, targetSet, targetTabStop;
        Holder focusedFirst, expected;
        bool downFocused;  // the pressed button became the focused one
    };
    // The spin button only takes the focus as a tab stop, and a focus control that already
    // has the focus keeps it.
    const Case cases[] = {
        {false, false, true, Other, Other, false},
        {true, false, true, Other, Spin, true},
        {false, true, true, Other, Target, false},
        {true, true, false, Other, Spin, true},
        {true, true, true, Target, Target, true},
    };
    for (const Case& c : cases) {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* spin = new TSpinButton;
        auto* target = new QLineEdit;
        auto* other = new QLineEdit;
        QWidget* const holders[] = {other, spin, target};
        for (QWidget* widget : holders) layout->addWidget(widget);
        spin->setFocusPolicy(c.spinTabStop ? Qt::StrongFocus : Qt::NoFocus);
        target->setFocusPolicy(c.targetTabStop ? Qt::StrongFocus : Qt::ClickFocus);
        if (c.targetSet) spin->FocusControl = target;
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        holders[c.focusedFirst]->setFocus();
        QTest::mousePress(spin->DownButton(), Qt::LeftButton);
        QTest::mouseRelease(spin->DownButton(), Qt::LeftButton);
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(QApplication::focusWidget(), holders[c.expected]);
        EXPECT_EQ(spin->FocusedButton() == spin->DownButton(), c.downFocused);
    }
}

TEST(TSpinButton, AFocusControlThatGoesClearsTheProperty) {
    EnsureDialogApplication();
    TSpinButton spin;
    auto* target = new QLineEdit;
    spin.FocusControl = target;
    delete target;
    EXPECT_EQ(spin.FocusControl, nullptr);
    QTest::mouseClick(spin.UpButton(), Qt::LeftButton);  // no dangling focus target
}

}  // namespace
