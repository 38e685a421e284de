#include "PdfTestSupport.h"

#include <algorithm>

std::string ObjectText(const std::string& pdf, int n) {
    const std::string head = std::to_string(n) + " 0 obj\n";
    size_t start = pdf.find("\n" + head);
    if (start == std::string::npos) return {};
    start += 1;
    const size_t end = pdf.find("endobj", start);
    return pdf.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TBitmap GradientBitmap(int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
            row[3 * x + 1] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
            row[3 * x + 2] = static_cast<uint8_t>((x + y) * 255 / std::max(1, width + height - 2));
        }
    }
    return bitmap;
}

TRgbImage RenderPage(const std::string& pdfPath, const std::string& password) {
    // Poppler's cairo back end places pictures pixel for pixel; its splash back end widens
    // them by a pixel to fit device edges, which would hide exact comparisons.
    const std::string stem = pdfPath + "-render";
    const std::string option = password.empty() ? "" : " -upw " + Quoted(password);
    RunTool("pdftocairo -png -r 72 -singlefile -antialias none" + option + " " + Quoted(pdfPath) + " " + Quoted(stem));
    RunTool("convert " + Quoted(stem + ".png") + " -depth 8 " + Quoted("ppm:" + stem + ".ppm"));
    return ReadPpm(stem + ".ppm");
}
