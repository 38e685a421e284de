#pragma once
// The one Qt application object of a test process, made on first use: QApplication for tests
// with widgets, QGuiApplication for those that only draw. Tests run on Qt's offscreen platform.
#include <QCoreApplication>

template <class TApplication>
void EnsureTestApplication() {
    static int argc = 1;
    static char name[] = "mordale_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new TApplication(argc, argv);
}
