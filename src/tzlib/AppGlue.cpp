#include "tzlib/AppGlue.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

void ProcessMessages() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

// The application sets its title with QGuiApplication::setApplicationDisplayName.
std::string ApplicationTitle() { return QGuiApplication::applicationDisplayName().toStdString(); }

void SetDefaultCursor() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
}
