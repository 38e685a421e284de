// The scanner dialogs of Qt: choosing a source, and a source's own dialog before it scans.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QTimer>

#include "SaneTestDevice.h"
#include "imaging/acquire/KVTWain.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "platform/qt/ScannerDialogs.h"

namespace {

// Answers the next modal dialog once it shows.
void WhenShown(const std::function<void(QDialog&)>& answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) return WhenShown(answer);
        answer(*dialog);
    });
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
    TKVTWainParams params(nullptr);
    for (int row : {1, -1}) {
        QStringList shown;
        WhenShown([&](QDialog& dialog) {
            auto* list = dialog.findChild<QListWidget*>("lbSources");
            for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
            list->setCurrentRow(row);
            row < 0 ? dialog.reject() : dialog.accept();
        });
        std::string chosen;
        EXPECT_EQ(KVTW_SelectImageSource(chosen, params), row >= 0);
        EXPECT_EQ(shown, (QStringList{"test:0", "test:1"}));
        EXPECT_EQ(chosen, row >= 0 ? "test:1" : "");
    }
}

TEST_F(ScanDialog, TheSourcesOwnDialogShowsItsOptionsAndMayCancel) {
    TSaneTestDevice device;
    TKVTWainParams params(nullptr);
    params.XResolution.SetCurrentValue(75);
    for (bool scan : {false, true}) {
        QStringList texts;
        WhenShown([&](QDialog& dialog) {
            for (QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
            scan ? dialog.accept() : dialog.reject();
        });
        TKVBitmap bitmap;
        TKVProgressRec progress;
        EXPECT_EQ(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr), scan);
        // The settings sent before the dialog are what it shows.
        EXPECT_TRUE(texts.contains("75")) << texts.join("|").toStdString();
        EXPECT_TRUE(texts.contains("Gray"));
        EXPECT_EQ(bitmap.GetWidth() > 0, scan);
    }
    // Without its dialog nothing is shown.
    params.VisibleDialog = false;
    TKVBitmap bitmap;
    TKVProgressRec progress;
    EXPECT_TRUE(KVTW_Acquire(bitmap, nullptr, params, false, progress, nullptr));
}

}  // namespace
