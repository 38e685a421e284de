#pragma once
// Helpers of the writer's tests: objects of a document, pictures to draw, rendered pages.
#include <string>

#include "TestSupport.h"
#include "platform/Graphics.h"

// The body of object n ("n 0 obj" up to "endobj"); empty when absent.
std::string ObjectText(const std::string& pdf, int n);
// A 24-bit bitmap whose pixels vary in x and y.
TBitmap GradientBitmap(int width, int height);

// Renders page 1 with poppler at 72 dpi (one pixel per point) and reads it back.
TRgbImage RenderPage(const std::string& pdfPath, const std::string& password = {});
