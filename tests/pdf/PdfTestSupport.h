#pragma once
// Shared helpers of the writer's tests: a scratch folder, files, external tools.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Graphics.h"

// A fresh folder, removed with its content afterwards.
class TScratchFolder {
public:
    TScratchFolder();
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    std::string Path(const std::string& name) const { return folder_ + "/" + name; }
    const std::string& Folder() const { return folder_; }
    // Names of the files in the folder, sorted.
    std::vector<std::string> Files() const;

private:
    std::string folder_;
};

struct TCommandResult {
    int status;
    std::string output;  // standard output and error
};
TCommandResult RunTool(const std::string& command);
// Quotes a path for the shell.
std::string Quoted(const std::string& path);

// The message of the exception the action raises.
std::string MessageOf(const std::function<void()>& action);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Contains(const std::string& text, const std::string& part);
size_t CountOf(const std::string& text, const std::string& part);

// The body of object n ("n 0 obj" up to "endobj"); empty when absent.
std::string ObjectText(const std::string& pdf, int n);
// qpdf's verdict; passes with its report as the message on failure.
::testing::AssertionResult QpdfChecks(const std::string& path, const std::string& password = {});

// A 24-bit bitmap whose pixels vary in x and y.
TBitmap GradientBitmap(int width, int height);

// A picture read from a binary PPM file (P6, 8 bits): rows from the top, red, green, blue.
struct TRgbImage {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    const uint8_t* At(int x, int y) const { return pixels.data() + (size_t(y) * width + x) * 3; }
};
TRgbImage ReadPpm(const std::string& path);
// Renders page 1 with poppler at 72 dpi (one pixel per point) and reads it back.
TRgbImage RenderPage(const std::string& pdfPath, const std::string& password = {});
