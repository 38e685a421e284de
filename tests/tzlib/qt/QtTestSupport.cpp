#include "QtTestSupport.h"

#include <QApplication>

#include "QtTestApplication.h"
#include "tzlib/qt/TzLibWindows.h"

void EnsureQApplication() {
    if (QCoreApplication::instance()) return;
    EnsureTestApplication<QApplication>();
    InstallTzLibWindows();
}
