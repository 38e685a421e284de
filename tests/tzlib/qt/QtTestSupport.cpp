#include "QtTestSupport.h"

#include <QApplication>

#include "tzlib/qt/TzLibWindows.h"

void EnsureQApplication() {
    static int argc = 1;
    static char name[] = "tzlib_qt_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance()) return;
    new QApplication(argc, argv);
    InstallTzLibWindows();
}
