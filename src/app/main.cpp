#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "imaging/acquire/MediaProvider.h"
#include "imaging/view/KVStartupRegistrations.h"
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
    InstallMediaProvider();
    const TViewRegistrations viewRegistrations;
    // Without a screen nobody could answer a box: the terminal prompter stays.
    if (HasDisplay()) SetPrompter(std::make_unique<TQtPrompter>());

    // The window is made in an unattended run too: the engine works through it, unseen.
    TMainForm form(std::vector<std::string>(argv + 1, argv + argc));
    if (form.Unattended()) return form.RunUnattended() ? 0 : 1;
    form.show();
    return application.exec();
}
