// Books through the conversion engine, the way the program makes them (each picture added with
// its header read, then the book): many small pictures beside img2pdf on the same files, and
// large LZW TIFFs, PNGs and BMPs beside the decode floor of tiffcp -c none, pngtopnm and
// bmptopnm; processor times, which a shared machine disturbs less than the clock.
//   book_bench [jpegs] [pngs] [large]   (defaults 10000 and 1000 of 200 x 150; 50 of 2400 x 1600)
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterPic.h"
#include "platform/Prompter.h"

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Processor seconds of the work in a child process, negative when it failed.
double InChild(const std::function<bool()>& work) {
    const double start = ProcessorSeconds(RUSAGE_CHILDREN);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return ok ? ProcessorSeconds(RUSAGE_CHILDREN) - start : -1;
}

// count pictures of 200 x 150: eight different ones by ImageMagick, repeated under their own names.
std::vector<std::string> MakePictures(const fs::path& folder, const std::string& extension, int count) {
    fs::create_directories(folder);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        const fs::path file = folder / ("pic" + std::to_string(i) + extension);
        if (i < 8) {
            const std::string make =
                "convert -size 200x150 plasma:fractal -seed " + std::to_string(i + 1) + " " + Quoted(file.string());
            if (std::system(make.c_str()) != 0) std::exit(2);
        } else {
            fs::copy_file(folder / ("pic" + std::to_string(i % 8) + extension), file);
        }
        files.push_back(file.string());
    }
    return files;
}

bool EngineBook(const std::vector<std::string>& files, const std::string& book) {
    auto prompter = std::make_unique<TScriptedPrompter>();
    prompter->saveAnswers = {book};
    prompter->answers = {idNo};
    SetPrompter(std::move(prompter));
    THeadlessHost host;
    TConverter converter(host);
    converter.Mode = cmBook;
    converter.PaperSizeName = "A4";
    try {
        for (const std::string& file : files) TConverterPic::Add(converter, file, -1)->Open();
        converter.MakePdf();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "engine: %s\n", e.what());
        return false;
    }
    return true;
}

// count copies of five 2400 x 1600 photograph-like pictures, made by convert with the options.
std::vector<std::string> MakeLargePictures(const fs::path& folder, const std::string& extension,
                                           const std::string& options, int count) {
    fs::create_directories(folder);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        const fs::path file = folder / ("pic" + std::to_string(i) + extension);
        if (i < 5) {
            const std::string make = "convert -seed " + std::to_string(i + 1) +
                                     " -size 2400x1600 plasma:fractal -blur 0x1 " + options + " " + Quoted(file.string());
            if (std::system(make.c_str()) != 0) std::exit(2);
        } else {
            fs::copy_file(folder / ("pic" + std::to_string(i % 5) + extension), file);
        }
        files.push_back(file.string());
    }
    return files;
}

// The peer command run once per file, %f standing for the file.
double PeerDecodes(const std::vector<std::string>& files, const std::string& command) {
    return InChild([&] {
        for (const std::string& file : files) {
            std::string line = command;
            line.replace(line.find("%f"), 2, Quoted(file));
            if (std::system(line.c_str()) != 0) return false;
        }
        return true;
    });
}

void CompareWithFloor(const std::string& title, const fs::path& folder, const std::vector<std::string>& files,
                      const std::string& peer, const std::string& command) {
    const double engine = InChild([&] { return EngineBook(files, (folder / "engine.pdf").string()); });
    const double floor = PeerDecodes(files, command);
    std::printf("%s, %zu pictures of 2400 x 1600:\n", title.c_str(), files.size());
    std::printf("  engine   %8.3f s\n  %-8s %8.3f s\n", engine, peer.c_str(), floor);
    if (engine > 0 && floor > 0) std::printf("  engine / %s %.2f\n", peer.c_str(), engine / floor);
}

// img2pdf reads its list of files from a file, names ended by NUL, so that ten thousand fit.
bool PeerBook(const std::vector<std::string>& files, const fs::path& folder) {
    const fs::path list = folder / "files.txt";
    if (FILE* out = std::fopen(list.c_str(), "w")) {
        for (const std::string& file : files) std::fwrite(file.c_str(), 1, file.size() + 1, out);  // with its NUL
        std::fclose(out);
    }
    const std::string command = "img2pdf --from-file " + Quoted(list.string()) + " -o " +
                                Quoted((folder / "img2pdf.pdf").string()) + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

void Compare(const std::string& title, const fs::path& folder, const std::vector<std::string>& files) {
    const double n = double(files.size());
    const double engine = InChild([&] { return EngineBook(files, (folder / "engine.pdf").string()); });
    const double peer = InChild([&] { return PeerBook(files, folder); });
    std::printf("%s, %zu pictures of 200 x 150:\n", title.c_str(), files.size());
    if (engine < 0) std::printf("  engine   failed\n");
    else std::printf("  engine   %8.3f s  %7.3f ms per picture\n", engine, engine * 1000 / n);
    if (peer < 0) std::printf("  img2pdf  failed\n");
    else std::printf("  img2pdf  %8.3f s  %7.3f ms per picture\n", peer, peer * 1000 / n);
    if (engine > 0 && peer > 0) std::printf("  engine / img2pdf %.2f\n", engine / peer);
}

}  // namespace

int main(int argc, char** argv) {
    const int jpegs = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int pngs = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int large = argc > 3 ? std::atoi(argv[3]) : 50;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/book-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) return 2;
    const fs::path root = pattern;
    if (jpegs > 0) Compare("JPEG book", root / "jpeg", MakePictures(root / "jpeg", ".jpg", jpegs));
    if (pngs > 0) Compare("PNG book", root / "png", MakePictures(root / "png", ".png", pngs));
    const std::string plain = (root / "plain.tif").string();
    CompareWithFloor("LZW TIFF book", root / "tiff", MakeLargePictures(root / "tiff", ".tif", "-compress lzw -define tiff:predictor=2", large),
                     "tiffcp", "tiffcp -c none %f " + Quoted(plain));
    CompareWithFloor("PNG book", root / "largepng", MakeLargePictures(root / "largepng", ".png", "", large), "pngtopnm",
                     "pngtopnm %f > /dev/null");
    CompareWithFloor("BMP book", root / "bmp", MakeLargePictures(root / "bmp", ".bmp", "-type TrueColor", large), "bmptopnm",
                     "bmptopnm %f > /dev/null");
    fs::remove_all(root);
    return 0;
}
