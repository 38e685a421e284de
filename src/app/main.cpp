#include <QApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/CommandLine.h"
#include "app/window/MainForm.h"
#include "imaging/acquire/MediaProvider.h"
#include "imaging/acquire/ScannerProvider.h"
#include "imaging/view/KVStartupRegistrations.h"
#include "platform/Prompter.h"
#include "platform/Shell.h"
#include "platform/qt/Metafile.h"
#include "platform/qt/QtCanvas.h"
#include "platform/qt/QtPrompter.h"
#include "platform/qt/ScannerDialogs.h"
#include "tzlib/qt/TzLibWindows.h"

int main(int argc, char** argv) {
    const TCommandLine command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    // Asked for, or nothing to do where no window can be seen: how to call the program.
    if (command.usageAsked || (!HasDisplay() && !command.unattended)) {
        const bool asked = argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h");
        (asked ? std::cout : std::cerr) << UsageText();
        return esNothingUsable;
    }
    // Headless machines run the program unattended on Qt's offscreen platform.
    if (!HasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName("Mordale");
    QApplication::setApplicationDisplayName("Brelvant Mordale");
    InstallQtCanvas();
    InstallQtGraphics();
    InstallTzLibWindows();
    InstallMediaProvider();
    InstallScannerProvider();
    const TViewRegistrations viewRegistrations;
    // Without a screen nobody could answer a box: the terminal prompter stays, and scanners scan
    // without dialogs.
    if (HasDisplay()) {
        SetPrompter(std::make_unique<TQtPrompter>());
        InstallScannerDialogs();
    }

    // The window is made in an unattended run too: the engine works through it, unseen.
    TMainForm form(command);
    if (form.Unattended()) return form.RunUnattended();
    form.show();
    return application.exec();
}
