#include "BookSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ReadablePicture.h"
#include "platform/Prompter.h"

namespace fs = std::filesystem;

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<std::string> MakePictures(const fs::path& folder, const std::string& extension, int count,
                                      const std::string& size) {
    fs::create_directories(folder);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        const fs::path file = folder / ("pic" + std::to_string(i) + extension);
        if (i < 8) {
            const std::string prefix = extension == ".bmp" ? "BMP3:" : "";
            const std::string make = "convert -size " + size + " plasma:fractal -seed " + std::to_string(i + 1) + " " +
                                     ShellQuoted(prefix + file.string());
            if (std::system(make.c_str()) != 0) std::exit(2);
        } else {
            fs::copy_file(folder / ("pic" + std::to_string(i % 8) + extension), file);
        }
        files.push_back(file.string());
    }
    return files;
}

bool MakeEngineBook(const std::vector<std::string>& pictures, const std::string& book) {
    auto prompter = std::make_unique<TScriptedPrompter>();
    prompter->saveAnswers = {book};
    prompter->answers = {idNo};
    SetPrompter(std::move(prompter));
    THeadlessHost host;
    TConverter converter(host);
    converter.Mode = cmBook;
    converter.PaperSizeName = "A4";
    try {
        for (const std::string& picture : pictures) AddReadablePicture(converter, picture, -1);
        converter.MakePdf();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    return true;
}

TMeasure InChild(const std::function<bool()>& work) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss};
}
