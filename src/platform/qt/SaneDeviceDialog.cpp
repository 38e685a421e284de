#include "platform/qt/SaneDeviceDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/SaneDevice.h"

namespace {

int ChooseDevice(const std::vector<TSaneDeviceInfo>& devices) {
    QDialog dialog;
    dialog.setObjectName("DeviceSelectDialog");
    dialog.setWindowTitle("Select Device");
    auto* list = new QListWidget(&dialog);
    list->setObjectName("lbDevices");
    for (const TSaneDeviceInfo& device : devices) {
        auto* item = new QListWidgetItem(QString::fromStdString(device.Vendor + " " + device.Model + " (" + device.Name + ")"), list);
        item->setToolTip(QString::fromStdString(device.Type));
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
    return dialog.exec() == QDialog::Accepted ? list->currentRow() : -1;
}

}  // namespace

void InstallSaneDeviceDialog() { SetSaneDeviceDialog(ChooseDevice); }
