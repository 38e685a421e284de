#include "tzlib/qt/TzLibWindows.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include "tzlib/WindowHooks.h"
#include "tzlib/qt/ProgressMessage.h"

namespace {

bool HasGuiApplication() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

double PrimaryScreenDotsPerInch() {
    const QScreen* screen = HasGuiApplication() ? QGuiApplication::primaryScreen() : nullptr;
    return screen ? screen->logicalDotsPerInch() : 96;
}

}  // namespace

void InstallTzLibWindows() {
    SetWindowHooks({
        .processMessages =
            [] {
                if (QCoreApplication::instance()) QCoreApplication::processEvents();
            },
        // The application sets its title with QGuiApplication::setApplicationDisplayName.
        .applicationTitle = [] { return QGuiApplication::applicationDisplayName().toStdString(); },
        .setDefaultCursor =
            [] {
                if (!HasGuiApplication()) return;
                while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
            },
        .screenDotsPerInch = PrimaryScreenDotsPerInch,
        .closeProgressForms = CloseAllProgressForms,
        .runWithProgressFormAside = RunWithActiveProgressFormAside,
    });
}
