#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <vector>

#include "../imaging/PictureFixtures.h"
#include "QtTestApplication.h"
#include "imaging/view/KVQueuedEvents.h"
#include "imaging/view/KestovaView.h"

TEST(KestovaViewBackground, APictureLoadedInTheBackgroundIsShownOnTheViewsThread) {
    EnsureTestApplication<QApplication>();
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(12, 7));
    const std::string png = MakeFixture(folder.Path("p.png"), "convert " + Quoted(folder.Path("p.ppm")) +
                                                                  " -units PixelsPerInch -density 150 " +
                                                                  Quoted(folder.Path("p.png")));
    TKestovaView view;
    std::vector<bool> changesOnGuiThread;
    view.OnImageChange = [&] { changesOnGuiThread.push_back(QThread::currentThread() == qApp->thread()); };
    TKestovaIO* io = view.GetIO();
    io->Asynchronous = true;
    io->LoadFromFile(png);
    io->WaitThreads(false);
    ASSERT_FALSE(io->AbortFlag);
    // The picture is in the view's image, but the view has only been asked to show it.
    EXPECT_TRUE(SamePixels(PixelsOf(*view.GetKVBitmap()), ParsePpm(ReadFile(folder.Path("p.ppm")))));
    EXPECT_TRUE(changesOnGuiThread.empty());
    EXPECT_NE(view.ResolutionX(), 150);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(changesOnGuiThread, std::vector<bool>{true});
    EXPECT_EQ(view.ResolutionX(), 150);
    EXPECT_EQ(view.ResolutionY(), 150);
}

TEST(KestovaViewBackground, DestroyingTheViewStopsItsBackgroundLoads) {
    EnsureTestApplication<QApplication>();
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(300, 200));
    int changes = 0;
    {
        TKestovaView view;
        view.OnImageChange = [&] { ++changes; };
        TKestovaIO* io = view.GetIO();
        io->Asynchronous = true;
        for (int i = 0; i < 5; ++i) io->LoadFromFile(folder.Path("p.ppm"));
    }
    // Nothing posted to the freed view is run.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(changes, 0);
}

TEST(KestovaViewBackground, QueuedEventsArriveOnTheWindowsThread) {
    EnsureTestApplication<QApplication>();
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(20, 10));
    TKVBitmap bitmap;
    TKestovaIO io;
    io.AttachBitmap(&bitmap);
    io.Asynchronous = true;
    QObject window;
    std::vector<int> percents;
    int finished = 0, elsewhere = 0;
    const auto onGuiThread = [&](TObject* sender) {
        if (sender != &io || QThread::currentThread() != qApp->thread()) ++elsewhere;
    };
    io.OnProgress = KVQueuedProgress(&window, [&](TObject* sender, int percent) {
        onGuiThread(sender);
        percents.push_back(percent);
    });
    io.OnFinishWork = KVQueuedNotify(&window, [&](TObject* sender) {
        onGuiThread(sender);
        ++finished;
    });
    io.LoadFromFile(folder.Path("p.ppm"));
    io.WaitThreads(false);
    EXPECT_TRUE(percents.empty());
    EXPECT_EQ(finished, 0);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(finished, 1);
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(elsewhere, 0);
}
