#include "imaging/view/KVOpenSaveDlg.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <optional>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KVIOPreviews.h"
#include "imaging/view/KVPreviewInfo.h"
#include "imaging/view/KVPreviewPane.h"
#include "imaging/view/KestovaMIO.h"
#include "imaging/view/KestovaMView.h"
#include "imaging/view/KestovaView.h"
#include "platform/qt/QtPrompter.h"

namespace {
constexpr int AdvancedUpdateInterval = 100;  // ms
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

    TKVPreviewPane* pane = nullptr;
    if (preview) {
        pane = new TKVPreviewPane(MsgLanguage, ZoomFilter, ShowAllFrames || AlwaysAnimate, &dialog);
        pane->SetAlwaysAnimate(AlwaysAnimate);
        if (PreviewBorderStyle) pane->SetBorderStyle(*PreviewBorderStyle);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
        QObject::connect(&dialog, &QFileDialog::currentChanged, pane,
                         [pane](const QString& path) { pane->ShowFile(path); });
    }
    AddControls(dialog, filters);
    FitStartingSize(dialog);
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
    if (!Run(parent, true, ShowPreview)) {
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

// The format of the typed name's extension, else that of the chosen filter entry.
void TSaveKestovaDialog::AddControls(QFileDialog& dialog, const QStringList& filters) {
    if (!ShowAdvanced) return;
    auto* button = new QPushButton(QString::fromStdString(KVGetMessageText(45, MsgLanguage) + "..."), &dialog);
    button->setObjectName("AdvancedButton");
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) grid->addWidget(button, grid->rowCount(), 0);
    const auto format = [this, &dialog, filters]() -> const TKVFileFormatEntry* {
        const QString suffix = QFileInfo(dialog.selectedFiles().value(0)).suffix();
        const TKVFileFormatEntry* entry = suffix.isEmpty() ? nullptr : GetFileFormatByExt(suffix.toStdString());
        if (entry) return entry;
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
