// The window program: the window, and the unattended runs whose pictures need its libraries
// (videos, metafiles), which mordale hands over to it.
#include <QApplication>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/CommandLine.h"
#include "app/engine/UnattendedRun.h"
#include "app/window/MainForm.h"
#include "imaging/acquire/MediaProvider.h"
#include "imaging/acquire/ScannerProvider.h"
#include "imaging/view/KVStartupRegistrations.h"
#include "platform/GraphicClasses.h"
#include "platform/Paths.h"
#include "platform/Prompter.h"
#include "platform/qt/Metafile.h"
#include "platform/qt/QtCanvas.h"
#include "platform/qt/QtPrompter.h"
#include "platform/qt/SaneDeviceDialog.h"
#include "platform/qt/ScannerDialogs.h"
#include "tzlib/qt/TzLibWindows.h"

namespace {

// Metafiles are drawn by Qt, and their text needs Qt's font database.
bool HasMetafile(const TCommandLine& command) {
    return std::ranges::any_of(command.sources, [](const TCommandSource& source) {
        const TGraphicClass graphicClass = GraphicClassForExtension(std::filesystem::path(source.fileName).extension().string());
        return graphicClass && dynamic_cast<TMetafile*>(graphicClass().get());
    });
}

}  // namespace

int main(int argc, char** argv) {
    // The settings, the folder and the desktop entries are those of the program it is part of.
    SetProgramPath(ExecutableFolder() + "/" MORDALE_PROGRAM);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const TCommandLine command = ParseCommandLine(arguments);
    // Asked for, or what keeps the command line from running: how to call the program.
    if (const std::optional<TExitStatus> status = AnswerUsage(command, arguments)) return *status;
    // Drawing on pictures and reading metafiles and videos, with or without a window.
    InstallQtCanvas();
    InstallQtGraphics();
    InstallMediaProvider();
    InstallScannerProvider();
    // No window in an unattended run, so that it works where no window system can be reached;
    // the terminal prompter answers. The font database of a drawing needs an application object
    // (not one of widgets), made on the platform that needs no window system.
    if (command.unattended) {
        std::unique_ptr<QGuiApplication> fonts;
        if (HasMetafile(command)) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            fonts = std::make_unique<QGuiApplication>(argc, argv);
        }
        return RunUnattended(command);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName("Mordale");
    QApplication::setApplicationDisplayName(ProgramTitle);
    InstallTzLibWindows();
    const TViewRegistrations viewRegistrations;
    SetPrompter(std::make_unique<TQtPrompter>());
    InstallScannerDialogs();
    InstallSaneDeviceDialog();
    TMainForm form(command);
    form.show();
    return application.exec();
}
