#include "imaging/view/KVOpenSaveDlgOptions.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>

namespace {

// Read-only as the permissions say it: nobody may write.
bool IsReadOnly(const QFileInfo& info) {
    return !(info.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

// Why the file may not be returned; empty when it may.
QString Refusal(const QFileInfo& file, TOpenOptions options) {
    const QFileInfo folder(file.absolutePath());
    const bool pathMustExist = options.Has(ofPathMustExist) || options.Has(ofCreatePrompt);
    if (pathMustExist && !folder.isDir())
        return folder.filePath() + "\nFolder not found.\nPlease verify the correct folder name was given.";
    if (options.Has(ofNoReadOnlyReturn) && file.exists() && IsReadOnly(file))
        return file.filePath() + "\nThis file is read-only.\nPlease choose another file.";
    if (options.Has(ofNoReadOnlyReturn) && folder.isDir() && IsReadOnly(folder))
        return folder.filePath() + "\nThis folder is write-protected.\nPlease choose another folder.";
    return {};
}

}  // namespace

QCheckBox* KVApplyOpenOptions(QFileDialog& dialog, TOpenOptions options, bool save) {
    dialog.setOption(QFileDialog::DontResolveSymlinks, options.Has(ofNoDereferenceLinks));
    if (save) {
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.Has(ofOverwritePrompt));
        return nullptr;
    }
    // Qt chooses several files only among existing ones.
    if (options.Has(ofAllowMultiSelect))
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else
        dialog.setFileMode(options.Has(ofFileMustExist) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (options.Has(ofHideReadOnly)) return nullptr;
    auto* readOnly = new QCheckBox(QFileDialog::tr("Open as &read-only"), &dialog);
    readOnly->setObjectName("ReadOnlyCheck");
    readOnly->setChecked(options.Has(ofReadOnly));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) grid->addWidget(readOnly, grid->rowCount(), 0, 1, 2);
    return readOnly;
}

bool KVFilesAcceptable(QFileDialog& dialog, const QStringList& files, TOpenOptions options) {
    for (const QString& name : files) {
        const QFileInfo file(name);
        if (const QString refusal = Refusal(file, options); !refusal.isEmpty()) {
            QMessageBox::warning(&dialog, dialog.windowTitle(), refusal);
            return false;
        }
        if (options.Has(ofCreatePrompt) && !file.exists() &&
            QMessageBox::question(&dialog, dialog.windowTitle(),
                                  file.filePath() + "\nThis file does not exist.\nDo you want to create it?") !=
                QMessageBox::Yes)
            return false;
    }
    return true;
}

TOpenOptions KVAnsweredOptions(TOpenOptions options, const QCheckBox* readOnly, const QString& fileName,
                               const QString& defaultSuffix) {
    if (readOnly) options = readOnly->isChecked() ? options.With(ofReadOnly) : options.Without(ofReadOnly);
    const bool different =
        !defaultSuffix.isEmpty() && QFileInfo(fileName).suffix().compare(defaultSuffix, Qt::CaseInsensitive) != 0;
    return different ? options.With(ofExtensionDifferent) : options.Without(ofExtensionDifferent);
}
