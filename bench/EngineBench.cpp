// Books of many pictures through the conversion engine, beside `cat` of the same files and
// `img2pdf` on them, measured in the same run; and the engine's peak memory for a small and a
// large book.
//   engine_bench [pictures]   (default 200)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BookSupport.h"

namespace {

namespace fs = std::filesystem;

TMeasure Shell(const std::string& command) {
    return InChild([&] { return std::system(command.c_str()) == 0; });
}

std::string Joined(const std::vector<std::string>& files) {
    std::string text;
    for (const std::string& file : files) {
        text += ' ';
        text += ShellQuoted(file);
    }
    return text;
}

void Compare(const std::string& title, const fs::path& folder, const std::vector<std::string>& files) {
    const std::string book = (folder / "engine.pdf").string();
    const TMeasure cat = Shell("cat" + Joined(files) + " > /dev/null");
    const TMeasure engine = InChild([&] { return MakeEngineBook(files, book); });
    const TMeasure peer = Shell("img2pdf" + Joined(files) + " -o " + ShellQuoted((folder / "img2pdf.pdf").string()));
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

    const std::vector<std::string> jpegs = MakePictures(root / "jpeg", ".jpg", std::max(pictures, 1000), "1024x768");
    Compare("JPEG book", root / "jpeg", {jpegs.begin(), jpegs.begin() + pictures});
    Compare("PNG book", root / "png", MakePictures(root / "png", ".png", pictures, "1024x768"));
    Compare("BMP book", root / "bmp", MakePictures(root / "bmp", ".bmp", pictures, "1024x768"));

    // Peak memory must not grow with the number of pictures.
    const TMeasure small = InChild([&] { return MakeEngineBook({jpegs.begin(), jpegs.begin() + 10}, (root / "s.pdf").string()); });
    const TMeasure large = InChild([&] { return MakeEngineBook(jpegs, (root / "l.pdf").string()); });
    std::printf("Peak memory: 10 pictures %ld KB, %zu pictures %ld KB (ratio %.2f)\n", small.peakKb, jpegs.size(),
                large.peakKb, double(large.peakKb) / small.peakKb);
    fs::remove_all(root);
    return 0;
}
