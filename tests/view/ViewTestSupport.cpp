#include "ViewTestSupport.h"

#include <QDir>

void KeepScreenshot(const QImage& image, const std::string& name) {
    QDir().mkpath("screenshots");
    image.save(QString::fromStdString("screenshots/" + name + ".png"));
}
