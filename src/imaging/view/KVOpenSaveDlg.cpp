#include "imaging/view/KVOpenSaveDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KVPreviewInfo.h"
#include "imaging/view/KestovaView.h"
#include "platform/qt/QtPrompter.h"

namespace {

// The pane beside the file list.
class TPreviewPane : public QWidget {
public:
    TPreviewPane(TMsgLanguage language, QWidget* parent) : QWidget(parent), language_(language) {
        setObjectName("PicturePanel");
        auto* layout = new QVBoxLayout(this);
        zoom_ = new QComboBox(this);
        zoom_->setObjectName("ZoomCombo");
        zoom_->setToolTip("Zoom");
        zoom_->addItem("Fit", 0);
        for (int percent : {25, 50, 75, 100, 125, 150, 175, 200, 300, 400})
            zoom_->addItem(QString::number(percent) + "%", percent);
        check_ = new QCheckBox(QString::fromStdString(KVGetMessageText(0, language)), this);
        check_->setObjectName("PreviewCheck");
        check_->setChecked(true);
        view_ = new TKestovaView(this);
        view_->setObjectName("KestovaView");
        view_->setFixedSize(220, 200);
        view_->SetBackground(clWhite);
        view_->SetBackgroundStyle(kvbsChessboard);
        view_->SetChessboardPattern(12);
        view_->SetAutoFit(true);
        layout->addWidget(zoom_);
        layout->addWidget(check_);
        layout->addWidget(view_);
        for (const char* name : {"PicLabel1", "PicLabel2", "PicLabel3", "InfoLabel1", "InfoLabel2"}) {
            auto* label = new QLabel(this);
            label->setObjectName(name);
            label->setFixedWidth(220);
            layout->addWidget(label);
            labels_.push_back(label);
        }
        layout->addStretch();
        connect(zoom_, &QComboBox::currentIndexChanged, this, [this] { ApplyPreviewZoom(); });
        connect(check_, &QCheckBox::toggled, this, [this] { ShowFile(path_); });
    }

    // Never raises: a file that cannot be shown empties the pane.
    void ShowFile(const QString& path) {
        path_ = path;
        view_->Blank();
        const QFileInfo file(path);
        if (path.isEmpty() || !file.isFile()) return ShowInfo(nullptr);
        try {
            TKestovaIO& io = *view_->GetIO();
            const std::string name = path.toStdString();
            if (check_->isChecked()) {
                io.Params().JpegScale = 0;
                io.Params().Width = view_->ViewWidth();
                io.Params().Height = view_->ViewHeight();
                io.LoadFromFile(name);
            } else {
                io.ParamsFromFile(name);
            }
            if (io.AbortFlag || io.Params().FileType == kvftNone) {
                view_->Blank();
                return ShowInfo(nullptr);
            }
            const int frames = check_->isChecked() ? std::max(GetFileFrameCount(name), 1) : 1;
            const TKVPreviewInfo info = KVPreviewInfoTexts(io.Params(), file.size(), frames, language_);
            ShowInfo(&info);
            ApplyPreviewZoom();
        } catch (const std::exception&) {
            view_->Blank();
            ShowInfo(nullptr);
        }
    }

private:
    void ShowInfo(const TKVPreviewInfo* info) {
        const std::string texts[] = {info ? info->pic1 : "", info ? info->pic2 : "", info ? info->pic3 : "",
                                     info ? info->info1 : "", info ? info->info2 : ""};
        for (size_t i = 0; i < labels_.size(); ++i) labels_[i]->setText(QString::fromStdString(texts[i]));
    }

    void ApplyPreviewZoom() {
        const int percent = zoom_->currentData().toInt();
        view_->SetAutoFit(percent == 0);
        if (percent > 0) view_->SetZoom(percent);
    }

    TMsgLanguage language_;
    QComboBox* zoom_;
    QCheckBox* check_;
    TKestovaView* view_;
    std::vector<QLabel*> labels_;
    QString path_;
};

}  // namespace

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

    if (preview) {
        auto* pane = new TPreviewPane(MsgLanguage, &dialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
        QObject::connect(&dialog, &QFileDialog::currentChanged, pane,
                         [pane](const QString& path) { pane->ShowFile(path); });
    }
    if (dialog.exec() != QDialog::Accepted) return false;
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
