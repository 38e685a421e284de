// The preview of a 24-megapixel JPEG: from loading it into an image view through scaled decoding
// (the view's size, not the picture's) to the painted view, offscreen; beside djpeg decoding the
// same file at the same scale. Goal: at most 300 ms per preview.
//   preview_bench [repetitions]   (default 10)
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaView.h"

namespace {

// What selecting a list item does to the preview: clear, load at the view's size, paint.
void Preview(TKestovaView& view, const std::string& path) {
    view.Clear();
    TKestovaIO& io = *view.GetIO();
    io.Params().JpegScale = 0;
    io.Params().Width = view.ViewWidth();
    io.Params().Height = view.ViewHeight();
    io.LoadFromFile(path);
    if (io.AbortFlag) {
        std::fprintf(stderr, "cannot load %s\n", path.c_str());
        std::exit(2);
    }
    view.Update();
    view.viewport()->repaint();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "mordale-preview-bench";
    std::filesystem::create_directories(folder);
    const std::string jpeg = (folder / "picture.jpg").string();
    {
        TKestovaIO writer;
        MakePhotoLikePicture(writer.WorkBitmap(), 6000, 4000, 2);
        writer.SaveToFile(jpeg);
    }
    TKestovaView view;
    view.resize(323, 230);  // the main window's preview
    view.SetAutoShrink(true);
    view.SetAutoStretch(true);
    view.show();
    Preview(view, jpeg);  // warm-up
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < repetitions; ++i) Preview(view, jpeg);
    const double ours = SecondsSince(start) / repetitions;

    const std::string command = "djpeg -bmp -scale 1/8 '" + jpeg + "' > /dev/null 2>&1";
    const Clock::time_point toolStart = Clock::now();
    for (int i = 0; i < repetitions; ++i)
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            return 2;
        }
    const double tool = SecondsSince(toolStart) / repetitions;
    std::printf("6000 x 4000 JPEG previewed at %d x %d (decoded %d x %d)\n", view.ViewWidth(), view.ViewHeight(),
                view.GetKVBitmap()->GetWidth(), view.GetKVBitmap()->GetHeight());
    std::printf("preview %7.1f ms   djpeg 1/8 %7.1f ms   ratio %.2f   goal 300 ms\n", ours * 1000, tool * 1000, ours / tool);
    std::filesystem::remove_all(folder);
    return 0;
}
