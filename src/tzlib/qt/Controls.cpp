#include "tzlib/qt/Controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>

#include "tzlib/WindowHooks.h"

namespace {

void SetButtonChecked(QAbstractButton* button, bool checked) {
    const QSignalBlocker blocker(button);
    // An exclusive group refuses to uncheck its checked button.
    const bool exclusive = button->autoExclusive();
    if (!checked) button->setAutoExclusive(false);
    button->setChecked(checked);
    button->setAutoExclusive(exclusive);
}

bool HasGuiApplication() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

}  // namespace

void SetRadioIndexSilent(std::span<QRadioButton* const> buttons, int index) {
    // Unchecking first, so that checking the chosen one makes no sibling change on its own.
    for (size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i] && static_cast<int>(i) != index) SetButtonChecked(buttons[i], false);
    if (index >= 0 && static_cast<size_t>(index) < buttons.size() && buttons[static_cast<size_t>(index)])
        SetButtonChecked(buttons[static_cast<size_t>(index)], true);
}

void SetRadioIndex(std::span<QRadioButton* const> buttons, int index) {
    SetRadioIndexSilent(buttons, index);
    for (QRadioButton* button : buttons)
        if (button && button->isChecked()) emit button->clicked(true);
}

int GetRadioIndex(std::span<QRadioButton* const> buttons) {
    for (size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i] && buttons[i]->isChecked()) return static_cast<int>(i);
    return -1;
}

void SetCheckedSilent(QAbstractButton* button, bool checked) { SetButtonChecked(button, checked); }

void SetCheckBoxSilent(QCheckBox* checkBox, bool checked) { SetButtonChecked(checkBox, checked); }

void SetEditTextSilent(QLineEdit* edit, const std::string& text) {
    const QSignalBlocker blocker(edit);
    edit->setText(QString::fromStdString(text));
}

void EnableControlTree(QWidget* control, bool enabled) {
    control->setEnabled(enabled);
    for (QWidget* child : control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!qobject_cast<QLabel*>(child)) EnableControlTree(child, enabled);
}

void BeginWaitCursor() {
    if (!HasGuiApplication()) return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ProcessMessages();
}

void EndWaitCursor() {
    if (HasGuiApplication()) QGuiApplication::restoreOverrideCursor();
}
