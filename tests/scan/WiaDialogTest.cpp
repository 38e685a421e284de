// The choice of a device as a person makes it in the Qt dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QTimer>

#include "QtTestApplication.h"
#include "SaneTestDevice.h"
#include "imaging/acquire/KVWia.h"
#include "platform/SaneDevice.h"
#include "platform/qt/SaneDeviceDialog.h"

namespace {

// Answers the next modal dialog once it shows.
void WhenShown(const std::function<void(QDialog&)>& answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) return WhenShown(answer);
        answer(*dialog);
    });
}

TEST(WiaDialog, ChoosesADeviceOrCancels) {
    EnsureTestApplication<QApplication>();
    InstallSaneDeviceDialog();
    TSaneTestDevice device;
    TKVWia wia(nullptr);
    for (int row : {1, -1}) {
        QStringList shown;
        WhenShown([&](QDialog& dialog) {
            auto* list = dialog.findChild<QListWidget*>("lbDevices");
            for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
            list->setCurrentRow(row);
            row < 0 ? dialog.reject() : dialog.accept();
        });
        EXPECT_EQ(wia.SelectDevice(), row >= 0);
        EXPECT_EQ(shown, (QStringList{QString::fromStdString(wia.GetDevice(0)->Name + " (test:0)"),
                                      QString::fromStdString(wia.GetDevice(1)->Name + " (test:1)")}));
        EXPECT_EQ(wia.RootItem() != nullptr, row >= 0);
    }
    SetSaneDeviceDialog(nullptr);
}

}  // namespace
