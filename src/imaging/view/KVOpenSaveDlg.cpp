#include "imaging/view/KVOpenSaveDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QTreeView>
#include <optional>
#include <utility>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KVIOPreviews.h"
#include "imaging/view/KVOpenSaveDlgOptions.h"
#include "imaging/view/KVPreviewInfo.h"
#include "imaging/view/KVPreviewPane.h"
#include "imaging/view/KestovaMIO.h"
#include "imaging/view/KestovaMView.h"
#include "imaging/view/KestovaView.h"
#include "platform/qt/QtPrompter.h"

namespace {
constexpr int AdvancedUpdateInterval = 100;  // ms

// Qt's dialog, asking before an accept closes it and telling when it is first shown.
class TKVFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    std::function<bool()> canAccept;
    std::function<void()> shown;

protected:
    void done(int result) override {
        if (result == QDialog::Accepted && canAccept && !canAccept()) return;
        QFileDialog::done(result);
    }
    void showEvent(QShowEvent* event) override {
        QFileDialog::showEvent(event);
        if (shown && !std::exchange(wasShown_, true)) shown();
    }

private:
    bool wasShown_ = false;
};

// The selection the list and the detail view share.
QItemSelectionModel* SelectionOf(QFileDialog& dialog) {
    auto* list = dialog.findChild<QListView*>("listView");
    return list ? list->selectionModel() : nullptr;
}

// Qt drops the leading "/" of a name whose folder is missing, making it a name in the shown folder:
// such a name is shown whole.
void OfferName(QFileDialog& dialog, const QString& name) {
    const QFileInfo file(name);
    auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
    if (edit && file.isAbsolute() && !file.absoluteDir().exists())
        edit->setText(name);
    else
        dialog.selectFile(name);
}

// Qt selects the shown folder's own row (a row of its parent, never listed) while the name box is
// empty, and a typed name may leave it selected: the preview and the result would be the folder.
void KeepFolderRowUnselected(QFileDialog& dialog) {
    auto* list = dialog.findChild<QListView*>("listView");
    QItemSelectionModel* selection = list ? list->selectionModel() : nullptr;
    if (!selection) return;
    QObject::connect(selection, &QItemSelectionModel::selectionChanged, list, [list, selection] {
        if (selection->isSelected(list->rootIndex()))
            selection->select(list->rootIndex(), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    });
}

// Room at 96 dpi for the folder list, the preview pane and a long folder path.
constexpr QSize StartingSize(940, 560);

// Room for the pane, and for the starting folder's path written out whole (the window manager
// keeps the window on a small screen).
void FitStartingSize(QFileDialog& dialog) {
    dialog.resize(dialog.sizeHint().expandedTo(StartingSize * (dialog.logicalDpiY() / 96.0)));
    auto* lookIn = dialog.findChild<QComboBox*>("lookInCombo");
    if (!lookIn) return;
    dialog.layout()->activate();
    QStyleOptionComboBox option;
    option.initFrom(lookIn);
    const QRect field =
        lookIn->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, lookIn);
    const int icon = lookIn->iconSize().width() + 4;
    const int missing = lookIn->fontMetrics().horizontalAdvance(lookIn->currentText()) + icon - field.width();
    if (missing > 0) dialog.resize(dialog.width() + missing, dialog.height());
}

// The file the list shows as chosen: the current one when it is selected (a click), else the first
// selected one (a typed name selects its file without making it current); empty when none is.
QString CurrentFilePath(QFileDialog& dialog) {
    QItemSelectionModel* selection = SelectionOf(dialog);
    if (!selection) return {};
    QModelIndex chosen = selection->currentIndex();
    if (!chosen.isValid() || !selection->isSelected(chosen)) {
        const QModelIndexList rows = selection->selectedRows();
        chosen = rows.isEmpty() ? QModelIndex() : rows.first();
    }
    return chosen.isValid() ? chosen.data(QFileSystemModel::FilePathRole).toString() : QString();
}

// Size, type and date as wide as what they show, once the folder has been read.
void FitFileColumns(QFileDialog& dialog) {
    auto* tree = dialog.findChild<QTreeView*>("treeView");
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!tree || !model) return;
    QObject::connect(model, &QFileSystemModel::directoryLoaded, tree, [tree] {
        for (int column = 1; column < tree->header()->count(); ++column) tree->resizeColumnToContents(column);
    });
}

}  // namespace

void TKVCommonDialog::DialogShown() {
    if (OnShow) OnShow();
}

