// The input/output component acquiring through the installed scanner library, by both interfaces.
#include <gtest/gtest.h>

#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWainParams.h"
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

}  // namespace
