#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "platform/Prompter.h"
#include "platform/Shell.h"
#include "platform/qt/Metafile.h"
#include "platform/qt/QtCanvas.h"
#include "platform/qt/QtPrompter.h"
#include "tzlib/qt/TzLibWindows.h"

int main(int argc, char** argv) {
    // Headless machines run the program unattended on Qt's offscreen platform.
    if (!HasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName("Mordale");
    QApplication::setApplicationDisplayName("Brelvant Mordale");
    InstallQtCanvas();
    InstallQtGraphics();
    InstallTzLibWindows();
    // Without a screen nobody could answer a box: the terminal prompter stays.
    if (HasDisplay()) SetPrompter(std::make_unique<TQtPrompter>());

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const TCommandLine command = ParseCommandLine(arguments, [](const std::string&) { return false; });
    if (command.unattended) {
        // The conversion engine is not part of this build yet.
        Prompter().MessageBox("Brelvant Mordale", "Unattended conversions are not available in this build.",
                              TMsgIcon::Error, TMsgButtons::Ok);
        return 1;
    }
    TMainForm form;
    form.show();
    return application.exec();
}
