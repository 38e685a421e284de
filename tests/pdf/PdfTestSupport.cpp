#include "PdfTestSupport.h"

#include "platform/Exception.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TScratchFolder::TScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pdftest-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
}

TScratchFolder::~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> TScratchFolder::Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TCommandResult RunTool(const std::string& command) {
    TCommandResult result{-1, {}};
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quoted(const std::string& path) {
    std::string quoted = "'";
    for (const char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no exception)";
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + part.size())) ++count;
    return count;
}

std::string ObjectText(const std::string& pdf, int n) {
    const std::string head = std::to_string(n) + " 0 obj\n";
    size_t start = pdf.find("\n" + head);
    if (start == std::string::npos) return {};
    start += 1;
    const size_t end = pdf.find("endobj", start);
    return pdf.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

::testing::AssertionResult QpdfChecks(const std::string& path, const std::string& password) {
    const std::string option = password.empty() ? "" : " --password=" + Quoted(password);
    const TCommandResult result = RunTool("qpdf --check" + option + " " + Quoted(path));
    // Exit 0: no problems; 3: warnings only, which we count as damage too.
    if (result.status == 0 && Contains(result.output, "No syntax or stream encoding errors"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "qpdf --check " << path << " exited " << result.status << ":\n"
                                         << result.output;
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

TRgbImage ReadPpm(const std::string& path) {
    const std::string data = ReadFile(path);
    TRgbImage image;
    std::istringstream header(data);
    std::string magic;
    int maxValue = 0;
    header >> magic >> image.width >> image.height >> maxValue;
    if (magic != "P6" || maxValue != 255) return {};
    const size_t start = size_t(header.tellg()) + 1;
    image.pixels.assign(data.begin() + long(start), data.end());
    if (image.pixels.size() != size_t(image.width) * image.height * 3) return {};
    return image;
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
