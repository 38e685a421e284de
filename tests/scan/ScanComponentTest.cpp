// The input/output component acquiring through the installed scanner library, by both interfaces.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <vector>

#include "DialogAnswers.h"
#include "QtTestApplication.h"
#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/acquire/KVWia.h"
#include "imaging/acquire/ScannerProvider.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaMIO.h"
#include "imaging/view/KestovaMView.h"
#include "imaging/view/KestovaView.h"
#include "platform/Twain.h"
#include "platform/qt/ScannerDialogs.h"

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

// A scan into a view: the view shows the page at the scan's resolution, the record keeps it, and
// the page passes the acquisition event on its way.
TEST(ScanComponent, AScanInAViewCarriesItsResolution) {
    EnsureTestApplication<QApplication>();
    TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}});
    InstalledScanner installed;
    const TPnm oracle = ParsePnm(device.Scanimage("--resolution 20 --format=pnm"));
    TKestovaView view;
    TKestovaIO& io = *view.GetIO();
    io.GetTWainParams()->VisibleDialog = false;
    std::vector<int> offered;
    io.OnAcquireBitmap = [&](TObject*, TKVBitmap& page, bool&) { offered.push_back(page.GetWidth()); };
    ASSERT_TRUE(io.Acquire(0)) << io.AcquireErrorText();
    EXPECT_EQ(offered, std::vector<int>{oracle.width});
    EXPECT_TRUE(SamePixels(*view.GetKVBitmap(), oracle));
    EXPECT_EQ(view.ResolutionX(), 20);
    EXPECT_EQ(view.ResolutionY(), 20);
    EXPECT_EQ(io.Params().DpiX(), 20);
    EXPECT_EQ(io.Params().DpiY(), 20);
}

// The scanner's own dialog takes the keyboard focus; afterwards the view the component belongs
// to has it, whether a page came or the dialog was cancelled. The multi-image component's view
// alike.
TEST(ScanComponent, TheFocusComesBackToTheViewAfterTheScannersDialog) {
    EnsureTestApplication<QApplication>();
    TSaneTestDevice device(TSaneSettings{{"resolution", "20.0"}});
    InstalledScanner installed;
    InstallScannerDialogs();
    QWidget window;
    auto* edit = new QLineEdit(&window);
    auto* view = new TKestovaView(&window);
    auto* thumbnails = new TKestovaMView(&window);
    auto* layout = new QVBoxLayout(&window);
    for (QWidget* part : std::initializer_list<QWidget*>{edit, view, thumbnails}) layout->addWidget(part);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    struct Case {
        const char* what;
        bool multiImage, scan;
    };
    const Case cases[] = {{"page", false, true}, {"cancel", false, false}, {"pages", true, true}, {"cancel all", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        edit->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), edit);
        bool shown = false;
        WhenShown([&](QDialog& dialog) {
            shown = true;
            dialog.activateWindow();
            c.scan ? dialog.accept() : dialog.reject();
        });
        QWidget* owner = view;
        if (c.multiImage) {
            owner = thumbnails;
            EXPECT_EQ(thumbnails->GetMIO()->Acquire(), c.scan);
        } else {
            EXPECT_EQ(view->GetIO()->Acquire(0), c.scan);
        }
        EXPECT_TRUE(shown);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == owner; }));
    }
    SetTwainDialogs(nullptr, nullptr);
}

}  // namespace
