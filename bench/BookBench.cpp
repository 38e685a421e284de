// Books through the conversion engine, the way the program makes them (each picture added with
// its header read, then the book): many small pictures beside img2pdf on the same files, and
// large LZW TIFFs, PNGs and BMPs beside the decode floor of tiffcp -c none, pngtopnm and
// bmptopnm in processor time, which a shared machine disturbs less than the clock.
//   book_bench [jpegs] [pngs] [large]   (defaults 10000 and 1000 of 200 x 150; 50 of 2400 x 1600)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BookSupport.h"

namespace {

namespace fs = std::filesystem;

// count copies of five 2400 x 1600 photograph-like pictures, made by convert with the options.
std::vector<std::string> MakeLargePictures(const fs::path& folder, const std::string& extension,
                                           const std::string& options, int count) {
    fs::create_directories(folder);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        const fs::path file = folder / ("pic" + std::to_string(i) + extension);
        if (i < 5) {
            const std::string make = "convert -seed " + std::to_string(i + 1) +
                                     " -size 2400x1600 plasma:fractal -blur 0x1 " + options + " " + ShellQuoted(file.string());
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
    const TMeasure run = InChild([&] {
        for (const std::string& file : files) {
            std::string line = command;
            line.replace(line.find("%f"), 2, ShellQuoted(file));
            if (std::system(line.c_str()) != 0) return false;
        }
        return true;
    });
    return run.ok ? run.processorSeconds : -1;
}

void CompareWithFloor(const std::string& title, const fs::path& folder, const std::vector<std::string>& files,
                      const std::string& peer, const std::string& command) {
    const TMeasure engineRun = InChild([&] { return MakeEngineBook(files, (folder / "engine.pdf").string()); });
    const double engine = engineRun.ok ? engineRun.processorSeconds : -1;
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
    const int large = argc > 3 ? std::atoi(argv[3]) : 50;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/book-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) return 2;
    const fs::path root = pattern;
    if (jpegs > 0) Compare("JPEG book", root / "jpeg", MakePictures(root / "jpeg", ".jpg", jpegs, "200x150"));
    if (pngs > 0) Compare("PNG book", root / "png", MakePictures(root / "png", ".png", pngs, "200x150"));
    const std::string plain = (root / "plain.tif").string();
    CompareWithFloor("LZW TIFF book", root / "tiff",
                     MakeLargePictures(root / "tiff", ".tif", "-compress lzw -define tiff:predictor=2", large), "tiffcp",
                     "tiffcp -c none %f " + ShellQuoted(plain));
    CompareWithFloor("PNG book", root / "largepng", MakeLargePictures(root / "largepng", ".png", "", large), "pngtopnm",
                     "pngtopnm %f > /dev/null");
    CompareWithFloor("BMP book", root / "bmp", MakeLargePictures(root / "bmp", ".bmp", "-type TrueColor", large),
                     "bmptopnm", "bmptopnm %f > /dev/null");
    fs::remove_all(root);
    return 0;
}
