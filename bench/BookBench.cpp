// Books of many small pictures through the conversion engine, the way the program makes them
// (each picture added with its header read, then the book), beside img2pdf on the same files:
// the time per picture of each.
//   book_bench [jpegs] [pngs]   (defaults 10000 and 1000, pictures of 200 x 150)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BookSupport.h"

namespace {

namespace fs = std::filesystem;

// img2pdf reads its list of files from a file, names ended by NUL, so that ten thousand fit.
bool PeerBook(const std::vector<std::string>& files, const fs::path& folder) {
    const fs::path list = folder / "files.txt";
    if (FILE* out = std::fopen(list.c_str(), "w")) {
        for (const std::string& file : files) std::fwrite(file.c_str(), 1, file.size() + 1, out);  // with its NUL
        std::fclose(out);
    }
    const std::string command = "img2pdf --from-file " + ShellQuoted(list.string()) + " -o " +
                                ShellQuoted((folder / "img2pdf.pdf").string()) + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

void Compare(const std::string& title, const fs::path& folder, const std::vector<std::string>& files) {
    const double n = double(files.size());
    const TMeasure engineRun = InChild([&] { return MakeEngineBook(files, (folder / "engine.pdf").string()); });
    const TMeasure peerRun = InChild([&] { return PeerBook(files, folder); });
    const double engine = engineRun.ok ? engineRun.seconds : -1, peer = peerRun.ok ? peerRun.seconds : -1;
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
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/book-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) return 2;
    const fs::path root = pattern;
    Compare("JPEG book", root / "jpeg", MakePictures(root / "jpeg", ".jpg", jpegs, "200x150"));
    Compare("PNG book", root / "png", MakePictures(root / "png", ".png", pngs, "200x150"));
    fs::remove_all(root);
    return 0;
}
