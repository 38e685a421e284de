#include "ViewTestSupport.h"

#include <QApplication>
#include <QDir>

void EnsureQtApplication() {
    static int argc = 1;
    static char name[] = "view_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
}

void KeepScreenshot(const QImage& image, const std::string& name) {
    QDir().mkpath("screenshots");
    image.save(QString::fromStdString("screenshots/" + name + ".png"));
}
