// Feeder pages scanned into the multi-image component of a thumbnail view.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "QtTestApplication.h"
#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/view/KestovaMIO.h"
#include "imaging/view/KestovaMView.h"

namespace {

// A thumbnail view holding one small picture of its own, which a scan is added beside.
std::unique_ptr<TKestovaMView> ViewOfOnePicture() {
    auto view = std::make_unique<TKestovaMView>();
    view->InsertImage(0);
    TKVBitmap picture;
    picture.Allocate(7, 5, kv24RGB);
    view->SetImage(0, &picture);
    return view;
}

TEST(ScanMultiImage, FeederPagesFollowTheClampedStartIndex) {
    EnsureTestApplication<QApplication>();
    TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}});
    const TPnm oracle = ParsePnm(device.Scanimage("--resolution 20 --format=pnm"));
    auto view = std::make_unique<TKestovaMView>();
    for (int i = 0; i < 3; ++i) {
        view->InsertImage(i);
        TKVBitmap picture;
        picture.Allocate(7 + i, 5, kv24RGB);
        view->SetImage(i, &picture);
    }
    TKestovaMIO& mio = *view->GetMIO();
    mio.TWainParams().VisibleDialog = false;
    mio.AcquireIndex = 10;
    int finished = 0;
    mio.OnFinishWork = [&](TObject*) { ++finished; };
    ASSERT_TRUE(mio.Acquire()) << mio.TWainParams().LastErrorText;
    // The virtual feeder holds ten sheets; the first lands at 3, the next ones follow.
    ASSERT_EQ(view->GetImageCount(), 13);
    ASSERT_EQ(mio.GetParamsCount(), 13);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(view->GetImageOriginalWidth(i), 7 + i);
    for (int i = 3; i < 13; ++i) {
        EXPECT_EQ(view->GetImageOriginalWidth(i), oracle.width) << i;
        EXPECT_EQ(view->GetImageOriginalHeight(i), oracle.height) << i;
        EXPECT_EQ(mio.GetParams(i)->DpiX(), 20) << i;
    }
    EXPECT_EQ(mio.AcquireIndex, 13);
    EXPECT_FALSE(mio.Acquiring());
    EXPECT_EQ(finished, 1);
    view.reset();
    // Neither the scanner's nor the view's files stay behind.
    EXPECT_TRUE(device.TempFiles().empty());
}

// A page is resampled by the resolution the scanner gave it, not by the neighbour's record it was
// copied from, and its record describes the stored picture.
TEST(ScanMultiImage, SquarePixelsComeFromThePagesOwnResolution) {
    EnsureTestApplication<QApplication>();
    TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}});
    const TPnm oracle = ParsePnm(device.Scanimage("--resolution 20 --format=pnm"));
    auto view = ViewOfOnePicture();
    TKestovaMIO& mio = *view->GetMIO();
    mio.GetParams(0)->SetDpiX(100);
    mio.GetParams(0)->SetDpiY(200);
    mio.AutoAdjustDPI = true;
    mio.TWainParams().VisibleDialog = false;
    mio.AcquireIndex = 1;
    ASSERT_TRUE(mio.Acquire()) << mio.TWainParams().LastErrorText;
    ASSERT_GE(view->GetImageCount(), 2);
    for (int i = 1; i < view->GetImageCount(); ++i) {
        EXPECT_EQ(view->GetImageOriginalWidth(i), oracle.width) << i;
        EXPECT_EQ(view->GetImageOriginalHeight(i), oracle.height) << i;
        EXPECT_EQ(mio.GetParams(i)->Width, oracle.width) << i;
        EXPECT_EQ(mio.GetParams(i)->Height, oracle.height) << i;
        EXPECT_EQ(mio.GetParams(i)->DpiX(), 20) << i;
        EXPECT_EQ(mio.GetParams(i)->DpiY(), 20) << i;
    }
    view.reset();
    EXPECT_TRUE(device.TempFiles().empty());
}

TEST(ScanMultiImage, AFeederStoppedMidPageAddsNoPageAndLeavesNoFile) {
    EnsureTestApplication<QApplication>();
    for (const char* status : {"SANE_STATUS_CANCELLED", "SANE_STATUS_JAMMED"}) {
        SCOPED_TRACE(status);
        TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}, {"read-status-code", std::string("\"") + status + "\""}});
        auto view = ViewOfOnePicture();
        TKestovaMIO& mio = *view->GetMIO();
        mio.TWainParams().VisibleDialog = false;
        EXPECT_FALSE(mio.Acquire());
        EXPECT_EQ(view->GetImageCount(), 1);
        EXPECT_EQ(mio.GetParamsCount(), 1);
        EXPECT_FALSE(mio.Acquiring());
        view.reset();
        EXPECT_TRUE(device.TempFiles().empty());
    }
}

}  // namespace
