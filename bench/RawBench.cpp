// Camera raw decoding: a synthetic 24-megapixel file of 12-bit samples (lossless JPEG in a TIFF
// container) decoded with bilinear interpolation, beside our JPEG driver decoding a JPEG of the
// same size, and the time of each stage of the raw decode.
//   raw_bench [repeats]   (default 3)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "BenchSupport.h"
#include "RawWriters.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/raw/KVRaw.h"
#include "imaging/raw/RawStages.h"
#include "platform/Classes.h"

namespace {

constexpr int width = 6000, height = 4000;

double Best(int repeats, const std::function<void()>& once) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        once();
        best = std::min(best, SecondsSince(start));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const TRaster raster{height, width, KnownMosaic(0x61616161, height, width, 4000)};
    const TBytes raw = WriteCanonLosslessJpeg(raster);

    TKVBitmap picture;
    MakePhotoLikePicture(picture, width, height, 4);
    TMemoryStream jpeg;
    {
        TIOParamsVals params(nullptr);
        TKVProgressRec progress;
        WriteJPEGStream(jpeg, picture, params, progress);
    }

    const double rawTime = Best(repeats, [&] {
        TKVMemStream stream(raw.data(), int64_t(raw.size()));
        TKVBitmap bitmap;
        TIOParamsVals params(nullptr);
        TKVProgressRec progress;
        KVReadRawStream(stream, bitmap, params, false, progress);
    });
    const double jpegTime = Best(repeats, [&] {
        jpeg.SetPosition(0);
        TKVBitmap bitmap;
        TIOParamsVals params(nullptr);
        TKVProgressRec progress;
        ReadJPEGStream(jpeg, nullptr, bitmap, true, false, true, false, false, progress, params);
    });
    std::printf("24 MP raw (12-bit lossless JPEG, %.1f MB): %.3f s\n", double(raw.size()) / 1e6, rawTime);
    std::printf("24 MP JPEG (%.1f MB), our driver:        %.3f s   raw / JPEG = %.2f\n",
                double(jpeg.Size()) / 1e6, jpegTime, rawTime / jpegTime);

    // Where the time goes: the stages one by one on one decode.
    TKVRawContext context(raw);
    RawIdentifyFile(context);
    context.imageHeight = context.height, context.imageWidth = context.width;
    const std::pair<const char*, std::function<void()>> stages[] = {
        {"pixel array (8 bytes a pixel)",
         [&] { context.image.assign(size_t(context.height) * size_t(context.width), TRawPixel{}); }},
        {"loader (Huffman decoding)", [&] { context.loader(context); }},
        {"white balance", [&] { RawBalanceWhites(context); }},
        {"bilinear interpolation", [&] { context.border = 1, RawInterpolate(context); }},
        {"colour mixing and histogram", [&] { RawMixChannels(context); }},
    };
    double staged = 0;
    for (const auto& [name, run] : stages) {
        const auto start = Clock::now();
        run();
        const double t = SecondsSince(start);
        staged += t;
        std::printf("  %-30s %.3f s\n", name, t);
    }
    std::printf("  %-30s %.3f s\n", "the rest (reading, identifying, tone curve, output rows)", std::max(rawTime - staged, 0.0));
    return 0;
}
