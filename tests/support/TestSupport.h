#pragma once
// Helpers shared by every test folder: a scratch folder, files, running external tools, guards of
// the environment and the locale, and the independent checks (qpdf, ImageMagick) that judge what
// the program wrote.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

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
// The successful and failed opens of the file in a trace of strace.
size_t OpensOf(const std::string& trace, const std::string& path);

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

// Sets (or with nothing, unsets) an environment variable for the guard's lifetime.
class TEnvironmentGuard {
public:
    TEnvironmentGuard(std::string name, const std::optional<std::string>& value);
    ~TEnvironmentGuard();
    TEnvironmentGuard(const TEnvironmentGuard&) = delete;
    TEnvironmentGuard& operator=(const TEnvironmentGuard&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// glibc keeps, unreferenced, the search list it builds from LOCPATH for each locale lookup;
// hold this around such lookups.
struct TLocaleLookupLeakGuard {
    TLocaleLookupLeakGuard() {}  // user-provided: a guard is never an unused variable
#if defined(__SANITIZE_ADDRESS__)
    __lsan::ScopedDisabler disabler;
#endif
};

// Makes a locale such as "de_DE.UTF-8" available to setlocale and newlocale; when the system
// lacks it, LOCPATH points for the guard's lifetime to the locales that the build compiled
// (tests/support/CMakeLists.txt). Available() is false when neither has it.
class TLocaleProvider {
public:
    explicit TLocaleProvider(const std::string& name);
    bool Available() const { return available_; }

private:
    std::optional<TEnvironmentGuard> locPath_;
    bool available_ = false;
};

// Switches the process's C locale (all categories) for the guard's lifetime.
class TCLocaleGuard {
public:
    explicit TCLocaleGuard(const std::string& name);
    ~TCLocaleGuard();
    bool Ok() const { return ok_; }

private:
    std::string old_;
    bool ok_;
};
