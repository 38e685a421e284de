// Adds every frame of the video named on the command line to the main window's list, as a person
// answers the multi-frame question in the window, and prints the number of rows. The open-count
// test traces it.
#include <QApplication>
#include <QListWidget>
#include <cstdio>

#include "app/engine/ConverterPic.h"
#include "app/window/MainForm.h"
#include "imaging/acquire/MediaProvider.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    QApplication application(argc, argv);
    InstallMediaProvider();
    TMainForm form;
    form.AskFrames = [](TConverterPic&, int& count, int& step) { count = -1, step = 1; };
    form.AddPicture(argv[1], 0);
    std::printf("%d\n", form.SourceList()->count());
    return 0;
}
