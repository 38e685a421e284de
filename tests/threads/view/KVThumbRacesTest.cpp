// The thumbnail view at the worst moments of its background loads: a late result, host events that
// stop the loads or clear the list, and content detection. A format whose reading and detection wait
// at a gate holds a load where the test needs it.
#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "QtTestApplication.h"
#include "TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/view/KestovaMView.h"
#include "platform/Classes.h"

namespace {

// Only a guard against hangs: a wait this long means the code under test stopped for good.
constexpr auto Forever = std::chrono::seconds(30);

const std::thread::id MainThread = std::this_thread::get_id();

// Holds the first background thread that reaches it, once armed, until the test opens it.
class TGate {
public:
    void Arm() {
        const std::lock_guard lock(mutex_);
        armed_ = true;
        entered_ = opened_ = timedOut_ = false;
    }
    void Pass() {
        if (std::this_thread::get_id() == MainThread) return;
        std::unique_lock lock(mutex_);
        if (!armed_) return;
        armed_ = false;
        entered_ = true;
        changed_.notify_all();
        timedOut_ = !changed_.wait_for(lock, Forever, [this] { return opened_; });
    }
    bool WaitEntered() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, Forever, [this] { return entered_; });
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        opened_ = true;
        changed_.notify_all();
    }
    bool TimedOut() {
        const std::lock_guard lock(mutex_);
        return timedOut_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false, entered_ = false, opened_ = false, timedOut_ = false;
};

TGate Gate;

// Ends the process when the guarded scope does not end: a deadlock fails instead of stalling.
class TWatchdog {
public:
    explicit TWatchdog(std::string what)
        : what_(std::move(what)), thread_([this] {
              std::unique_lock lock(mutex_);
              if (!changed_.wait_for(lock, Forever, [this] { return done_; })) {
                  std::fprintf(stderr, "deadlock: %s never returned\n", what_.c_str());
                  std::abort();
              }
          }) {}
    ~TWatchdog() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

constexpr int GatedReadType = 7000, GatedDetectionType = 7001;
constexpr char DetectedContent[] = "GATED";

// Red when read on the main thread, green on a background thread.
void ReadGated(TStream&, TKVBitmap& bitmap, TIOParamsVals&, bool, TKVProgressRec&) {
    Gate.Pass();
    bitmap.Allocate(8, 8, kv24RGB);
    bitmap.Fill(std::this_thread::get_id() == MainThread ? 0x0000FF : 0x00FF00);
}

bool DetectGated(TStream& stream) {
    char start[sizeof DetectedContent - 1] = {};
    if (stream.Read(start, sizeof start) != sizeof start || std::memcmp(start, DetectedContent, sizeof start) != 0)
        return false;
    Gate.Pass();
    return true;
}

uint8_t Red(TKVBitmap& picture) { return picture.GetPixelRGB(1, 1).r; }

class KVThumbRacesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EnsureTestApplication<QApplication>();
        TKVFileFormatEntry read;
        read.FileType = GatedReadType;
        read.Extensions = "GTR";
        read.ReadHook = ReadGated;
        RegisterFileFormat(read);
        TKVFileFormatEntry detected;
        detected.FileType = GatedDetectionType;
        detected.Extensions = "GTD";
        detected.ReadHook = ReadGated;
        detected.TestHook = DetectGated;
        RegisterFileFormat(detected);
    }
    static void TearDownTestSuite() {
        UnregisterFileFormat(GatedReadType);
        UnregisterFileFormat(GatedDetectionType);
    }

    void SetUp() override {
        Gate.Arm();
        view = NewView();
    }
    // No load may stay held at the gate when its view goes.
    void TearDown() override {
        Gate.Open();
        view.reset();
    }

    static std::unique_ptr<TKestovaMView> NewView() {
        auto made = std::make_unique<TKestovaMView>();
        made->resize(300, 200);
        made->SetThumbWidth(40);
        made->SetThumbHeight(40);
        made->SetGridWidth(-1);
        made->SetThreadPoolSize(1);
        made->show();
        return made;
    }

    std::string File(const std::string& name, const std::string& content) {
        const std::string path = folder.Path(name);
        WriteFile(path, content);
        return path;
    }

    static void WaitForLoads(TKestovaMView& shown) {
        while (shown.PendingLoads() > 0) {
            QCoreApplication::processEvents();
            std::this_thread::yield();
        }
        QCoreApplication::processEvents();
    }

    TScratchFolder folder;
    std::unique_ptr<TKestovaMView> view;
};

}  // namespace

