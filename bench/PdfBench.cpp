// The writer's speed and memory beside peer tools on the same input, in the same run:
//   pdf_bench [pictures] [rounds]   (defaults 200 and 5)
// - a book of JPEG files passed through, 4 per page, beside `cat` of the same files and, where
//   installed, img2pdf: rounds run in turns and the medians and the median ratio are printed;
// - the book's peak memory for a quarter of the pictures and for all of them (flat when it streams);
// - one 8000 x 8000 bitmap under Flate: peak memory above the picture's own size, beside
//   ImageMagick writing the same picture as a Flate PDF.
// Every run is a child process, so its peak memory is its own.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/engine/PictureFiles.h"
#include "pdf/PdfKalmora.h"
#include "platform/Jpeg.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time, less disturbed by a busy machine
    double peakMb = 0;
    bool ok = false;
};

TRun Finished(pid_t pid, Clock::time_point start) {
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return {std::chrono::duration<double>(Clock::now() - start).count(),
            seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss / 1024.0,
            WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

// Runs the body in a child process; its result is the exit status.
TRun RunChild(const std::function<int()>& body) {
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        int status = 1;
        try {
            status = body();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
        }
        std::fflush(stdout);
        ::_exit(status);
    }
    return Finished(pid, start);
}

// Runs a program with its standard output in a file.
TRun RunProgram(const std::vector<std::string>& arguments, const std::string& output = "/dev/null") {
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return Finished(pid, start);
}

bool Installed(const std::string& program) { return RunProgram({"sh", "-c", "command -v " + program}).ok; }

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

// Four pictures a page with captions, as the application's book mode writes them.
int WriteJpegBook(const std::string& fileName, const std::vector<std::string>& jpegs) {
    TPdfKalmora pdf;
    pdf.SetFileName(fileName);
    pdf.SetImageCompressMode(cpJpeg);
    pdf.BeginDoc();
    const TRect cells[4] = {Rect(100, 250, 1000, 1400), Rect(1100, 250, 2000, 1400), Rect(100, 1600, 1000, 2750),
                            Rect(1100, 1600, 2000, 2750)};
    for (size_t i = 0; i < jpegs.size(); ++i) {
        if (i > 0 && i % 4 == 0) pdf.NewPage();
        const TRect& cell = cells[i % 4];
        pdf.Canvas().TextBox(cell.Left, cell.Top - 100, cell.Right, cell.Top, 2, 2, "Picture " + std::to_string(i + 1));
        pdf.Canvas().StretchDrawFile(cell, jpegs[i]);
        pdf.Canvas().AddBookmark(cell.Left, cell.Top, "Picture " + std::to_string(i + 1), 1, true);
    }
    pdf.EndDoc();
    return 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long PeakKbOfSelf() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    InstallPictureFiles();  // the writer reads picture files through the program's reader
    const int pictures = argc > 1 ? std::max(4, std::atoi(argv[1])) : 200;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string folder = (std::filesystem::temp_directory_path() / "pdf_bench").string();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);

    // Eight distinct photographs of 2400 x 1600, each saved under many names.
    std::vector<std::string> jpegs;
    uintmax_t jpegBytes = 0;
    for (int i = 0; i < 8; ++i) {
        TJPEGImage jpeg;
        jpeg.SetCompressionQuality(85);
        jpeg.Assign(MakeBitmap(i, 2400, 1600));
        jpeg.SaveToFile(folder + "/source" + std::to_string(i) + ".jpg");
    }
    for (int i = 0; i < pictures; ++i) {
        jpegs.push_back(folder + "/picture" + std::to_string(i) + ".jpg");
        std::filesystem::copy_file(folder + "/source" + std::to_string(i % 8) + ".jpg", jpegs.back());
        jpegBytes += std::filesystem::file_size(jpegs.back());
    }
    std::printf("JPEG book: %d pictures of 2400x1600, %.1f MB, 4 per page, %d rounds\n", pictures, jpegBytes / 1e6,
                rounds);

    // The font machinery starts once per process, as in the application before its first book;
    // the children inherit it instead of timing it.
    WriteJpegBook(folder + "/warm-up.pdf", {jpegs.front()});
    const bool img2pdf = Installed("img2pdf");
    std::vector<std::string> catCommand = {"cat"}, img2pdfCommand = {"img2pdf", "-o", folder + "/img2pdf.pdf"};
    catCommand.insert(catCommand.end(), jpegs.begin(), jpegs.end());
    // Our document reaches the disk before it replaces the old one; cat followed by sync of its
    // file gives the same guarantee.
    const std::vector<std::string> syncCommand = {"sync", folder + "/cat.bin"};
    img2pdfCommand.insert(img2pdfCommand.end(), jpegs.begin(), jpegs.end());
    std::vector<double> cat, catSync, ours, peer, ratios, syncRatios, peerRatios, cpuRatios, peerCpuRatios;
    TRun ourRun, peerRun, catRun;
    for (int round = 0; round < rounds; ++round) {
        catRun = RunProgram(catCommand, folder + "/cat.bin");
        const TRun syncRun = RunProgram(syncCommand);
        ourRun = RunChild([&] { return WriteJpegBook(folder + "/book.pdf", jpegs); });
        if (!catRun.ok || !ourRun.ok) {
            std::printf("a run failed\n");
            return 1;
        }
        cat.push_back(catRun.seconds);
        catSync.push_back(catRun.seconds + syncRun.seconds);
        syncRatios.push_back(ourRun.seconds / (catRun.seconds + syncRun.seconds));
        ours.push_back(ourRun.seconds);
        ratios.push_back(ourRun.seconds / catRun.seconds);
        cpuRatios.push_back(ourRun.cpuSeconds / catRun.cpuSeconds);
        if (img2pdf) {
            peerRun = RunProgram(img2pdfCommand);
            peer.push_back(peerRun.seconds);
            peerRatios.push_back(peerRun.seconds / catRun.seconds);
            peerCpuRatios.push_back(peerRun.cpuSeconds / catRun.cpuSeconds);
        }
    }
    std::printf("  %-22s %7.3f s  peak %7.1f MB\n", "cat", Median(cat), catRun.peakMb);
    std::printf("  %-22s %7.3f s\n", "cat, then sync", Median(catSync));
    std::printf("  %-22s %7.3f s  peak %7.1f MB  time / cat %.2f (goal <= 1.5), processor time / cat %.2f,"
                " time / (cat, then sync) %.2f\n",
                "ours", Median(ours), ourRun.peakMb, Median(ratios), Median(cpuRatios), Median(syncRatios));
    if (img2pdf)
        std::printf("  %-22s %7.3f s  peak %7.1f MB  time / cat %.2f, processor time / cat %.2f\n", "img2pdf",
                    Median(peer), peerRun.peakMb, Median(peerRatios), Median(peerCpuRatios));

    const std::vector<std::string> quarter(jpegs.begin(), jpegs.begin() + pictures / 4);
    const TRun small = RunChild([&] { return WriteJpegBook(folder + "/quarter.pdf", quarter); });
    std::printf("  peak memory of our book: %zu pictures %.1f MB, %d pictures %.1f MB (flat when equal)\n",
                quarter.size(), small.peakMb, pictures, ourRun.peakMb);
    for (const std::string& jpeg : jpegs) std::filesystem::remove(jpeg);

    // One large bitmap under Flate: what the writer holds beyond the picture itself.
    const int side = 8000;
    const double pictureMb = double(side) * side * 3 / (1 << 20);
    const std::string ppm = folder + "/large.ppm";
    const TRun flate = RunChild([&] {
        const TBitmap bitmap = MakeBitmap(1, side, side);
        {
            // The same picture for the peer tool.
            std::ofstream out(ppm, std::ios::binary);
            out << "P6\n" << side << " " << side << "\n255\n";
            std::vector<char> row(size_t(side) * 3);
            for (int y = 0; y < side; ++y) {
                const uint8_t* bgr = bitmap.ScanLine(y);
                for (int x = 0; x < side; ++x) {
                    row[size_t(3 * x)] = char(bgr[3 * x + 2]);
                    row[size_t(3 * x + 1)] = char(bgr[3 * x + 1]);
                    row[size_t(3 * x + 2)] = char(bgr[3 * x]);
                }
                out.write(row.data(), std::streamsize(row.size()));
            }
        }
        const long before = PeakKbOfSelf();
        const auto start = Clock::now();
        TPdfKalmora pdf;
        pdf.SetFileName(folder + "/large.pdf");
        pdf.SetImageCompressMode(cpZlib);
        pdf.BeginDoc();
        pdf.Canvas().StretchDraw(Rect(100, 100, 2000, 2000), &bitmap);
        pdf.EndDoc();
        std::printf("  8000x8000 under Flate: %.2f s to draw and write; picture %.0f MB, peak %.0f MB before"
                    " drawing, %.0f MB after: %.2f times the picture held beside it\n",
                    std::chrono::duration<double>(Clock::now() - start).count(), pictureMb, before / 1024.0,
                    PeakKbOfSelf() / 1024.0, (PeakKbOfSelf() - before) / 1024.0 / pictureMb);
        return 0;
    });
    std::printf("  8000x8000 under Flate, ours (with making the picture): %6.2f s  peak %7.1f MB\n", flate.seconds,
                flate.peakMb);
    if (img2pdf) {
        // img2pdf stores such a picture with Flate as well.
        const TRun peerFlate = RunProgram({"img2pdf", "-o", folder + "/large-img2pdf.pdf", ppm});
        if (peerFlate.ok)
            std::printf("  8000x8000 under Flate, img2pdf from a PPM file:     %6.2f s  peak %7.1f MB\n",
                        peerFlate.seconds, peerFlate.peakMb);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
