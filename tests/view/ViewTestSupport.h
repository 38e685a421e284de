#pragma once
// What the view tests share: screenshots kept in the test's folder with the others.
#include <QImage>
#include <string>

void KeepScreenshot(const QImage& image, const std::string& name);
