#include "imaging/view/KVOpenSaveDlg.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>

#include "imaging/io/KVFileFormats.h"
#include "imaging/view/KVPreviewInfo.h"
#include "imaging/view/KVPreviewPane.h"
#include "platform/qt/QtPrompter.h"

TOpenKestovaDialog::TOpenKestovaDialog() : Filter(KVOpenFilter(msSystem)) {}

void TOpenKestovaDialog::SetInitialDir(const std::string& folder) {
    initialDir_ = folder.size() > 1 && folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
}

bool TOpenKestovaDialog::Execute(QWidget* parent) {
    if (AutoSetFilter) Filter = KVOpenFilter(MsgLanguage);
    return Run(parent, false, true);
}

bool TOpenKestovaDialog::Run(QWidget* parent, bool save, bool preview) {
    SelectedFrame = 0;
    Files.clear();
    // Qt's own dialog, since the pane goes into its layout.
    QFileDialog dialog(parent, QString::fromStdString(Title));
    dialog.setObjectName("OpenKestovaDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // The caller decides about replacing; Qt's dialog itself changes a typed extension to that of
    // the format chosen.
    if (save)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    else
        dialog.setFileMode(AllowMultiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    const QStringList filters = QString::fromStdString(QtFileFilter(Filter)).split(";;");
    dialog.setNameFilters(filters);
    if (FilterIndex >= 1 && FilterIndex <= filters.size()) dialog.selectNameFilter(filters[FilterIndex - 1]);
    if (!initialDir_.empty()) dialog.setDirectory(QString::fromStdString(initialDir_));
    if (!FileName.empty()) dialog.selectFile(QString::fromStdString(FileName));

    TKVPreviewPane* pane = nullptr;
    if (preview) {
        pane = new TKVPreviewPane(MsgLanguage, ZoomFilter, ShowAllFrames, &dialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
        QObject::connect(&dialog, &QFileDialog::currentChanged, pane,
                         [pane](const QString& path) { pane->ShowFile(path); });
    }
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    if (pane) SelectedFrame = pane->SelectedFrame();
    if (!confirmed) return false;
    for (const QString& file : dialog.selectedFiles()) Files.push_back(file.toStdString());
    if (Files.empty()) return false;
    FileName = Files.front();
    FilterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    return true;
}

TSaveKestovaDialog::TSaveKestovaDialog() { Filter = KVSaveFilter(msSystem); }

bool TSaveKestovaDialog::Execute(QWidget* parent) {
    if (AutoSetFilter) Filter = KVSaveFilter(MsgLanguage);
    if (!Run(parent, true, ShowPreview)) return false;
    // Qt may complete the name itself; only a name still without extension gets the format's.
    if (QFileInfo(QString::fromStdString(FileName)).suffix().isEmpty()) {
        FileName += KVFirstExtension(KVFilterPatterns(Filter, FilterIndex));
        Files = {FileName};
    }
    return true;
}
