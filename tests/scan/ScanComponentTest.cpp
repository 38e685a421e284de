// The input/output component acquiring through the installed scanner library, by both interfaces.
#include <gtest/gtest.h>

#include <vector>

#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/acquire/KVWia.h"
#include "imaging/acquire/ScannerProvider.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "imaging/io/KestovaIO.h"

namespace {

struct InstalledScanner {
    InstalledScanner() { InstallScannerProvider(); }
    ~InstalledScanner() { SetAcquireProviderFactory(nullptr); }
};

TEST(ScanComponent, AcquiresThroughBothInterfaces) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    InstalledScanner installed;
    const TPnm oracle = ParsePnm(device.Scanimage("--mode Color --test-picture 'Color pattern' --format=pnm"));
    for (int api : {0, 1}) {
        TKestovaIO io;
        ASSERT_TRUE(io.SelectAcquireSource(api)) << api;
        TKVTWainParams* settings = io.GetTWainParams();
        ASSERT_NE(settings, nullptr);
        settings->VisibleDialog = false;
        settings->PixelType.SetCurrentValue(2);  // colour, on the component's settings only
        ASSERT_TRUE(io.Acquire(api)) << io.AcquireErrorText();
        TKVBitmap& page = io.WorkBitmap();
        ASSERT_EQ(page.GetWidth(), oracle.width);
        ASSERT_EQ(page.GetHeight(), oracle.height);
        const int x = oracle.width / 2, y = oracle.height / 3;
        const uint8_t* pixel = page.GetScanline(y) + x * 3;
        if (api == 0) {
            EXPECT_EQ(pixel[2], oracle.At(x, y, 0));
            EXPECT_EQ(pixel[1], oracle.At(x, y, 1));
            EXPECT_EQ(pixel[0], oracle.At(x, y, 2));
        }
        EXPECT_EQ(io.Params().DpiX(), 50);
        EXPECT_TRUE(device.TempFiles().empty());
    }
    // Anything else is no interface.
    TKestovaIO io;
    EXPECT_FALSE(io.SelectAcquireSource(2));
    EXPECT_FALSE(io.Acquire(2));
}

TEST(ScanComponent, WithoutAScannerSaysSo) {
    TSaneTestDevice device({}, false);
    InstalledScanner installed;
    TKestovaIO io;
    EXPECT_FALSE(io.SelectAcquireSource(0));
    EXPECT_FALSE(io.Acquire(0));
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(io.AcquireErrorText(), "Source Manager unable to find the specified Source.");
}

namespace {

// A view that records what the component tells it.
class TWatchingView : public TKVView {
public:
    TKVBitmap bitmap;
    int dpiX = 0, dpiY = 0, updates = 0;
    void SetDpiX(int dpi) override { dpiX = dpi; }
    void SetDpiY(int dpi) override { dpiY = dpi; }
    TKVBitmap* GetKVBitmap() override { return &bitmap; }
    void Update() override { ++updates; }
};

}  // namespace

TEST(ScanComponent, AScanIsShownAndFinished) {
    TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}});
    InstalledScanner installed;
    const TPnm oracle = ParsePnm(device.Scanimage("--resolution 20 --format=pnm"));
    TKestovaIO io;
    TWatchingView view;
    io.SetAttachedKestova(&view);
    ASSERT_TRUE(io.SelectAcquireSource(0));
    io.GetTWainParams()->VisibleDialog = false;
    int finished = 0;
    io.OnFinishWork = [&](TObject*) { ++finished; };
    ASSERT_TRUE(io.Acquire(0)) << io.AcquireErrorText();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(view.bitmap.GetWidth(), oracle.width);
    EXPECT_EQ(view.bitmap.GetHeight(), oracle.height);
    EXPECT_EQ(view.dpiX, 20);
    EXPECT_EQ(view.dpiY, 20);
    EXPECT_EQ(view.updates, 1);
    EXPECT_FALSE(io.Acquiring());
}

// The WIA object belongs to the component: its progress is the component's, and the component's
// AbortFlag stops it.
TEST(ScanComponent, TheWiaObjectReportsThroughTheComponent) {
    TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}});
    InstalledScanner installed;
    TKestovaIO io;
    TKVWia* wia = io.GetWia();
    ASSERT_NE(wia, nullptr);
    EXPECT_EQ(wia->Owner, &io);
    EXPECT_EQ(io.GetWia(), wia);
    std::vector<int> percents;
    io.OnProgress = [&](TObject* sender, int per) {
        EXPECT_EQ(sender, &io);
        percents.push_back(per);
    };
    ASSERT_TRUE(wia->OnProgress);
    EXPECT_TRUE(wia->OnProgress(40));
    io.AbortFlag = true;
    EXPECT_FALSE(wia->OnProgress(70));
    EXPECT_EQ(percents, (std::vector<int>{40, 70}));

    // An acquisition through it finishes like any other.
    percents.clear();
    int finished = 0;
    io.OnFinishWork = [&](TObject*) { ++finished; };
    ASSERT_TRUE(io.SelectAcquireSource(1));
    ASSERT_TRUE(io.Acquire(1)) << io.AcquireErrorText();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_FALSE(io.WorkBitmap().IsEmpty());
    EXPECT_TRUE(device.TempFiles().empty());
}

}  // namespace
