#include "TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Exception.h"

TScratchFolder::TScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mordale-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
}

TScratchFolder::~TScratchFolder() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    // Tests take write permission away from folders; give it back so that everything can go.
    for (auto it = fs::recursive_directory_iterator(folder_, ignored); !ignored && it != fs::end(it);
         it.increment(ignored))
        if (std::error_code unknown; it->symlink_status(unknown).type() == fs::file_type::directory)
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, unknown);
    fs::remove_all(folder_, ignored);
}

std::vector<std::string> TScratchFolder::Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TCommandResult RunTool(const std::string& command, bool withErrors) {
    TCommandResult result{-1, {}};
    FILE* pipe = ::popen((command + (withErrors ? " 2>&1" : "")).c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
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

size_t OpensOf(const std::string& trace, const std::string& path) {
    size_t count = 0;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);)
        if (Contains(line, "open") && Contains(line, "\"" + path + "\"")) ++count;
    return count;
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

TRgbImage ParsePpm(const std::string& data) {
    TRgbImage image;
    std::istringstream header(data);
    std::string magic;
    int maxValue = 0;
    header >> magic >> image.width >> image.height >> maxValue;
    if (!header || magic != "P6" || maxValue != 255) return {};
    const size_t start = size_t(header.tellg()) + 1;
    if (start > data.size()) return {};
    image.pixels.assign(data.begin() + long(start), data.end());
    if (image.pixels.size() != size_t(image.width) * image.height * 3) return {};
    return image;
}

TRgbImage ReadPpm(const std::string& path) { return ParsePpm(ReadFile(path)); }

TRgbImage ReadWithImageMagick(const std::string& path) {
    const TCommandResult result = RunTool("convert " + Quoted(path + "[0]") + " -depth 8 ppm:-", false);
    return result.status == 0 ? ParsePpm(result.output) : TRgbImage{};
}

TEnvironmentGuard::TEnvironmentGuard(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value)
        ::setenv(name_.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

TEnvironmentGuard::~TEnvironmentGuard() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

namespace {

bool LocaleWorks(const std::string& name) {
    const TLocaleLookupLeakGuard guard;
    const locale_t locale = ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
    if (!locale) return false;
    ::freelocale(locale);
    return true;
}

}  // namespace

TLocaleProvider::TLocaleProvider(const std::string& name) {
    if (LocaleWorks(name)) {
        available_ = true;
        return;
    }
    locPath_.emplace("LOCPATH", MORDALE_TEST_LOCALES);
    available_ = LocaleWorks(name);
}

TCLocaleGuard::TCLocaleGuard(const std::string& name) : old_(std::setlocale(LC_ALL, nullptr)) {
    const TLocaleLookupLeakGuard guard;
    ok_ = std::setlocale(LC_ALL, name.c_str()) != nullptr;
}

TCLocaleGuard::~TCLocaleGuard() {
    const TLocaleLookupLeakGuard guard;
    std::setlocale(LC_ALL, old_.c_str());
}
