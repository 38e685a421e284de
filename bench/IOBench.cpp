// Decodes pictures through the input/output component and through the same libraries' own
// command-line tools on the same files, and prints the two times and their ratio.
//   io_bench [repetitions]   (default 20)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"

namespace {

double TimeComponent(const std::string& path, int repetitions, uint8_t jpegScale, int width = 3000) {
    TKestovaIO io;
    io.Params().JpegScale = jpegScale;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < repetitions; ++i) {
        io.LoadFromFile(path);
        if (io.AbortFlag || io.WorkBitmap().GetWidth() != width / (jpegScale == 4 ? 8 : 1)) {
            std::fprintf(stderr, "cannot load %s\n", path.c_str());
            std::exit(2);
        }
    }
    return SecondsSince(start);
}

double TimeTool(const std::string& command, int repetitions) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < repetitions; ++i)
        if (std::system((command + " > /dev/null 2>&1").c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(2);
        }
    return SecondsSince(start);
}

void Report(const char* what, double ours, double theirs) {
    std::printf("%-28s component %7.3f s   tool %7.3f s   ratio %.2f\n", what, ours, theirs, ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "mordale-io-bench";
    std::filesystem::create_directories(folder);
    const std::string jpeg = (folder / "picture.jpg").string(), bmp = (folder / "picture.bmp").string();
    const std::string png = (folder / "picture.png").string(), gif = (folder / "small.gif").string();
    {
        TKestovaIO writer;
        MakePhotoLikePicture(writer.WorkBitmap(), 3000, 2000);
        writer.SaveToFile(jpeg);
        writer.SaveToFile(bmp);
        writer.SaveToFile(png);
        // GIF pictures are smaller: building their palette is not what is measured.
        MakePhotoLikePicture(writer.WorkBitmap(), 1000, 700);
        writer.SaveToFile(gif);
    }
    std::printf("3000 x 2000 pictures (GIF 1000 x 700), %d decodes each\n", repetitions);
    Report("JPEG full size (djpeg)", TimeComponent(jpeg, repetitions, 1), TimeTool("djpeg -bmp '" + jpeg + "'", repetitions));
    Report("JPEG 1/8 (djpeg -scale 1/8)", TimeComponent(jpeg, repetitions, 4),
           TimeTool("djpeg -bmp -scale 1/8 '" + jpeg + "'", repetitions));
    Report("PNG (pngtopnm)", TimeComponent(png, repetitions, 1), TimeTool("pngtopnm '" + png + "'", repetitions));
    Report("GIF (giftopnm)", TimeComponent(gif, repetitions, 1, 1000), TimeTool("giftopnm '" + gif + "'", repetitions));
    Report("BMP 24-bit (bmptopnm)", TimeComponent(bmp, repetitions, 1), TimeTool("bmptopnm '" + bmp + "'", repetitions));
    std::filesystem::remove_all(folder);
    return 0;
}
