// A folder of JPEG photographs shown as thumbnails: the time until every visible cell is drawn,
// the time until every picture is loaded (scrolling page by page), and the peak memory of the
// process showing them, beside djpeg decoding each file at 1/8. The files are hard links of one
// encoded picture, so that making the folder takes one encoding; the view runs in a process of its
// own, whose peak memory the encoding does not count in.
//   thumb_bench [files [width height [pool size]]]   (default 1000 files of 6000 x 4000, pool 5)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaMView.h"

namespace {

std::string FileName(int i) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 'p');
    return name.append(".jpg");
}

void WaitForLoads(TKestovaMView& view) {
    while (view.PendingLoads() > 0) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QCoreApplication::processEvents();
}

long PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}


// Shows the folder's files and prints the figures; returns the seconds until all were loaded.
double ShowThumbnails(int argc, char** argv, const std::filesystem::path& folder, int files, int pool) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TKestovaMView view;
    view.resize(800, 600);
    view.SetGridWidth(-1);
    view.SetStoreType(kvtThumb);
    view.SetThreadPoolSize(pool);
    view.show();
    bool visibleDrawn = false;
    view.OnAllDisplayed = [&] { visibleDrawn = true; };
    const Clock::time_point start = Clock::now();
    view.LockPaint();
    for (int i = 0; i < files; ++i) {
        view.InsertImage(i);
        view.SetImageFileName(i, (folder / FileName(i)).string());
    }
    view.UnlockPaint();
    while (!visibleDrawn) {
        view.viewport()->repaint();
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double visible = SecondsSince(start);
    int maxX, maxY;
    view.GetMaxViewXY(maxX, maxY);
    const int page = view.ClientHeight();
    for (int y = 0; y <= maxY + page - 1; y += page) {
        view.SetViewY(std::min(y, maxY));
        view.viewport()->repaint();
        WaitForLoads(view);
    }
    const double all = SecondsSince(start);
    std::printf("visible cells drawn %8.2f s\n", visible);
    std::printf("all loaded          %8.2f s   %6.2f ms per thumbnail\n", all, all * 1000 / files);
    std::printf("peak memory         %8ld MB\n", PeakMegabytes());
    std::fflush(stdout);
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int width = argc > 3 ? std::atoi(argv[2]) : 6000, height = argc > 3 ? std::atoi(argv[3]) : 4000;
    const int pool = argc > 4 ? std::atoi(argv[4]) : 5;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "mordale-thumb-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string first = (folder / "p0.jpg").string();
    {
        TKestovaIO writer;
        MakePhotoLikePicture(writer.WorkBitmap(), width, height, 2);
        writer.SaveToFile(first);
    }
    for (int i = 1; i < files; ++i)
        std::filesystem::create_hard_link(first, folder / FileName(i));
    std::printf("%d JPEGs of %d x %d as 100 x 100 thumbnails, %d background loads\n", files, width, height, pool);
    std::fflush(stdout);
    int channel[2];
    if (pipe(channel) != 0) return 2;
    const pid_t child = fork();
    if (child == 0) {
        const double seconds = ShowThumbnails(argc, argv, folder, files, pool);
        _exit(write(channel[1], &seconds, sizeof seconds) == sizeof seconds ? 0 : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    double all = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || read(channel[0], &all, sizeof all) != sizeof all) return 2;
    const std::string command = "for f in '" + folder.string() + "'/*.jpg; do djpeg -bmp -scale 1/8 \"$f\" > /dev/null || exit 1; done";
    const Clock::time_point toolStart = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return 2;
    }
    const double tool = SecondsSince(toolStart);
    std::printf("djpeg -scale 1/8    %8.2f s   %6.2f ms per file   ratio %.2f\n", tool, tool * 1000 / files, all / tool);
    std::filesystem::remove_all(folder);
    return 0;
}
