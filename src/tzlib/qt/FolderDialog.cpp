#include "tzlib/qt/FolderDialog.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "platform/Classes.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/SystemHelpers.h"
#include "tzlib/qt/FolderTree.h"

namespace {

// The installed text of the code, else the library's own.
QString TextOf(uint16_t code, const char* fallback) {
    const std::string text = ErrorTextCallback ? ErrorTextCallback(code) : std::string();
    return QString::fromStdString(text.empty() ? fallback : text);
}

QRect Scaled(int left, int top, int width, int height) {
    return QRect(ScaleToScreenDpi(left), ScaleToScreenDpi(top), ScaleToScreenDpi(width), ScaleToScreenDpi(height));
}

}  // namespace

bool TTzFolderDialog::Execute(QWidget* parent) {
    const std::string initial = Directory;
    QDialog form(parent);
    form.setWindowTitle(Title.empty() ? TextOf(620, "Folder Selection") : QString::fromStdString(Title));
    form.setFixedSize(ScaleToScreenDpi(425), ScaleToScreenDpi(378));
    auto* tree = new TFolderTree(&form);
    tree->setObjectName("tree");
    if (WantNetHood) tree->SetFolderOptions(foNetworkNeighborhood);
    tree->setGeometry(Scaled(16, 16, 233, 276));
    auto* label = new QLabel(TextOf(621, "Directory"), &form);
    label->setGeometry(Scaled(16, 306, 32, 13));
    label->adjustSize();
    auto* edit = new QLineEdit(&form);
    edit->setObjectName("edit");
    edit->setGeometry(Scaled(16, 320, 385, 21));
    auto* files = new QListWidget(&form);
    files->setObjectName("files");
    files->setGeometry(Scaled(264, 91, 137, 201));
    auto* ok = new QPushButton(TextOf(501, "&Ok"), &form);
    ok->setGeometry(Scaled(326, 16, 75, 25));
    ok->setDefault(true);
    auto* cancel = new QPushButton(TextOf(502, "&Cancel"), &form);
    cancel->setGeometry(Scaled(326, 44, 75, 25));
    QObject::connect(ok, &QPushButton::clicked, &form, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &form, &QDialog::reject);

    QObject::connect(tree, &QTreeWidget::currentItemChanged, &form, [&] {
        const std::string folder = tree->GetSelectedPath();
        const QSignalBlocker quiet(edit);
        edit->setText(QString::fromStdString(folder));
        files->clear();
        TStringList names;
        if (!folder.empty()) ListFilesByMask(folder, "*.*", folder, false, names);
        for (int i = 0; i < names.Count(); ++i) files->addItem(QString::fromStdString(names.Strings(i)));
    });
    QObject::connect(edit, &QLineEdit::textChanged, &form, [&](const QString& text) {
        if (!text.isEmpty()) {
            const QSignalBlocker quiet(tree);
            tree->SetFolder(text.toStdString());
        }
    });
    QTimer::singleShot(100, &form, [&] {
        if (!form.isVisible()) return;
        tree->SetFolder(initial);
        if (tree->topLevelItemCount() >= 2) tree->topLevelItem(1)->setExpanded(true);
        tree->setFocus();
    });
    if (form.exec() != QDialog::Accepted) return false;
    Directory = edit->text().toStdString();
    return true;
}
