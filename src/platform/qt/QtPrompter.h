#pragma once
// The prompter with a display: Qt message boxes, Qt's save dialog and the desktop's opener.
#include <string>

#include "platform/Prompter.h"

class QWidget;

class TQtPrompter : public TPrompter {
public:
    // Boxes and dialogs are modal to parent (the active window when nullptr).
    explicit TQtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    TMsgAnswer MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                          TMsgButtons buttons) override;
    std::optional<std::string> SaveDialog(const std::string& title, const std::string& proposedPath,
                                          const std::string& filter) override;
    // Opens it with xdg-open; when that fails, a box says what could not be opened and why.
    void OpenDocument(const std::string& pathOrUrl) override;

private:
    QWidget* parent_;
};

// "Description|*.a;*.b|..." as Qt's "Description (*.a *.b);;...".
std::string QtFileFilter(const std::string& filter);
