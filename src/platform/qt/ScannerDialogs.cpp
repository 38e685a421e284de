#include "platform/qt/ScannerDialogs.h"

#include <sane/sane.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "platform/Twain.h"

namespace {

QString Text(const char* field, size_t size) { return QString::fromUtf8(field, static_cast<int>(strnlen(field, size))); }

int SelectSource(const std::vector<TW_IDENTITY>& sources) {
    QDialog dialog;
    dialog.setObjectName("ScannerSelectDialog");
    dialog.setWindowTitle("Select Source");
    auto* list = new QListWidget(&dialog);
    list->setObjectName("lbSources");
    for (const TW_IDENTITY& source : sources) {
        auto* item = new QListWidgetItem(Text(source.ProductName, sizeof source.ProductName), list);
        item->setToolTip(Text(source.Manufacturer, sizeof source.Manufacturer) + " " +
                         Text(source.ProductFamily, sizeof source.ProductFamily));
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

// An option's current value as text; empty for kinds without one.
QString OptionValue(SANE_Handle handle, SANE_Int index, const SANE_Option_Descriptor& option) {
    if (option.size <= 0) return {};
    std::vector<char> value(static_cast<size_t>(option.size) + 1, 0);
    if (sane_control_option(handle, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) != SANE_STATUS_GOOD) return {};
    SANE_Word word = 0;
    std::memcpy(&word, value.data(), std::min(sizeof word, value.size()));
    switch (option.type) {
    case SANE_TYPE_BOOL: return word ? "yes" : "no";
    case SANE_TYPE_INT: return QString::number(word);
    case SANE_TYPE_FIXED: return QString::number(SANE_UNFIX(word));
    case SANE_TYPE_STRING: return QString::fromUtf8(value.data());
    default: return {};
    }
}

bool ShowSource(const TW_IDENTITY& source, void* saneHandle) {
    QDialog dialog;
    dialog.setObjectName("ScannerSourceDialog");
    dialog.setWindowTitle(Text(source.ProductName, sizeof source.ProductName));
    auto* form = new QFormLayout;
    SANE_Int count = 0;
    if (saneHandle && sane_control_option(saneHandle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) == SANE_STATUS_GOOD)
        for (SANE_Int i = 1; i < count; ++i) {
            const SANE_Option_Descriptor* option = sane_get_option_descriptor(saneHandle, i);
            if (!option || !SANE_OPTION_IS_ACTIVE(option->cap) || !option->title) continue;
            const QString value = OptionValue(saneHandle, i, *option);
            if (!value.isEmpty()) form->addRow(QString::fromUtf8(option->title), new QLabel(value));
        }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText("Scan");
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace

void InstallScannerDialogs() { SetTwainDialogs(ShowSource, SelectSource); }
