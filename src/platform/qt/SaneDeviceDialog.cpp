#include "platform/qt/SaneDeviceDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/SaneDevice.h"
#include "platform/qt/TitleRoom.h"

int ChooseScannerInList(const QString& dialogName, const QString& title, const QString& listName,
                        const QStringList& entries, const QStringList& tips) {
    QDialog dialog;
    dialog.setObjectName(dialogName);
    dialog.setWindowTitle(title);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(listName);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        auto* item = new QListWidgetItem(entries[i], list);
        if (i < tips.size()) item->setToolTip(tips[i]);
    }
    list->setCurrentRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText("Select");
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog.setMinimumWidth(TitleRoomWidth(dialog));
    return dialog.exec() == QDialog::Accepted ? list->currentRow() : -1;
}

namespace {

int ChooseDevice(const std::vector<TSaneDeviceInfo>& devices) {
    QStringList entries, tips;
    for (const TSaneDeviceInfo& device : devices) {
        entries << QString::fromStdString(device.Vendor + " " + device.Model + " (" + device.Name + ")");
        tips << QString::fromStdString(device.Type);
    }
    return ChooseScannerInList("DeviceSelectDialog", "Select Device", "lbDevices", entries, tips);
}

}  // namespace

void InstallSaneDeviceDialog() { SetSaneDeviceDialog(ChooseDevice); }
