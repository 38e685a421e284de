// Writes picture books and compares them with plain copying of the same input bytes.
//   pdf_bench [pictures]   (default 200)
// Exit status 1 when the JPEG pass-through book takes more than 2.5 times the copy time.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pdf/PdfKalmora.h"
#include "platform/Files.h"
#include "platform/Jpeg.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Resident memory of the process in kilobytes.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// A picture that differs from its neighbours, so no two compress alike.
TBitmap MakeBitmap(int index, int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>((x + index * 7) ^ (y >> 2));
            row[3 * x + 1] = static_cast<uint8_t>(y + index * 13);
            row[3 * x + 2] = static_cast<uint8_t>((x * y) >> 8);
        }
    }
    return bitmap;
}

struct TBookResult {
    double seconds;
    long residentGrowthKb;  // between a quarter of the book and its end
};

// One picture per page with a caption, as the application's book mode writes them.
template <typename DrawPicture>
TBookResult WriteBook(const std::string& fileName, int pictures, TPdfCompressMode mode, DrawPicture draw) {
    TPdfKalmora pdf;
    pdf.SetFileName(fileName);
    pdf.SetImageCompressMode(mode);
    const auto start = Clock::now();
    pdf.BeginDoc();
    pdf.Canvas().AlwaysNewImage = true;
    long quarterKb = 0;
    for (int i = 0; i < pictures; ++i) {
        if (i > 0) pdf.NewPage();
        if (i == pictures / 4) quarterKb = ResidentKb();
        pdf.Canvas().TextBox(100, 100, 2000, 200, 2, 2, "Picture " + std::to_string(i + 1));
        draw(pdf.Canvas(), i, Rect(100, 250, 2000, 2800));
        pdf.Canvas().AddBookmark(100, 100, "Picture " + std::to_string(i + 1), 1, true);
    }
    pdf.EndDoc();
    return {SecondsSince(start), ResidentKb() - quarterKb};
}

void Report(const char* name, int pictures, double megabytes, const TBookResult& result) {
    std::printf("%-28s %7.2f s %8.1f pictures/s %8.1f MB/s   memory growth %ld kB\n", name, result.seconds,
                pictures / result.seconds, megabytes / result.seconds, result.residentGrowthKb);
}

}  // namespace

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const std::string folder = (std::filesystem::temp_directory_path() / "pdf_bench").string();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);

    std::vector<std::string> jpegs;
    int64_t jpegBytes = 0;
    for (int i = 0; i < pictures; ++i) {
        TJPEGImage jpeg;
        jpeg.SetCompressionQuality(85);
        jpeg.Assign(MakeBitmap(i, 1600, 1200));
        jpegs.push_back(folder + "/picture" + std::to_string(i) + ".jpg");
        jpeg.SaveToFile(jpegs.back());
        jpegBytes += int64_t(jpeg.Data().size());
    }
    const double jpegMegabytes = double(jpegBytes) / 1e6;

    // Plain copy: every input byte read and written to one file, replaced atomically like a document.
    auto start = Clock::now();
    {
        TAtomicFile copy(folder + "/copy.bin");
        std::vector<char> buffer(1 << 20);
        for (const std::string& name : jpegs) {
            TFileStream input(name, fmOpenRead);
            for (int64_t n; (n = input.Read(buffer.data(), int64_t(buffer.size()))) > 0;)
                copy.Stream().WriteBuffer(buffer.data(), n);
        }
        copy.Commit();
    }
    const double copySeconds = SecondsSince(start);
    std::printf("%d pictures, %.1f MB of JPEG data\n", pictures, jpegMegabytes);
    std::printf("%-28s %7.2f s %8.1f pictures/s %8.1f MB/s\n", "plain copy", copySeconds, pictures / copySeconds,
                jpegMegabytes / copySeconds);

    const TBookResult passThrough =
        WriteBook(folder + "/jpeg-book.pdf", pictures, cpJpeg,
                  [&](TPdfCanvas& canvas, int i, const TRect& rect) { canvas.StretchDrawFile(rect, jpegs[size_t(i)]); });
    Report("JPEG files passed through", pictures, jpegMegabytes, passThrough);

    const int width = 800, height = 600;
    const double bitmapMegabytes = double(pictures) * width * height * 3 / 1e6;
    // A few pictures made beforehand keep their making out of the timing; every drawing is stored anew.
    std::vector<TBitmap> bitmaps;
    for (int i = 0; i < 8; ++i) bitmaps.push_back(MakeBitmap(i, width, height));
    auto drawBitmap = [&](TPdfCanvas& canvas, int i, const TRect& rect) {
        canvas.StretchDraw(rect, &bitmaps[size_t(i) % bitmaps.size()]);
    };
    Report("24-bit bitmaps, cpJpeg", pictures, bitmapMegabytes, WriteBook(folder + "/jpeg.pdf", pictures, cpJpeg, drawBitmap));
    Report("24-bit bitmaps, cpZlib", pictures, bitmapMegabytes, WriteBook(folder + "/zlib.pdf", pictures, cpZlib, drawBitmap));

    const double ratio = passThrough.seconds / copySeconds;
    std::printf("pass-through / copy: %.2f (bound 2.5)\n", ratio);
    std::filesystem::remove_all(folder);
    return ratio <= 2.5 ? 0 : 1;
}
