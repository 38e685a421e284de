#pragma once
// What the view tests share: the Qt application the widgets need, and screenshots kept in the
// test's folder with the others.
#include <QImage>
#include <string>

void EnsureQtApplication();
void KeepScreenshot(const QImage& image, const std::string& name);