// The selected cell's background load still runs when the paint loads it at once; the background
// result that arrives afterwards is dropped.
TEST_F(KVThumbRacesTest, ALateBackgroundResultLeavesTheHeldSelectedPictureAlone) {
    view->InsertImage(0);
    view->SetImageFileName(0, File("late.gtr", "plain"));
    view->Render();
    ASSERT_TRUE(Gate.WaitEntered());
    view->SetSelectedImage(0);
    view->Render();
    TKVBitmap* held = view->GetKVBitmap();
    ASSERT_NE(held, nullptr);
    ASSERT_EQ(Red(*held), 255);
    Gate.Open();
    WaitForLoads(*view);
    view->Render();
    EXPECT_EQ(view->GetKVBitmap(), held);
    EXPECT_EQ(Red(*held), 255);
    EXPECT_EQ(Red(*view->GetBitmap(0)), 255);
}

// A host may stop the loads or clear the list from any event of the paint while a load runs.
TEST_F(KVThumbRacesTest, HostEventsOfThePaintMayStopTheLoadsOrClearTheList) {
    view.reset();
    const std::string file = File("running.gtr", "plain");
    for (const std::string event : {"OnDrawProgress", "OnImageDraw", "OnAllDisplayed"})
        for (const bool clear : {false, true}) {
            const std::string what = event + (clear ? " calling Clear" : " calling StopLoading");
            SCOPED_TRACE(what);
            Gate.Arm();
            std::unique_ptr<TKestovaMView> shown = NewView();
            shown->InsertImage(0);
            shown->SetImageFileName(0, file);
            TKVBitmap picture;
            picture.Allocate(8, 8, kv24RGB);
            shown->InsertImage(1);
            shown->SetImage(1, &picture);
            shown->Render();
            ASSERT_TRUE(Gate.WaitEntered());
            // The next paint loads the entry at once and displays everything while its
            // background load still runs.
            shown->SetSelectedImage(0);
            bool acted = false;
            const auto act = [&] {
                if (acted) return;
                acted = true;
                Gate.Open();
                if (clear)
                    shown->Clear();
                else
                    shown->StopLoading();
            };
            if (event == "OnDrawProgress") shown->OnDrawProgress = [&](int, int) { act(); };
            if (event == "OnImageDraw") shown->OnImageDraw = [&](int, int, int, QPainter&) { act(); };
            if (event == "OnAllDisplayed") shown->OnAllDisplayed = [&] { act(); };
            {
                const TWatchdog watchdog("the paint with " + what);
                shown->Render();
            }
            EXPECT_TRUE(acted);
            EXPECT_EQ(shown->PendingLoads(), 0);
            EXPECT_EQ(shown->GetImageCount(), clear ? 0 : 2);
            Gate.Open();
        }
}

// Detection reads the file: a slow disk must not keep the paint from the lock.
TEST_F(KVThumbRacesTest, ContentDetectionRunsOutsideTheLibrarysLock) {
    view->InsertImage(0);
    view->SetImageFileName(0, File("detected.dat", DetectedContent));
    view->Render();
    ASSERT_TRUE(Gate.WaitEntered());
    {
        // Waits until the gate gives up when the detecting thread holds the lock.
        const std::lock_guard lock(KVGlobalLock);
    }
    Gate.Open();
    WaitForLoads(*view);
    EXPECT_FALSE(Gate.TimedOut());
    view->Render();
    EXPECT_TRUE(view->HasPicture(0));
}
