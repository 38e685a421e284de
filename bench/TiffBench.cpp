// Decodes TIFF files through the input/output component and through libtiff's tiffcp (to an
// uncompressed copy) on the same files, and prints the two processor times and their ratio.
//   tiff_bench [repetitions]   (default 10)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"

namespace {

void Run(const std::string& command) {
    if (std::system(("{ " + command + "; } > /dev/null 2>&1").c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(2);
    }
}

// A photograph-like colour picture and a text-like fax page, as netpbm files.
void WritePictures(const std::string& ppm, const std::string& pbm) {
    std::ofstream colour(ppm, std::ios::binary);
    colour << "P6\n3000 2000\n255\n";
    for (int y = 0; y < 2000; ++y)
        for (int x = 0; x < 3000; ++x)
            colour << char(x / 12 + ((x * y) >> 12)) << char(y / 8 + (x ^ y) % 16) << char((x + y) / 20);
    std::ofstream fax(pbm, std::ios::binary);
    fax << "P4\n2480 3508\n";
    for (int y = 0; y < 3508; ++y)
        for (int x = 0; x < 2480 / 8; ++x) {
            const bool line = y % 40 < 24 && x % 37 < 30 && y > 200 && y < 3300;
            fax << char(line ? ((x * 7 + y / 3) % 5 == 0 ? 0xFF : (x * 13 + y) & 0x99) : 0);
        }
}

double TimeComponent(const std::string& path, int repetitions) {
    TKestovaIO io;
    const double start = ProcessorSeconds(RUSAGE_SELF);
    for (int i = 0; i < repetitions; ++i) {
        io.LoadFromFile(path);
        if (io.AbortFlag) {
            std::fprintf(stderr, "cannot load %s\n", path.c_str());
            std::exit(2);
        }
    }
    return ProcessorSeconds(RUSAGE_SELF) - start;
}

double TimeTool(const std::string& path, const std::string& out, int repetitions) {
    const double start = ProcessorSeconds(RUSAGE_CHILDREN);
    for (int i = 0; i < repetitions; ++i) Run("tiffcp -c none '" + path + "' '" + out + "'");
    return ProcessorSeconds(RUSAGE_CHILDREN) - start;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "mordale-tiff-bench";
    std::filesystem::create_directories(folder);
    const auto at = [&](const char* name) { return (folder / name).string(); };
    WritePictures(at("colour.ppm"), at("fax.pbm"));
    Run("pnmtotiff '" + at("colour.ppm") + "' > '" + at("colour.tif") + "'");
    Run("pnmtotiff '" + at("fax.pbm") + "' > '" + at("fax.tif") + "'");
    struct Case { const char* what; std::string source, options, file; } cases[] = {
        {"LZW with predictor", at("colour.tif"), "-c lzw:2", at("lzw2.tif")},
        {"PackBits", at("colour.tif"), "-c packbits", at("packbits.tif")},
        {"Group 4 (A4 page)", at("fax.tif"), "-c g4", at("g4.tif")},
    };
    std::printf("3000 x 2000 colour, 2480 x 3508 bilevel; %d decodes each, processor time, best of 3\n", repetitions);
    for (const Case& c : cases) {
        Run("tiffcp " + c.options + " '" + c.source + "' '" + c.file + "'");
        // The best of three rounds each, alternating: other work on the machine only adds time.
        double ours = 1e30, theirs = 1e30;
        for (int round = 0; round < 3; ++round) {
            ours = std::min(ours, TimeComponent(c.file, repetitions));
            theirs = std::min(theirs, TimeTool(c.file, at("out.tif"), repetitions));
        }
        std::printf("%-22s component %7.3f s   tiffcp -c none %7.3f s   ratio %.2f\n", c.what, ours, theirs, ours / theirs);
    }
    std::filesystem::remove_all(folder);
}
