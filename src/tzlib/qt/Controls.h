#pragma once
// Setting the state of controls without firing their handlers, as code (not the user) does.
#include <span>
#include <string>

class QAbstractButton;
class QCheckBox;
class QLineEdit;
class QRadioButton;
class QWidget;

// Checks the button at the index and unchecks the others (null entries are skipped); -1 unchecks all.
void SetRadioIndexSilent(std::span<QRadioButton* const> buttons, int index);
// The same, then the click handlers of the buttons now checked run.
void SetRadioIndex(std::span<QRadioButton* const> buttons, int index);
// The first checked button, -1 when none.
int GetRadioIndex(std::span<QRadioButton* const> buttons);
void SetCheckedSilent(QAbstractButton* button, bool checked);
void SetCheckBoxSilent(QCheckBox* checkBox, bool checked);
void SetEditTextSilent(QLineEdit* edit, const std::string& text);
// The control and every control inside it; labels keep their own state.
void EnableControlTree(QWidget* control, bool enabled);
// Shows the hourglass until EndWaitCursor.
void BeginWaitCursor();
void EndWaitCursor();
