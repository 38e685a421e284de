// The thumbnail view loading files and frames when their cells are drawn, in the background too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>

#include "QtTestApplication.h"
#include "TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KestovaMView.h"

namespace {

class KestovaMViewLoadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
        view = std::make_unique<TKestovaMView>();
        view->resize(340, 240);
        view->show();
    }

    TScratchFolder scratch;
    std::unique_ptr<TKestovaMView> view;
};

}  // namespace

TEST_F(KestovaMViewLoadsTest, FramesAndFilesLoadWhenDrawn) {
    const std::string gif = scratch.Path("anim.gif");
    ASSERT_EQ(RunTool("convert -delay 7 -size 8x6 xc:red xc:lime xc:blue " + Quoted(gif)).status, 0);
    const std::string odd = scratch.Path("x::1.png");
    ASSERT_EQ(RunTool("convert -size 5x9 xc:white " + Quoted(odd)).status, 0);
    view->FillFromFile(gif);
    ASSERT_EQ(view->GetImageCount(), 3);
    view->InsertImage(3);
    view->SetImageFileName(3, odd);
    view->InsertImage(4);
    view->SetImageFileName(4, std::string(gif) + '\0' + "one");
    view->SetThreadPoolSize(5);  // frames load at once all the same
    view->SetGridWidth(-1);
    view->resize(600, 260);
    view->Render();
    const TColor expected[] = {0x0000FF, 0x00FF00, 0xFF0000};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(view->HasPicture(i)) << i;
        EXPECT_EQ(view->GetImageDelayTime(i), 70) << i;
        const TKVRGB p = view->GetBitmap(i)->GetPixelRGB(4, 3);
        EXPECT_EQ(p.r | p.g << 8 | p.b << 16, expected[i]) << i;
    }
    view->SetThreadPoolSize(0);  // the file too at once
    view->Render();
    ASSERT_TRUE(view->HasPicture(3));
    EXPECT_EQ(view->GetImageOriginalWidth(3), 5);  // the file, not frame 1 of "x"
    const TKVRGB p = view->GetBitmap(4)->GetPixelRGB(4, 3);
    EXPECT_EQ(p.r | p.g << 8 | p.b << 16, expected[0]);  // not a number: frame 0
}

// The background loads take LookAhead entries past the last visible one too, and no more.
TEST_F(KestovaMViewLoadsTest, TheLookAheadLoadsEntriesPastTheVisibleOnes) {
    const std::string file = scratch.Path("p.png");
    ASSERT_EQ(RunTool("convert -size 6x4 xc:red " + Quoted(file)).status, 0);
    for (int i = 0; i < 10; ++i) {
        view->InsertImage(i);
        view->SetImageFileName(i, file);
    }
    view->LookAhead = 2;
    view->Render();  // entries 0 to 3 show
    const auto arrived = [&] {
        for (int i = 0; i <= 5; ++i)
            if (!view->HasPicture(i)) return false;
        return view->PendingLoads() == 0;
    };
    for (int wait = 0; wait < 2000 && !arrived(); ++wait) {
        QApplication::processEvents();
        QTest::qWait(5);
    }
    for (int i = 0; i <= 5; ++i) EXPECT_TRUE(view->HasPicture(i)) << i;
    EXPECT_FALSE(view->HasPicture(6));
}