void TKVCommonDialog::DialogClosed() {
    if (OnClose) OnClose();
}

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
    // A cancelled run leaves the last result.
    const std::string storedName = FileName;
    const int storedIndex = FilterIndex;
    // Qt's own dialog, since the pane goes into its layout.
    TKVFileDialog dialog(parent, QString::fromStdString(Title));
    dialog.setObjectName("OpenKestovaDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    QCheckBox* readOnly = KVApplyOpenOptions(dialog, Options, save);
    filters_ = QString::fromStdString(QtFileFilter(Filter)).split(";;");
    dialog.setNameFilters(filters_);
    if (FilterIndex >= 1 && FilterIndex <= filters_.size()) dialog.selectNameFilter(filters_[FilterIndex - 1]);
    liveType_ = static_cast<int>(filters_.indexOf(dialog.selectedNameFilter())) + 1;
    const std::string defaultExt = DefaultExt.starts_with('.') ? DefaultExt.substr(1) : DefaultExt;
    dialog.setDefaultSuffix(QString::fromStdString(defaultExt.empty() ? EntryExtension(liveType_) : defaultExt));
    if (!initialDir_.empty()) dialog.setDirectory(QString::fromStdString(initialDir_));
    if (!FileName.empty()) OfferName(dialog, QString::fromStdString(FileName));
    if (auto* places = dialog.findChild<QWidget*>("sidebar")) places->setVisible(ShowPlacesBar);

    TKVPreviewPane* pane = nullptr;
    if (preview) {
        pane = new TKVPreviewPane(MsgLanguage, ZoomFilter, ShowAllFrames || AlwaysAnimate, &dialog);
        pane->SetAlwaysAnimate(AlwaysAnimate);
        pane->SetExtended(ExtendedDialog);
        pane->SetAdjustDPI(AutoAdjustDPI, FilteredAdjustDPI);
        if (PreviewBorderStyle) pane->SetBorderStyle(*PreviewBorderStyle);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
    }
    shown_ = &dialog;
    pane_ = pane;
    KeepFolderRowUnselected(dialog);
    // A click changes the current file and the selection, a typed name only the selection: one
    // notification follows both.
    bool selectionPending = false;
    const auto selectionMoved = [this, &dialog, &selectionPending] {
        if (std::exchange(selectionPending, true)) return;
        QTimer::singleShot(0, &dialog, [this, &selectionPending] {
            selectionPending = false;
            SelectionChanged();
        });
    };
    QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog, selectionMoved);
    if (QItemSelectionModel* selection = SelectionOf(dialog))
        QObject::connect(selection, &QItemSelectionModel::selectionChanged, &dialog, selectionMoved);
    // Every way to another folder, a typed one too, sets the model's root.
    if (auto* model = dialog.findChild<QFileSystemModel*>())
        QObject::connect(model, &QFileSystemModel::rootPathChanged, &dialog, [this] { FolderChanged(); });
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [this] { TypeChanged(); });
    dialog.canAccept = [this, &dialog] {
        const QStringList files = dialog.selectedFiles();
        if (!KVFilesAcceptable(dialog, files, Options)) return false;
        TakeLiveState();
        for (const QString& file : files) Files.push_back(file.toStdString());
        const bool canClose = CanCloseQuery();
        Files.clear();
        return canClose;
    };
    dialog.shown = [this] { DialogShown(); };
    AddControls(dialog, filters_);
    FitStartingSize(dialog);
    FitFileColumns(dialog);
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    DialogClosed();
    if (pane) SelectedFrame = pane->SelectedFrame();
    if (confirmed)
        for (const QString& file : dialog.selectedFiles()) Files.push_back(file.toStdString());
    if (Files.empty()) {
        FileName = storedName;
        FilterIndex = storedIndex;
        return false;
    }
    FileName = Files.front();
    FilterIndex = static_cast<int>(filters_.indexOf(dialog.selectedNameFilter())) + 1;
    Options = KVAnsweredOptions(Options, readOnly, QString::fromStdString(FileName), dialog.defaultSuffix());
    return true;
}

std::string TOpenKestovaDialog::EntryExtension(int index) const {
    const std::string extension = KVFirstExtension(KVFilterPatterns(Filter, index));
    return extension.empty() ? extension : extension.substr(1);
}

void TOpenKestovaDialog::TakeLiveState() {
    if (!shown_) return;
    const QString current = CurrentFilePath(*shown_);
    FileName = (current.isEmpty() ? shown_->selectedFiles().value(0) : current).toStdString();
    if (const auto index = filters_.indexOf(shown_->selectedNameFilter()); index >= 0)
        FilterIndex = static_cast<int>(index) + 1;
}

bool TOpenKestovaDialog::CanCloseQuery() {
    bool canClose = true;
    if (OnCanClose) OnCanClose(canClose);
    return canClose;
}

void TOpenKestovaDialog::SelectionChanged() {
    if (!shown_) return;
    const QString path = CurrentFilePath(*shown_);
    if (pane_ && path != pane_->Path()) pane_->ShowFile(path);
    TakeLiveState();
    if (OnSelectionChange) OnSelectionChange();
}

void TOpenKestovaDialog::FolderChanged() {
    TakeLiveState();
    if (OnFolderChange) OnFolderChange();
}

// The chosen entry's first extension becomes the default one for typed names.
void TOpenKestovaDialog::TypeChanged() {
    if (!shown_) return;
    const int index = static_cast<int>(filters_.indexOf(shown_->selectedNameFilter())) + 1;
    shown_->setDefaultSuffix(QString::fromStdString(EntryExtension(index)));
    if (index == liveType_) return;
    liveType_ = index;
    TakeLiveState();
    if (OnTypeChange) OnTypeChange();
}

