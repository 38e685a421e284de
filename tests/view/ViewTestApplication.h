#pragma once
// The one application object the widgets of a view test need, made on first use.
#include <QApplication>

inline void EnsureViewTestApplication() {
    static int argc = 1;
    static char name[] = "view_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
}
