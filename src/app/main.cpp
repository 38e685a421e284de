#include <QApplication>

#include "imaging/acquire/MediaProvider.h"
#include "platform/Shell.h"
#include "platform/qt/Metafile.h"
#include "platform/qt/QtCanvas.h"

int main(int argc, char** argv) {
    // Headless machines run the program unattended on Qt's offscreen platform.
    if (!HasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName("Mordale");
    InstallQtCanvas();
    InstallQtGraphics();
    InstallMediaProvider();
    return 0;
}
