#include "tzlib/qt/Controls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "../TestSupport.h"
#include "QtTestSupport.h"

namespace {

struct TQtApplication {
    TQtApplication() { EnsureQApplication(); }
};

struct TRadioGroup {
    TRadioGroup() {
        for (int i = 0; i < 3; ++i) {
            buttons[i] = new QRadioButton(&parent);
            QObject::connect(buttons[i], &QRadioButton::clicked, [this, i] { ++clicks[i]; });
            QObject::connect(buttons[i], &QRadioButton::toggled, [this] { ++toggles; });
        }
    }
    TQtApplication application;
    QWidget parent;
    QRadioButton* buttons[3];
    int clicks[3] = {};
    int toggles = 0;
};

TEST(Controls, RadioIndexSetSilentlyOrWithClicks) {
    TRadioGroup group;
    SetRadioIndexSilent(group.buttons, 1);
    EXPECT_EQ(GetRadioIndex(group.buttons), 1);
    SetRadioIndexSilent(group.buttons, 2);
    EXPECT_EQ(GetRadioIndex(group.buttons), 2);
    EXPECT_FALSE(group.buttons[1]->isChecked());
    SetRadioIndexSilent(group.buttons, -1);  // even an exclusive group can end up with none
    EXPECT_EQ(GetRadioIndex(group.buttons), -1);
    EXPECT_EQ(group.toggles, 0);
    EXPECT_EQ(group.clicks[0] + group.clicks[1] + group.clicks[2], 0);

    SetRadioIndex(group.buttons, 0);
    EXPECT_EQ(GetRadioIndex(group.buttons), 0);
    EXPECT_EQ(group.clicks[0], 1);
    EXPECT_EQ(group.clicks[1] + group.clicks[2], 0);
    EXPECT_EQ(group.toggles, 0);

    QRadioButton* const withGap[] = {group.buttons[0], nullptr, group.buttons[2]};
    SetRadioIndexSilent(withGap, 2);
    EXPECT_EQ(GetRadioIndex(withGap), 2);
    SetRadioIndexSilent(withGap, 1);  // the missing one: nothing checked
    EXPECT_EQ(GetRadioIndex(withGap), -1);
}

TEST(Controls, CheckBoxesAndEditsChangeWithoutSignals) {
    EnsureQApplication();
    QCheckBox box;
    QLineEdit edit;
    QToolButton tool;
    tool.setCheckable(true);
    int emitted = 0;
    QObject::connect(&box, &QCheckBox::toggled, [&] { ++emitted; });
    QObject::connect(&box, &QCheckBox::stateChanged, [&] { ++emitted; });
    QObject::connect(&edit, &QLineEdit::textChanged, [&] { ++emitted; });
    QObject::connect(&tool, &QToolButton::toggled, [&] { ++emitted; });
    SetCheckBoxSilent(&box, true);
    SetEditTextSilent(&edit, "Ann");
    SetCheckedSilent(&tool, true);
    EXPECT_TRUE(box.isChecked());
    EXPECT_EQ(edit.text(), "Ann");
    EXPECT_TRUE(tool.isChecked());
    EXPECT_EQ(emitted, 0);
}

TEST(Controls, EnablingATreeLeavesLabelsTheirOwnState) {
    EnsureQApplication();
    QGroupBox group;
    auto* layout = new QVBoxLayout(&group);
    auto* inner = new QWidget;
    auto* edit = new QLineEdit(inner);
    auto* tool = new QToolButton(inner);
    auto* label = new QLabel("Margins");
    auto* button = new QPushButton("Font");
    for (QWidget* child : {inner, static_cast<QWidget*>(label), static_cast<QWidget*>(button)})
        layout->addWidget(child);
    label->setEnabled(false);

    EnableControlTree(&group, false);
    for (const QWidget* widget : {static_cast<QWidget*>(&group), inner, static_cast<QWidget*>(edit),
                                  static_cast<QWidget*>(tool), static_cast<QWidget*>(button)})
        EXPECT_FALSE(widget->isEnabled());
    EnableControlTree(&group, true);
    for (const QWidget* widget : {static_cast<QWidget*>(&group), inner, static_cast<QWidget*>(edit),
                                  static_cast<QWidget*>(tool), static_cast<QWidget*>(button)})
        EXPECT_TRUE(widget->isEnabled());
    EXPECT_FALSE(label->isEnabled());
}

TEST(Controls, WaitCursorComesAndGoes) {
    EnsureQApplication();
    BeginWaitCursor();
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EndWaitCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
