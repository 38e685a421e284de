// The background loads of the thumbnail view while the user scrolls, inserts and deletes.
#include <gtest/gtest.h>

#include <QApplication>
#include <map>
#include <thread>

#include "QtTestApplication.h"
#include "TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaMView.h"

namespace {

constexpr int FileCount = 500;

// Each file is of a colour of its own.
TColor ColorOf(int i) { return TColor(0x4D0000 | ((i >> 8) * 60 + 30) << 8 | (i & 0xFF)); }

uint32_t Packed(const TKVRGB& p) { return uint32_t(p.r | p.g << 8 | p.b << 16); }

class KVThumbLoaderTest : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() {
        EnsureTestApplication<QApplication>();
        folder = new TScratchFolder;
        for (int i = 0; i < FileCount; ++i) {
            TKestovaIO io;
            io.WorkBitmap().Allocate(12, 8, kv24RGB);
            io.WorkBitmap().Fill(ColorOf(i));
            const std::string name = folder->Path("p" + std::to_string(i) + ".bmp");
            io.SaveToFile(name);
            // What a load of its own gives is what the view must end with.
            TKestovaIO reader;
            reader.LoadFromFile(name);
            decoded[name] = Packed(reader.WorkBitmap().GetPixelRGB(3, 3));
        }
    }
    static void TearDownTestSuite() {
        delete folder;
        decoded.clear();
    }

    void SetUp() override {
        view = std::make_unique<TKestovaMView>();
        view->resize(300, 200);
        view->SetThumbWidth(40);
        view->SetThumbHeight(40);
        view->SetGridWidth(-1);
        view->ReleaseDistance = -1;  // keep every picture for the check
        view->SetThreadPoolSize(GetParam());
        view->show();
        view->LockPaint();
        for (int i = 0; i < FileCount; ++i) {
            view->InsertImage(i);
            view->SetImageFileName(i, Name(i));
        }
        view->UnlockPaint();
    }

    static std::string Name(int i) { return folder->Path("p" + std::to_string(i) + ".bmp"); }

    // Renders every place from the top to the bottom, `step` pixels at a time; waiting there for
    // the loads, or passing on at once, which cancels the loads of the cells left behind.
    void Scroll(int step, bool wait) {
        int maxX, maxY;
        view->GetMaxViewXY(maxX, maxY);
        for (int y = 0; y <= maxY + step - 1; y += step) {
            view->SetViewY(std::min(y, maxY));
            view->Render();
            if (wait) WaitForLoads();
        }
    }

    void WaitForLoads() {
        while (view->PendingLoads() > 0) {
            QCoreApplication::processEvents();
            std::this_thread::yield();
        }
        QCoreApplication::processEvents();
    }

    // Every entry holds the picture of its own file.
    void ExpectOwnPictures() {
        Scroll(view->ClientHeight() / 2, true);
        for (int i = 0; i < view->GetImageCount(); ++i) {
            ASSERT_TRUE(view->HasPicture(i)) << i;
            const std::unique_ptr<TKVBitmap> picture = view->GetBitmap(i);
            EXPECT_EQ(Packed(picture->GetPixelRGB(3, 3)), decoded[view->GetImageFileName(i)]) << i;
        }
    }

    static inline TScratchFolder* folder = nullptr;
    static inline std::map<std::string, uint32_t> decoded;
    std::unique_ptr<TKestovaMView> view;
};

TEST_P(KVThumbLoaderTest, FastScrollingEndsWithEveryEntrysOwnPicture) {
    Scroll(7, false);
    ExpectOwnPictures();
}

TEST_P(KVThumbLoaderTest, InsertsAndDeletesWhileLoadsRunKeepPicturesWithTheirEntries) {
    view->Render();
    for (int i = 0; i < 3; ++i) {
        view->InsertImage(0);
        view->SetImageFileName(0, Name(FileCount - 1 - i));
    }
    view->Render();
    for (int i = 0; i < 5; ++i) view->DeleteImage(4);
    view->SetViewY(300);
    view->Render();
    view->DeleteImage(0);
    ExpectOwnPictures();
    EXPECT_EQ(view->GetImageCount(), FileCount + 3 - 6);
}

TEST_P(KVThumbLoaderTest, StoppingWaitsForEveryLoad) {
    view->Render();
    view->StopLoading();
    EXPECT_EQ(view->PendingLoads(), 0);
    view->Clear();
    EXPECT_EQ(view->GetImageCount(), 0);
}

TEST_P(KVThumbLoaderTest, TheViewMayGoWhileLoadsRun) {
    view->Render();
    view->SetViewY(400);
    view->Render();
    view.reset();
    QCoreApplication::processEvents();  // queued repaints of the gone view are dropped
}

TEST_P(KVThumbLoaderTest, FailedLoadsGetTheirPlaceholderOnTheMainThread) {
    view->SetImageFileName(1, folder->Path("absent.bmp"));
    std::vector<std::thread::id> threads;
    view->OnWrongImage = [&](TKVBitmap& bitmap, int index, bool& handled) {
        threads.push_back(std::this_thread::get_id());
        EXPECT_EQ(index, 1);
        bitmap.Fill(0x00FF00);
        handled = true;
    };
    view->Render();
    WaitForLoads();
    view->Render();
    ASSERT_TRUE(view->HasPicture(1));
    EXPECT_EQ(Packed(view->GetBitmap(1)->GetPixelRGB(3, 3)), 0x00FF00u);
    EXPECT_EQ(threads, std::vector<std::thread::id>{std::this_thread::get_id()});
}

INSTANTIATE_TEST_SUITE_P(PoolSizes, KVThumbLoaderTest, ::testing::Values(0, 1, 5));

}  // namespace
