#pragma once
// What the dialog tests share: the Qt application, a scripted prompter for the boxes, and the
// screenshots kept under the build tree.
#include <QString>
#include <memory>
#include <string>

#include "../support/TestSupport.h"
#include "platform/Prompter.h"

class QWidget;

// Installs a scripted prompter for the test's lifetime; the previous one comes back afterwards.
class TScriptedBoxes {
public:
    TScriptedBoxes();
    ~TScriptedBoxes();
    TScriptedPrompter& operator*() { return *prompter_; }
    TScriptedPrompter* operator->() { return prompter_; }
    // The texts of the boxes shown so far, one per line.
    std::string Texts() const;

private:
    TScriptedPrompter* prompter_;
    std::unique_ptr<TPrompter> previous_;
};

// Makes the Qt application on first use.
void EnsureDialogApplication();
// A fixture's first member, so that its widgets find the application.
struct TDialogApplication {
    TDialogApplication() { EnsureDialogApplication(); }
};
// Saves the window as a PNG named after it under the build tree.
void SaveScreenshot(QWidget& window, const std::string& name);
