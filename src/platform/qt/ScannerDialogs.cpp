#include "platform/qt/ScannerDialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "platform/Twain.h"
#include "platform/qt/SaneDeviceDialog.h"
#include "platform/qt/ScannerOptions.h"

namespace {

QString Text(const char* field, size_t size) { return QString::fromUtf8(field, static_cast<int>(strnlen(field, size))); }

// The maker and model a person knows the scanner by, and the device name that tells two alike apart.
QString SourceText(const TW_IDENTITY& source) {
    const QString device = Text(source.ProductName, sizeof source.ProductName);
    const QString known = (Text(source.Manufacturer, sizeof source.Manufacturer) + " " +
                           Text(source.ProductFamily, sizeof source.ProductFamily)).trimmed();
    return known.isEmpty() ? device : known + " (" + device + ")";
}

int SelectSource(const std::vector<TW_IDENTITY>& sources) {
    QStringList entries;
    for (const TW_IDENTITY& source : sources) entries << SourceText(source);
    return ChooseScannerInList("ScannerSelectDialog", "Select Source", "lbSources", entries);
}

// The options set before a scan are the device's again the next time it is opened.
bool ShowSource(const TW_IDENTITY& source, TSaneDevice& device) {
    QDialog dialog;
    dialog.setObjectName("ScannerSourceDialog");
    dialog.setWindowTitle(SourceText(source));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText("Scan");
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    auto* options = new TScannerOptionsForm(device, &dialog);
    layout->addWidget(options);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return false;
    RememberSaneChoices(device.Name(), options->Choices());
    return true;
}

}  // namespace

void InstallScannerDialogs() { SetTwainDialogs(ShowSource, SelectSource); }
