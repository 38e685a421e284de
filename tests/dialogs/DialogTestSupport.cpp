#include "DialogTestSupport.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

#include "../tzlib/qt/QtTestSupport.h"

TScriptedBoxes::TScriptedBoxes() {
    auto prompter = std::make_unique<TScriptedPrompter>();
    prompter_ = prompter.get();
    previous_ = SetPrompter(std::move(prompter));
}

TScriptedBoxes::~TScriptedBoxes() { SetPrompter(std::move(previous_)); }

std::string TScriptedBoxes::Texts() const {
    std::string texts;
    for (const auto& box : prompter_->boxes) texts += box.text + "\n";
    return texts;
}

void EnsureDialogApplication() { EnsureQApplication(); }

void SaveScreenshot(QWidget& window, const std::string& name) {
    QDir().mkpath(MORDALE_SCREENSHOTS);
    window.grab().save(QString(MORDALE_SCREENSHOTS) + "/" + QString::fromStdString(name) + ".png");
}
