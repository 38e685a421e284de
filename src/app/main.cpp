#include <QApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/CommandLine.h"
#include "app/engine/UnattendedRun.h"
#include "app/window/MainForm.h"
#include "imaging/acquire/MediaProvider.h"
#include "imaging/view/KVStartupRegistrations.h"
#include "platform/Prompter.h"
#include "platform/Shell.h"
#include "platform/qt/Metafile.h"
#include "platform/qt/QtCanvas.h"
#include "platform/qt/QtPrompter.h"
#include "tzlib/qt/TzLibWindows.h"

int main(int argc, char** argv) {
    const TCommandLine command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    // Asked for, or nothing to do where no window can be seen: how to call the program.
    if (command.usageAsked || (!HasDisplay() && !command.unattended)) {
        const bool asked = argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h");
        (asked ? std::cout : std::cerr) << UsageText();
        return esNothingUsable;
    }
    // Drawing on pictures and reading metafiles and videos, with or without a window.
    InstallQtCanvas();
    InstallQtGraphics();
    InstallMediaProvider();
    // No window in an unattended run, so that it works where no window system can be reached;
    // the terminal prompter answers.
    if (command.unattended) return RunUnattended(command);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Mordale");
    QApplication::setApplicationDisplayName(ProgramTitle);
    InstallTzLibWindows();
    const TViewRegistrations viewRegistrations;
    SetPrompter(std::make_unique<TQtPrompter>());
    TMainForm form(command);
    form.show();
    return application.exec();
}
