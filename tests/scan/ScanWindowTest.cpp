// The main window's scan button with SANE's virtual scanner and no dialog on the way.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QToolButton>

#include "SaneTestDevice.h"
#include "app/engine/AppFolders.h"
#include "app/window/MainForm.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/acquire/ScannerProvider.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaView.h"
#include "tzlib/qt/TzLibWindows.h"

namespace {

TEST(ScanWindow, TheScanButtonAcquiresIntoThePreviewAndTheList) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    TScratchFolder settings;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(settings.Folder()));
    static int argc = 1;
    static char name[] = "scan_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
    InstallTzLibWindows();
    InstallScannerProvider();
    {
        TMainForm form;
        form.show();
        TKVTWainParams* scanner = form.View()->GetIO()->GetTWainParams();
        ASSERT_NE(scanner, nullptr);
        scanner->VisibleDialog = false;
        form.findChild<QToolButton*>("btSourceScan")->click();
        ASSERT_EQ(form.SourceList()->count(), 1);
        EXPECT_EQ(form.SourceList()->item(0)->text(), "Scanner:Pic1.bmp");
        const TPnm oracle = ParsePnm(device.Scanimage("--test-picture 'Color pattern' --format=pnm"));
        TKVBitmap& preview = form.View()->GetIO()->WorkBitmap();
        EXPECT_EQ(preview.GetWidth(), oracle.width);
        EXPECT_EQ(preview.GetHeight(), oracle.height);
        // The page is a picture of its own that reads back with the scanner's pixels.
        TKestovaIO reader;
        reader.LoadFromFile(TempFolder + "Pic1.bmp");
        ASSERT_FALSE(reader.AbortFlag);
        EXPECT_EQ(reader.WorkBitmap().GetWidth(), oracle.width);
        const int x = oracle.width / 2, y = oracle.height / 2;
        EXPECT_EQ(reader.WorkBitmap().GetScanline(y)[x * 3], oracle.At(x, y, 0));
        // The transfer's own file is gone (the folder also holds the program's and Qt's folders).
        for (const std::string& name : device.TempFiles()) EXPECT_FALSE(name.starts_with("mordale-scan.")) << name;
    }
    SetAcquireProviderFactory(nullptr);
}

}  // namespace
