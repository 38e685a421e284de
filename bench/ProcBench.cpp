// Resampling and pixel-format conversion beside ImageMagick on the same picture, single-threaded.
//   proc_bench [width height]   (default 4000 3000, resampled to 800 x 600)
// Prints our time, ImageMagick's time (its reading of the picture subtracted) and their ratio.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "BenchSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVResample.h"
#include "platform/Files.h"

namespace {

// The best of three runs, so that a busy moment of the machine does not decide.
double Best(const std::function<void()>& run) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, SecondsSince(start));
    }
    return best;
}

double RunMagick(const std::string& arguments) {
    const std::string command = "convert -limit thread 1 " + arguments + " >/dev/null 2>&1";
    return Best([&] {
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    });
}

// Photograph-like content: smooth gradients, waves and hard edges.
void Paint(TKVBitmap& bitmap) {
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        auto* row = reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y));
        for (int x = 0; x < bitmap.GetWidth(); ++x) {
            const bool block = (x / 97 + y / 61) % 5 == 0;
            row[x] = TKVRGB{uint8_t(127 + 120 * std::sin(x * 0.013) * std::cos(y * 0.021)),
                            uint8_t(block ? 30 : (x + 2 * y) / 31), uint8_t((x ^ y) / 16)};
        }
    }
}

void WritePpm(TKVBitmap& bitmap, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fprintf(file, "P6\n%d %d\n255\n", bitmap.GetWidth(), bitmap.GetHeight());
    std::string row(size_t(bitmap.GetWidth()) * 3, '\0');
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const auto* pixels = reinterpret_cast<const TKVRGB*>(bitmap.GetScanline(y));
        for (int x = 0; x < bitmap.GetWidth(); ++x) {
            row[size_t(x) * 3] = char(pixels[x].r);
            row[size_t(x) * 3 + 1] = char(pixels[x].g);
            row[size_t(x) * 3 + 2] = char(pixels[x].b);
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    std::fclose(file);
}

void Line(const char* what, double ours, double theirs) {
    std::printf("%-34s ours %8.1f ms   ImageMagick %8.1f ms   ratio %5.2f\n", what, ours * 1000, theirs * 1000,
                ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
    const int width = argc > 2 ? std::atoi(argv[1]) : 4000, height = argc > 2 ? std::atoi(argv[2]) : 3000;
    const int targetWidth = width / 5, targetHeight = height / 5;
    char folderTemplate[] = "/tmp/proc-bench-XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    TKVBitmap source;
    source.SetMemoryThreshold(INT64_MAX);
    source.Allocate(width, height, kv24RGB);
    Paint(source);
    // ImageMagick reads its own cache format without decoding; that read is subtracted below.
    const std::string input = folder + "/in.mpc";
    WritePpm(source, folder + "/in.ppm");
    if (std::system(("convert " + folder + "/in.ppm " + input).c_str()) != 0) return 1;
    const double reading = RunMagick(input + " null:");
    std::printf("%d x %d, 24-bit, to %d x %d; ImageMagick's read of %.1f ms subtracted\n", width, height, targetWidth,
                targetHeight, reading * 1000);

    const std::string size = std::to_string(targetWidth) + "x" + std::to_string(targetHeight) + "!";
    const struct {
        TResampleFilter filter;
        const char* name;
        const char* magick;
    } filters[] = {
        {rfNone, "nearest (rfNone)", "Point"},          {rfTriangle, "triangle kernel", "Triangle"},
        {rfLanczos3, "Lanczos 3 kernel", "Lanczos"},    {rfMitchell, "Mitchell kernel", "Mitchell"},
        {rfBSpline, "B-spline kernel", "Spline"},       {rfFastLinear, "fast linear", "Triangle"},
        {rfBilinear, "area bilinear", "Triangle"},      {rfBicubic, "area bicubic", "Catrom"},
        {rfProjectBW, "projection to 1-bit", "Box"},
    };
    for (const auto& f : filters) {
        TKVBitmap dest;
        dest.SetMemoryThreshold(INT64_MAX);
        const double ours = Best([&] {
            dest.Allocate(targetWidth, targetHeight, kv24RGB);
            KVResampleBitmap(source, dest, f.filter);
        });
        const double theirs = RunMagick(input + " -filter " + f.magick + " -resize " + size + " null:") - reading;
        Line(f.name, ours, theirs);
    }

    const struct {
        TKVPixelFormat format;
        const char* name;
        const char* magick;
    } conversions[] = {
        {kv8Gray, "24-bit to 8-bit gray", "-colorspace Gray"},
        {kv1Bit, "24-bit to 1-bit (mean threshold)", "-colorspace Gray -threshold 50%"},
        {kv8Paletted, "24-bit to 256 colours", "+dither -colors 256"},
        {kvCMYK, "24-bit to CMYK", "-colorspace CMYK"},
    };
    // Each conversion works on a fresh copy; the copying is subtracted.
    auto convertCopy = [&](TKVPixelFormat format) {
        TKVBitmap copy;
        copy.SetMemoryThreshold(INT64_MAX);
        copy.Assign(&source);
        copy.SetPixelFormat(format);
    };
    const double copying = Best([&] { convertCopy(kv24RGB); });
    for (const auto& c : conversions) {
        const double ours = Best([&] { convertCopy(c.format); }) - copying;
        const double theirs = RunMagick(input + " " + c.magick + " null:") - reading;
        Line(c.name, ours, theirs);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
