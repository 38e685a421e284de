// The scanner dialogs of Qt: choosing a source, and a source's own dialog before it scans.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFontMetrics>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "DialogAnswers.h"
#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWain.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"
#include "platform/qt/ScannerDialogs.h"

namespace {

// The person chooses colour and types 75 dots per inch in the source's dialog, and scans.
void ScanInColourAt75(QDialog& dialog) {
    // Colour changes which options the device offers: the form is built again.
    auto* mode = dialog.findChild<QComboBox*>("mode");
    mode->setFocus();
    QTest::keyClick(mode, Qt::Key_Down);
    QCoreApplication::processEvents();
    auto* resolution = dialog.findChild<QDoubleSpinBox*>("resolution");
    resolution->selectAll();
    QTest::keyClicks(resolution, "75");
    // Enter takes the value and scans.
    QTest::keyClick(resolution, Qt::Key_Return);
    dialog.accept();
}

class ScanDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "scan_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QApplication(argc, argv);
        InstallScannerDialogs();
    }
    static void TearDownTestSuite() { SetTwainDialogs(nullptr, nullptr); }
};

TEST_F(ScanDialog, ChoosesAmongTheDevices) {
    TSaneTestDevice device;
    QGuiApplication::setApplicationDisplayName("Brelvant Mordale");
    TKVTWainParams params(nullptr);
    for (int row : {1, -1}) {
        QStringList shown;
        WhenShown([&](QDialog& dialog) {
            auto* list = dialog.findChild<QListWidget*>("lbSources");
            for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
            // The title bar, in bold beside its icon and buttons, is not cut: the platform writes the
            // program's name after the title.
            QFont bold = dialog.font();
            bold.setBold(true);
            const QFontMetrics metrics(bold);
            EXPECT_GE(dialog.width(), metrics.horizontalAdvance(QString::fromUtf8("Select Source \u2014 Brelvant Mordale")) +
                                          4 * 2 * metrics.height());
            list->setCurrentRow(row);
            row < 0 ? dialog.reject() : dialog.accept();
        });
        std::string chosen;
        EXPECT_EQ(KVTW_SelectImageSource(chosen, params), row >= 0);
        // Named as scanimage -L names them: maker and model, and the device.
        EXPECT_EQ(shown, (QStringList{"Noname frontend-tester (test:0)", "Noname frontend-tester (test:1)"}));
        EXPECT_EQ(chosen, row >= 0 ? "test:1" : "");
    }
}

TEST_F(ScanDialog, TheSourcesOwnDialogShowsItsOptionsAndMayCancel) {
    TSaneTestDevice device;
    TKVTWainParams params(nullptr);
    params.XResolution.SetCurrentValue(75);
    for (bool scan : {false, true}) {
        double resolution = 0;
        QString mode;
        WhenShown([&](QDialog& dialog) {
            resolution = dialog.findChild<QDoubleSpinBox*>("resolution")->value();
            mode = dialog.findChild<QComboBox*>("mode")->currentText();
            scan ? dialog.accept() : dialog.reject();
        });
        TKVBitmap bitmap;
        TKVProgressRec progress;
        params.LastError = 0;
        EXPECT_EQ(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr), scan);
        // The settings sent before the dialog are what it shows.
        EXPECT_EQ(resolution, 75);
        EXPECT_EQ(mode, "Gray");
        EXPECT_EQ(bitmap.GetWidth() > 0, scan);
        // A cancel is no failure: it has no reason to tell.
        if (!scan) {
            EXPECT_EQ(params.LastError, TWRC_CANCEL);
            EXPECT_EQ(params.LastErrorText, "");
        }
    }
    // Without its dialog nothing is shown.
    params.VisibleDialog = false;
    TKVBitmap bitmap;
    TKVProgressRec progress;
    EXPECT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr));
}

TEST_F(ScanDialog, OptionsSetInTheDialogGiveScanimagesPixels) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    TKVTWainParams params(nullptr);
    WhenShown(ScanInColourAt75);
    TKVBitmap bitmap;
    TKVProgressRec progress;
    TIOParamsVals ioParams(nullptr);
    ASSERT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, &ioParams)) << params.LastErrorText;
    EXPECT_EQ(ioParams.DpiX(), 75);
    EXPECT_TRUE(SamePixels(bitmap, ParsePnm(device.Scanimage("--mode Color --resolution 75 --test-picture 'Color pattern' --format=pnm"))));
}

TEST_F(ScanDialog, OptionsSetInTheDialogAreTheDevicesAgainAtItsNextScans) {
    TSaneTestDevice device(TSaneSettings{{"test-picture", "\"Color pattern\""}});
    const TPnm colour75 = ParsePnm(device.Scanimage("--mode Color --resolution 75 --test-picture 'Color pattern' --format=pnm"));
    TKVTWainParams params(nullptr);
    auto scan = [&](TKVBitmap& bitmap, TIOParamsVals& ioParams) {
        TKVProgressRec progress;
        params.LastError = 0;
        return KVTW_Acquire(bitmap, nullptr, params, false, progress, &ioParams);
    };
    // The person sets colour and 75 dots per inch, and scans.
    WhenShown(ScanInColourAt75);
    TKVBitmap first;
    TIOParamsVals firstParams(nullptr);
    ASSERT_TRUE(scan(first, firstParams)) << params.LastErrorText;
    EXPECT_TRUE(SamePixels(first, colour75));

    // The next time the dialog shows the person's options; Scan alone gives the same page.
    QString mode;
    double resolution = 0;
    WhenShown([&](QDialog& dialog) {
        mode = dialog.findChild<QComboBox*>("mode")->currentText();
        resolution = dialog.findChild<QDoubleSpinBox*>("resolution")->value();
        QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    TKVBitmap second;
    TIOParamsVals secondParams(nullptr);
    ASSERT_TRUE(scan(second, secondParams)) << params.LastErrorText;
    EXPECT_EQ(mode, "Color");
    EXPECT_EQ(resolution, 75);
    EXPECT_EQ(secondParams.DpiX(), 75);
    EXPECT_TRUE(SamePixels(second, colour75));

    // Options set in a dialog that was cancelled are not kept; a scan without the dialog keeps the
    // person's options too.
    WhenShown([](QDialog& dialog) {
        dialog.findChild<QDoubleSpinBox*>("resolution")->setValue(100);
        dialog.reject();
    });
    TKVBitmap none;
    TIOParamsVals noneParams(nullptr);
    EXPECT_FALSE(scan(none, noneParams));
    params.VisibleDialog = false;
    TKVBitmap third;
    TIOParamsVals thirdParams(nullptr);
    ASSERT_TRUE(scan(third, thirdParams)) << params.LastErrorText;
    EXPECT_EQ(thirdParams.DpiX(), 75);
    EXPECT_TRUE(SamePixels(third, colour75));

    // The other scanner keeps its own defaults.
    ASSERT_TRUE(params.SelectSourceByName("test:1"));
    TKVBitmap other;
    TIOParamsVals otherParams(nullptr);
    ASSERT_TRUE(scan(other, otherParams)) << params.LastErrorText;
    EXPECT_TRUE(SamePixels(other, ParsePnm(device.Scanimage("--test-picture 'Color pattern' --format=pnm"))));
}

}  // namespace
