// Books of many pictures through the conversion engine, beside `cat` of the same files and
// `img2pdf` on them, measured in the same run; and the engine's peak memory for a small and a
// large book.
//   engine_bench [pictures]   (default 200)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterPic.h"
#include "platform/Prompter.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct TMeasure {
    bool ok = false;
    double seconds = 0;
    long peakKb = 0;
};

// Runs the work in a child process, so that its time and peak memory are its own.
TMeasure InChild(const std::function<bool()>& work) {
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0,
            std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss};
}

TMeasure Shell(const std::string& command) {
    return InChild([&] { return std::system(command.c_str()) == 0; });
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// count pictures of 1024 x 768 (24-bit for BMP), eight different ones repeated under their own names.
std::vector<std::string> MakePictures(const fs::path& folder, const std::string& extension, int count) {
    fs::create_directories(folder);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        const fs::path file = folder / ("pic" + std::to_string(i) + extension);
        if (i < 8) {
            const std::string prefix = extension == ".bmp" ? "BMP3:" : "";
            const std::string make = "convert -size 1024x768 plasma:fractal -seed " + std::to_string(i + 1) + " " +
                                     Quoted(prefix + file.string());
            if (std::system(make.c_str()) != 0) std::exit(2);
        } else {
            fs::copy_file(folder / ("pic" + std::to_string(i % 8) + extension), file);
        }
        files.push_back(file.string());
    }
    return files;
}

std::string Joined(const std::vector<std::string>& files) {
    std::string text;
    for (const std::string& file : files) {
        text += ' ';
        text += Quoted(file);
    }
    return text;
}

bool EngineBook(const std::vector<std::string>& files, const std::string& book) {
    auto prompter = std::make_unique<TScriptedPrompter>();
    prompter->saveAnswers = {book};
    prompter->answers = {idYes, idNo};
    SetPrompter(std::move(prompter));
    THeadlessHost host;
    TConverter converter(host);
    converter.Mode = cmBook;
    converter.PaperSizeName = "A4";
    try {
        for (const std::string& file : files) TConverterPic::Add(converter, file, 0);
        converter.MakePdf();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "engine: %s\n", e.what());
        return false;
    }
    return true;
}

void Compare(const std::string& title, const fs::path& folder, const std::vector<std::string>& files) {
    const std::string book = (folder / "engine.pdf").string();
    const TMeasure cat = Shell("cat" + Joined(files) + " > /dev/null");
    const TMeasure engine = InChild([&] { return EngineBook(files, book); });
    const TMeasure peer = Shell("img2pdf" + Joined(files) + " -o " + Quoted((folder / "img2pdf.pdf").string()));
    std::printf("%s, %zu pictures:\n", title.c_str(), files.size());
    if (!engine.ok) {
        std::printf("  engine failed\n");
        return;
    }
    std::printf("  engine  %7.3f s   cat %7.3f s  (engine / cat %.2f)\n", engine.seconds, cat.seconds,
                engine.seconds / cat.seconds);
    if (peer.ok)
        std::printf("  engine  %7.3f s   img2pdf %7.3f s  (engine / img2pdf %.2f)\n", engine.seconds, peer.seconds,
                    engine.seconds / peer.seconds);
    std::printf("  book %.1f MB, input %.1f MB\n", fs::file_size(book) / 1e6,
                [&] { double s = 0; for (const auto& f : files) s += fs::file_size(f); return s / 1e6; }());
}

}  // namespace

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 200;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/engine-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) return 2;
    const fs::path root = pattern;

    const std::vector<std::string> jpegs = MakePictures(root / "jpeg", ".jpg", std::max(pictures, 1000));
    Compare("JPEG book", root / "jpeg", {jpegs.begin(), jpegs.begin() + pictures});
    Compare("PNG book", root / "png", MakePictures(root / "png", ".png", pictures));
    Compare("BMP book", root / "bmp", MakePictures(root / "bmp", ".bmp", pictures));

    // Peak memory must not grow with the number of pictures.
    const TMeasure small = InChild([&] { return EngineBook({jpegs.begin(), jpegs.begin() + 10}, (root / "s.pdf").string()); });
    const TMeasure large = InChild([&] { return EngineBook(jpegs, (root / "l.pdf").string()); });
    std::printf("Peak memory: 10 pictures %ld KB, %zu pictures %ld KB (ratio %.2f)\n", small.peakKb, jpegs.size(),
                large.peakKb, double(large.peakKb) / small.peakKb);
    fs::remove_all(root);
    return 0;
}
