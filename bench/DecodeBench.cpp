// Decoding throughput of the JPEG (full size and 1/8), PNG and GIF drivers beside the libraries'
// own command-line decoders on the same files, measured in the same run.
//   decode_bench [repeats]   (default 10)
// Prints, per format, our time per picture, the tool's, and their ratio (goal: at most 1.15).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVGifFilter.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/io/KVLzw.h"
#include "imaging/io/KVPngFilter.h"
#include "imaging/core/KVProgress.h"

namespace {

bool Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Best of three rounds of repeats, per picture.
double Best(int repeats, const std::function<void()>& once) {
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        for (int i = 0; i < repeats; ++i) once();
        best = std::min(best, SecondsSince(start) / repeats);
    }
    return best;
}

struct TDecoder {
    const char* name;
    const char* file;
    std::string toolCommand;  // decodes the file once; %f is the file
    std::function<bool(TStream&)> ours;
};

void Report(const TDecoder& decoder, const std::string& folder, int repeats) {
    const std::string path = folder + "/" + decoder.file;
    TMemoryStream stream;
    stream.LoadFromFile(path);
    if (!decoder.ours(stream)) {
        std::printf("%-14s our decoder failed\n", decoder.name);
        return;
    }
    const double ours = Best(repeats, [&] {
        stream.SetPosition(0);
        decoder.ours(stream);
    });
    std::string command = decoder.toolCommand;
    command.replace(command.find("%f"), 2, "'" + path + "'");
    const std::string loop = "for i in $(seq " + std::to_string(repeats) + "); do " + command + "; done";
    const double tool = Best(1, [&] { Run(loop); }) / repeats;
    std::printf("%-14s ours %8.2f ms   tool %8.2f ms   ratio %.2f\n", decoder.name, ours * 1e3, tool * 1e3, ours / tool);
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    char folderTemplate[] = "/tmp/decode-bench-XXXXXX";
    if (!mkdtemp(folderTemplate)) return 2;
    const std::string folder = folderTemplate;
    const std::string prepare = "cd '" + folder + "' && convert -seed 7 -size 2400x1600 plasma:fractal -blur 0x1 photo.ppm"
                                " && cjpeg -quality 85 photo.ppm > photo.jpg && convert photo.ppm photo.png"
                                " && convert photo.ppm -resize 50% -colors 256 photo.gif";
    if (!Run(prepare)) {
        std::fprintf(stderr, "could not make the pictures (ImageMagick and cjpeg are needed)\n");
        return 2;
    }
    std::atomic<bool> abortFlag{false};
    TKVProgressRec progress;
    progress.AbortFlag = &abortFlag;
    auto jpeg = [&](int scale) {
        return [&, scale](TStream& stream) {
            TIOParamsVals params(nullptr);
            params.JpegScale = uint8_t(scale);
            TKVBitmap bitmap;
            abortFlag = false;
            ReadJPEGStream(stream, nullptr, bitmap, true, false, true, false, false, progress, params);
            return !abortFlag;
        };
    };
    const TDecoder decoders[] = {
        {"JPEG", "photo.jpg", "djpeg -outfile /dev/null %f", jpeg(1)},
        {"JPEG 1/8", "photo.jpg", "djpeg -scale 1/8 -outfile /dev/null %f", jpeg(4)},
        {"PNG", "photo.png", "pngtopnm %f > /dev/null",
         [&](TStream& stream) {
             TIOParamsVals params(nullptr);
             TKVBitmap bitmap;
             std::unique_ptr<TKVMask> mask;
             abortFlag = false;
             ReadPNGStream(stream, bitmap, params, false, mask, false, progress);
             return !abortFlag;
         }},
        {"GIF", "photo.gif", "giftopnm %f > /dev/null",
         [&](TStream& stream) {
             TIOParamsVals params(nullptr);
             params.GifLZWDecompressor = GIFLZWDecode;
             TKVBitmap bitmap;
             std::unique_ptr<TKVMask> mask;
             int count = 0;
             abortFlag = false;
             ReadGIFStream(stream, bitmap, count, false, mask, false, progress, params);
             return !abortFlag;
         }},
    };
    std::printf("decoding a 2400x1600 picture (GIF 1200x800), best of 3 rounds of %d\n", repeats);
    for (const TDecoder& decoder : decoders) Report(decoder, folder, repeats);
    std::filesystem::remove_all(folder);
    return 0;
}
