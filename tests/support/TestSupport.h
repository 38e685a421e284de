#pragma once
// Helpers shared by every test folder: a scratch folder, files, running external tools, and the
// independent checks (qpdf, ImageMagick) that judge what the program wrote.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A fresh folder under the temporary directory, removed with its content afterwards.
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
    std::string output;  // standard output, and standard error unless asked apart
};
// Runs a shell command line; quote paths with Quoted.
TCommandResult RunTool(const std::string& command, bool withErrors = true);
// Quotes a text as one shell word.
std::string Quoted(const std::string& text);

// The message of the exception the action raises, "(no exception)" when it raises none.
std::string MessageOf(const std::function<void()>& action);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Contains(const std::string& text, const std::string& part);
size_t CountOf(const std::string& text, const std::string& part);

// qpdf's verdict on a document; fails with its report.
::testing::AssertionResult QpdfChecks(const std::string& path, const std::string& password = {});

// A picture with 8-bit red, green and blue samples, rows from the top.
struct TRgbImage {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    const uint8_t* At(int x, int y) const { return pixels.data() + (size_t(y) * width + x) * 3; }
};
// A binary PPM (P6, maxval 255); empty when the data is not one.
TRgbImage ParsePpm(const std::string& data);
TRgbImage ReadPpm(const std::string& path);
// Any picture file as ImageMagick reads it (its first frame); empty when ImageMagick fails.
TRgbImage ReadWithImageMagick(const std::string& path);