void TOpenKestovaDialog::DialogClosed() {
    TakeLiveState();
    TKVCommonDialog::DialogClosed();
}

TSaveKestovaDialog::TSaveKestovaDialog() { Filter = KVSaveFilter(msSystem); }

void TSaveKestovaDialog::SetAttachedKestovaIO(TKestovaIO* io) {
    if (!io) return;
    Attach(io, nullptr, nullptr);
    MsgLanguage = io->MsgLanguage;
}

void TSaveKestovaDialog::SetAttachedKestovaIO(TKestovaMIO* mio) {
    if (!mio) return;
    Attach(nullptr, mio, nullptr);
    MsgLanguage = mio->MsgLanguage;
}

void TSaveKestovaDialog::SetAttachedKestovaIO(TKestovaView* view) {
    if (view) Attach(view->GetIO(), nullptr, view);
}

void TSaveKestovaDialog::SetAttachedKestovaIO(TKestovaMView* view) {
    if (view) Attach(nullptr, view->GetMIO(), view);
}

void TSaveKestovaDialog::Attach(TKestovaIO* io, TKestovaMIO* mio, QObject* view) {
    io_ = io;
    mio_ = mio;
    ofView_ = view != nullptr;
    view_ = view;
}

// A view's component goes with the view.
TKestovaIO* TSaveKestovaDialog::AttachedIO() const { return ofView_ && !view_ ? nullptr : io_; }
TKestovaMIO* TSaveKestovaDialog::AttachedMIO() const { return ofView_ && !view_ ? nullptr : mio_; }

TIOParamsVals* TSaveKestovaDialog::AttachedParams() const {
    if (TKestovaIO* io = AttachedIO()) return &io->Params();
    if (TKestovaMIO* mio = AttachedMIO()) return mio->GetParams(0);
    return nullptr;
}

bool TSaveKestovaDialog::Execute(QWidget* parent) {
    if (AttachedMIO() && AttachedMIO()->GetParamsCount() == 0) return false;
    if (AutoSetFilter) Filter = KVSaveFilter(MsgLanguage);
    std::optional<TIOParamsVals> kept;
    if (TIOParamsVals* params = AttachedParams()) kept.emplace(nullptr).Assign(*params);
    const bool confirmed = Run(parent, true, ShowPreview);
    updateAdvanced_ = nullptr;
    if (!confirmed) {
        // The frame may have gone while the dialog was shown.
        if (TIOParamsVals* params = AttachedParams(); kept && params) params->Assign(*kept);
        return false;
    }
    // Qt may complete the name itself; only a name still without extension gets the format's.
    if (QFileInfo(QString::fromStdString(FileName)).suffix().isEmpty()) {
        FileName += KVFirstExtension(KVFilterPatterns(Filter, FilterIndex));
        Files = {FileName};
    }
    return true;
}

// The format of the typed name's extension, else of the default extension, else that of the chosen
// filter entry.
void TSaveKestovaDialog::AddControls(QFileDialog& dialog, const QStringList& filters) {
    if (!ShowAdvanced) return;
    auto* button = new QPushButton(QString::fromStdString(KVGetMessageText(45, MsgLanguage) + "..."), &dialog);
    button->setObjectName("AdvancedButton");
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) grid->addWidget(button, grid->rowCount(), 0);
    const auto format = [this, &dialog, filters]() -> const TKVFileFormatEntry* {
        const QString suffix = QFileInfo(dialog.selectedFiles().value(0)).suffix();
        const TKVFileFormatEntry* entry = suffix.isEmpty() ? nullptr : GetFileFormatByExt(suffix.toStdString());
        if (entry) return entry;
        if (!DefaultExt.empty() && (entry = GetFileFormatByExt(DefaultExt))) return entry;
        const int index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
        const std::string extension = KVFirstExtension(KVFilterPatterns(Filter, index));
        return extension.empty() ? nullptr : GetFileFormatByExt(extension);
    };
    const auto update = [this, button, format] {
        const TKVFileFormatEntry* entry = format();
        button->setEnabled((AttachedIO() || AttachedMIO()) && entry && entry->DialogPages != 0);
    };
    // The typed name changes without a signal of the dialog's own, so the button follows it by time.
    auto* timer = new QTimer(&dialog);
    QObject::connect(timer, &QTimer::timeout, button, update);
    timer->start(AdvancedUpdateInterval);
    update();
    updateAdvanced_ = update;
    QObject::connect(button, &QPushButton::clicked, &dialog, [this, &dialog, format] {
        const TKVFileFormatEntry* entry = format();
        if (!entry || entry->DialogPages == 0) return;
        if (TKestovaIO* io = AttachedIO()) {
            io->Params().FileType = entry->FileType;
            io->DoPreviews(entry->DialogPages);
        } else if (TKestovaMIO* mio = AttachedMIO()) {
            mio->DoPreviews(-1, entry->DialogPages, &dialog);
        }
    });
}

void TSaveKestovaDialog::TypeChanged() {
    if (updateAdvanced_) updateAdvanced_();
    TOpenKestovaDialog::TypeChanged();
}
