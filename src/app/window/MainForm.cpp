#include "app/window/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>

#include "app/engine/AppFolders.h"
#include "app/engine/CommandLine.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterPic.h"
#include "app/engine/ConverterSettings.h"
#include "app/engine/MessageCatalogue.h"
#include "app/dialogs/DialogHelpers.h"
#include "app/dialogs/DlgAbout.h"
#include "app/dialogs/DlgMultiFrame.h"
#include "app/dialogs/DlgPasswords.h"
#include "app/dialogs/DlgPrefs.h"
#include "app/window/ElidedLabel.h"
#include "imaging/view/KVOpenSaveDlg.h"
#include "imaging/view/KestovaView.h"
#include "platform/Prompter.h"
#include "tzlib/Errors.h"
#include "tzlib/SystemHelpers.h"
#include "tzlib/TextFormats.h"

namespace {

template <class TControl, class... TArgs>
TControl* Make(QWidget* parent, const char* name, TArgs&&... args) {
    auto* control = new TControl(std::forward<TArgs>(args)..., parent);
    control->setObjectName(name);
    return control;
}

QLabel* Label(QWidget* parent, const char* text) { return Make<QLabel>(parent, "", text); }

// Layouts of the window, spaced as it was drawn at 96 dpi.
template <class TLayout>
TLayout* NewLayout(QWidget* parent, int margin) {
    auto* layout = new TLayout(parent);
    layout->setContentsMargins(QMargins() + ScaleToScreenDpi(margin));
    layout->setSpacing(ScaleToScreenDpi(4));
    return layout;
}

}  // namespace

TMainForm::TMainForm(const TCommandLine& command, QWidget* parent) : QWidget(parent) {
    setObjectName("MainForm");
    setWindowTitle(QApplication::applicationDisplayName());
    // The window keeps the size of its content: it offers no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ErrorTextCallback = GetCatalogueText;
    auto* layout = NewLayout<QGridLayout>(this, 8);
    layout->setSpacing(ScaleToScreenDpi(8));
    layout->addWidget(BuildSourcePanel(), 0, 0);
    layout->addWidget(BuildViewerPanel(), 0, 1);
    layout->addWidget(BuildOptions(), 1, 0);
    layout->addWidget(BuildModeOptions(), 1, 1);
    layout->addLayout(BuildButtons(), 2, 0, 1, 2);
    layout->setRowStretch(0, 1);
    layout->setColumnStretch(0, 330);
    layout->setColumnStretch(1, 339);
    FitToContents(this, QSize(693, 551));
    openDialog_ = std::make_unique<TOpenKestovaDialog>();
    openDialog_->Title = "Select one or several pic files";
    openDialog_->MsgLanguage = msEnglish;
    openDialog_->FilterIndex = 2;
    openDialog_->Options = openDialog_->Options.With(ofAllowMultiSelect);
    converter_ = std::make_unique<TConverter>(*this);
    LoadSettings(*converter_);
    CreateTempFolder();
    ConnectOptions();
    AskFrames = [this](TConverterPic& pic, int& count, int& step) {
        TDlgMultiFrameForm dialog(this);
        dialog.Pic = {pic.FileName, pic.FrameCount, pic.FrameStep};
        dialog.exec();
        count = dialog.ExtractCount;
        step = dialog.ExtractStep;
    };
    ReadCommandLine(command);
    SelectAndRefresh(lbSource_->count() - 1);
    UpdatePicCount();
    EnableControls(true);
}

TMainForm::~TMainForm() {
    ShutDown();
    // The engine's pictures go before the view whose input/output object they may hold.
    converter_.reset();
}

void TMainForm::ReadCommandLine(const TCommandLine& command) {
    startedWithArguments_ = command.mode.has_value();
    if (!command.mode) return;
    converter_->Mode = *command.mode == TCommandMode::Book ? cmBook : cmSingle;
    // A picture that cannot be added is shown in a box and left out; the others are listed.
    for (const TCommandSource& source : command.sources) Guarded([&] { AddPicture(source.fileName, source.frameIndex); });
}

void TMainForm::ShutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    // Settings that cannot be written must not keep the program from closing.
    Guarded([this] { SaveSettings(*converter_); });
    view_->Clear();
    DeleteTempFolder();
}

QToolButton* TMainForm::AddToolButton(const char* name, const char* hint, int icon) {
    auto* button = Make<QToolButton>(tbSource_, name);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
    tbSource_->layout()->addWidget(button);
    return button;
}

QWidget* TMainForm::BuildSourcePanel() {
    auto* container = Make<QWidget>(this, "pnSourceContainer");
    tbSource_ = Make<QWidget>(container, "tbSource");
    auto* tools = NewLayout<QHBoxLayout>(tbSource_, 0);
    tools->setSpacing(ScaleToScreenDpi(2));
    const auto connectClick = [this](QToolButton* button, void (TMainForm::*handler)()) {
        connect(button, &QToolButton::clicked, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    connectClick(AddToolButton("btSourceAddFile", "Add one or several files to source pics", QStyle::SP_FileIcon),
                 &TMainForm::btSourceAddFileClick);
    connectClick(AddToolButton("btSourceAddDir", "Add a directory to source pics", QStyle::SP_DirIcon),
                 &TMainForm::btSourceAddDirClick);
    connectClick(AddToolButton("btSourceScan", "Connect to scanner and acquire a pic", QStyle::SP_DriveCDIcon),
                 &TMainForm::btSourceScanClick);
    connectClick(AddToolButton("btSourceMoveFirst", "Move first", QStyle::SP_MediaSkipBackward),
                 &TMainForm::btSourceMoveFirstClick);
    connectClick(AddToolButton("btSourceMoveUp", "Move up", QStyle::SP_ArrowUp), &TMainForm::btSourceMoveUpClick);
    connectClick(AddToolButton("btSourceMoveDown", "Move down", QStyle::SP_ArrowDown),
                 &TMainForm::btSourceMoveDownClick);
    connectClick(AddToolButton("btSourceMoveLast", "Move last", QStyle::SP_MediaSkipForward),
                 &TMainForm::btSourceMoveLastClick);
    QToolButton* sort = AddToolButton("btSourceSort", "Sort pics", QStyle::SP_FileDialogListView);
    auto* popSort = new QMenu(sort);
    popSort->setObjectName("popSort");
    const struct {
        const char *name, *caption;
        TSortKey key;
        bool descending;
    } orders[] = {
        {"popSortAsc_FileName", "Sort by ascending file names", TSortKey::FileName, false},
        {"popSortAsc_FileDate", "Sort by ascending file dates", TSortKey::FileDate, false},
        {"popSortAsc_FileSize", "Sort by ascending file sizes", TSortKey::FileSize, false},
        {"popSortDesc_FileName", "Sort by descending file names", TSortKey::FileName, true},
        {"popSortDesc_FileDate", "Sort by descending file dates", TSortKey::FileDate, true},
        {"popSortDesc_FileSize", "Sort by descending file sizes", TSortKey::FileSize, true},
    };
    for (const auto& order : orders) {
        QAction* item = popSort->addAction(order.caption);
        item->setObjectName(order.name);
        connect(item, &QAction::triggered, this,
                [this, order] { Guarded([this, order] { SortPics(order.key, order.descending); }); });
    }
    sort->setMenu(popSort);
    sort->setPopupMode(QToolButton::InstantPopup);
    connectClick(AddToolButton("btSourceRemovePic", "Remove pic", QStyle::SP_DialogDiscardButton),
                 &TMainForm::btSourceRemovePicClick);
    connectClick(AddToolButton("btSourceRemoveAll", "Clear list", QStyle::SP_TrashIcon),
                 &TMainForm::btSourceRemoveAllClick);
    tools->addStretch();

    lbSource_ = Make<QListWidget>(container, "lbSource");
    lbSource_->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(lbSource_, &QListWidget::currentRowChanged, this, [this] { Guarded([this] { ShowPicInfo(true, true); }); });
    // Files dropped from the file manager, and the Insert and Delete keys.
    lbSource_->viewport()->setAcceptDrops(true);
    lbSource_->viewport()->installEventFilter(this);
    lbSource_->installEventFilter(this);
    // The hint over the empty list fills it, its text centred.
    pnSourceLabel_ = Make<QLabel>(lbSource_, "pnSourceLabel", "Place source pics here");
    pnSourceLabel_->setAlignment(Qt::AlignCenter);
    pnSourceLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* over = NewLayout<QVBoxLayout>(lbSource_, 2);
    over->addWidget(pnSourceLabel_);
    laSourceCount_ = Make<QLabel>(container, "laSourceCount");
    auto* layout = NewLayout<QVBoxLayout>(container, 0);
    layout->addWidget(tbSource_);
    layout->addWidget(lbSource_, 1);
    layout->addWidget(laSourceCount_);
    return container;
}

QWidget* TMainForm::BuildViewerPanel() {
    auto* container = Make<QWidget>(this, "pnViewerContainer");
    pnViewer_ = Make<QWidget>(container, "pnViewer");
    KeepRoomWhenHidden(pnViewer_);
    NewLayout<QVBoxLayout>(container, 0)->addWidget(pnViewer_);
    view_ = new TKestovaView(pnViewer_);
    view_->setObjectName("View");
    view_->setMinimumHeight(ScaleToScreenDpi(230));
    view_->SetAutoShrink(true);
    view_->SetAutoStretch(true);
    auto* info = new QGridLayout;
    info->setSpacing(0);
    info->setHorizontalSpacing(ScaleToScreenDpi(4));
    // What a picture brings never changes the window's size.
    info->addWidget(laSourceFileName_ = Make<TElidedLabel>(pnViewer_, "laSourceFileName"), 0, 0, 1, 2);
    // The name spans the row: its length must not push the columns below apart.
    laSourceFileName_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    info->addWidget(laSourceFileSize_ = Make<TElidedLabel>(pnViewer_, "laSourceFileSize"), 1, 0);
    info->addWidget(laSourceFileDate_ = Make<TElidedLabel>(pnViewer_, "laSourceFileDate"), 1, 1);
    info->addWidget(laSourcePicColors_ = Make<TElidedLabel>(pnViewer_, "laSourcePicColors"), 2, 0);
    info->addWidget(laSourcePicDim_ = Make<TElidedLabel>(pnViewer_, "laSourcePicDim"), 2, 1);

    pnViewerFrame_ = Make<QWidget>(pnViewer_, "pnViewerFrame");
    KeepRoomWhenHidden(pnViewerFrame_);
    auto* frameLine = NewLayout<QHBoxLayout>(pnViewerFrame_, 0);
    frameLine->addWidget(Label(pnViewerFrame_, "Frame:"));
    auto* frame = Make<QLineEdit>(pnViewerFrame_, "eSourceFrame");
    frameLine->addWidget(frame);
    frameLine->addWidget(Label(pnViewerFrame_, "/"));
    auto* count = Make<QLineEdit>(pnViewerFrame_, "eSourceFileFrameCount");
    count->setReadOnly(true);
    frameLine->addWidget(count);
    for (QLineEdit* edit : {frame, count}) edit->setFixedWidth(ScaleToScreenDpi(50));
    auto* bar = Make<QScrollBar>(pnViewerFrame_, "sbSourceFrame", Qt::Horizontal);
    frameLine->addWidget(bar, 1);
    connect(bar, &QScrollBar::valueChanged, this, [frame](int position) { frame->setText(QString::number(position + 1)); });
    connect(frame, &QLineEdit::textChanged, this, [this] { Guarded([this] { FrameTyped(); }); });
    pnViewerFrame_->hide();

    auto* layout = NewLayout<QVBoxLayout>(pnViewer_, 8);
    layout->addWidget(view_, 1);
    layout->addLayout(info);
    layout->addWidget(pnViewerFrame_);
    return container;
}

QWidget* TMainForm::BuildOptions() {
    gbPdfOptions_ = Make<QGroupBox>(this, "gbPdfOptions", "PDF output options");
    auto* layout = NewLayout<QGridLayout>(gbPdfOptions_, 8);
    layout->addWidget(Make<QRadioButton>(gbPdfOptions_, "rbModeSingle", "Make an individual PDF file for each source pic"),
                      0, 0, 1, 2);
    layout->addWidget(Make<QRadioButton>(gbPdfOptions_, "rbModeBook", "Make one PDF book containing all source pics"), 1,
                      0, 1, 2);
    layout->setRowMinimumHeight(2, ScaleToScreenDpi(4));
    layout->addWidget(Make<QCheckBox>(gbPdfOptions_, "chEncryptOutput", "Encrypt generated PDF files"), 3, 0);
    auto* passwords = Make<QPushButton>(gbPdfOptions_, "btPasswords", "Passwords...");
    passwords->setEnabled(false);
    layout->addWidget(passwords, 3, 1);
    layout->addWidget(Make<QCheckBox>(gbPdfOptions_, "chDeleteSourcePics", "Delete source pics after conversion"), 4, 0,
                      1, 2);
    layout->setRowStretch(5, 1);
    layout->setColumnStretch(0, 1);
    return gbPdfOptions_;
}

QWidget* TMainForm::BuildModeOptions() {
    nbModeOptions_ = Make<QStackedWidget>(this, "nbModeOptions");
    gbSingleOptions_ = new QGroupBox("Single-mode options");
    gbSingleOptions_->setObjectName("gbSingleOptions");
    nbModeOptions_->addWidget(gbSingleOptions_);
    auto* single = NewLayout<QGridLayout>(gbSingleOptions_, 8);
    auto* explanation = Label(gbSingleOptions_, "Generated PDF documents will be sized according to this pic resolution:");
    explanation->setWordWrap(true);
    single->addWidget(explanation, 0, 0, 1, 4);
    single->addWidget(Label(gbSingleOptions_, "Pic resolution"), 1, 0);
    auto* resolution = Make<QComboBox>(gbSingleOptions_, "cbSinglePicRes");
    resolution->addItems({"72", "96", "120", "150", "200", "300", "600", "1200"});
    single->addWidget(resolution, 1, 1);
    single->addWidget(Label(gbSingleOptions_, "dpi"), 1, 2);
    single->setRowMinimumHeight(2, ScaleToScreenDpi(4));
    single->addWidget(Make<QCheckBox>(gbSingleOptions_, "chOverwriteExisting", "Overwrite existing PDF files, if any"), 3,
                      0, 1, 4);
    single->setRowStretch(4, 1);
    single->setColumnStretch(3, 1);

    gbBookOptions_ = new QGroupBox("Book-mode options");
    gbBookOptions_->setObjectName("gbBookOptions");
    nbModeOptions_->addWidget(gbBookOptions_);
    auto* book = NewLayout<QGridLayout>(gbBookOptions_, 8);
    book->addWidget(Label(gbBookOptions_, "Pics per page:"), 0, 0, 1, 2);
    auto* counts = new QHBoxLayout;
    for (const char* count : {"1", "2", "4", "6", "8", "12", "24"}) {
        const std::string name = std::string("rbBookPicsPerPage") + count;
        counts->addWidget(Make<QRadioButton>(gbBookOptions_, name.c_str(), count));
    }
    counts->addStretch();
    book->addLayout(counts, 1, 0, 1, 2);
    book->setRowMinimumHeight(2, ScaleToScreenDpi(4));
    book->addWidget(Label(gbBookOptions_, "Title:"), 3, 0);
    book->addWidget(Make<QLineEdit>(gbBookOptions_, "eBookTitle"), 3, 1);
    book->addWidget(Label(gbBookOptions_, "Subject:"), 4, 0);
    book->addWidget(Make<QLineEdit>(gbBookOptions_, "eBookSubject"), 4, 1);
    book->setRowStretch(5, 1);
    return nbModeOptions_;
}

QLayout* TMainForm::BuildButtons() {
    auto* about = Make<QPushButton>(this, "btAbout", "&About Mordale...");
    auto* prefs = Make<QPushButton>(this, "btPrefs", "&Preferences...");
    btMakePdf_ = Make<QPushButton>(this, "btMakePdf");
    btMakePdf_->setDefault(true);
    // Wide enough for each of its texts, so that switching modes moves nothing.
    btMakePdf_->setMinimumWidth(btMakePdf_->fontMetrics().horizontalAdvance("Make PDF book") +
                                btMakePdf_->sizeHint().width());
    btClose_ = Make<QPushButton>(this, "btClose", "&Close");
    connect(btClose_, &QPushButton::clicked, this, [this] {
        if (!Converting()) {
            close();
            return;
        }
        abortRequested_ = true;
        EndProgress();
    });
    pnProgress_ = Make<QWidget>(this, "pnProgress");
    KeepRoomWhenHidden(pnProgress_);
    auto* progress = NewLayout<QHBoxLayout>(pnProgress_, 0);
    progress->addWidget(Label(pnProgress_, "Generating PDF..."));
    pbProgress_ = Make<QProgressBar>(pnProgress_, "pbProgress");
    pbProgress_->setTextVisible(false);
    progress->addWidget(pbProgress_, 1);
    pnProgress_->hide();
    auto* layout = new QHBoxLayout;
    layout->setSpacing(ScaleToScreenDpi(6));
    layout->addWidget(about);
    layout->addWidget(prefs);
    layout->addWidget(pnProgress_, 1);
    layout->addWidget(btMakePdf_);
    layout->addWidget(btClose_);
    return layout;
}

void TMainForm::ConnectOptions() {
    const auto radio = [this](const char* name) { return findChild<QRadioButton*>(name); };
    const auto check = [this](const char* name) { return findChild<QCheckBox*>(name); };
    const auto showAfterChange = [this] {
        ShowPicInfo(false, false);
        RefreshOptions();
    };
    connect(radio("rbModeSingle"), &QRadioButton::clicked, this, [this, showAfterChange] {
        converter_->Mode = cmSingle;
        showAfterChange();
    });
    connect(radio("rbModeBook"), &QRadioButton::clicked, this, [this, showAfterChange] {
        converter_->Mode = cmBook;
        showAfterChange();
    });
    connect(findChild<QComboBox*>("cbSinglePicRes"), &QComboBox::activated, this, [this, showAfterChange] {
        converter_->SetPicResolution(findChild<QComboBox*>("cbSinglePicRes")->currentText().toInt());
        showAfterChange();
    });
    connect(check("chOverwriteExisting"), &QCheckBox::clicked, this, [this](bool on) { converter_->Overwrite = on; });
    connect(check("chDeleteSourcePics"), &QCheckBox::clicked, this, [this](bool on) { converter_->DeleteSources = on; });
    // Whatever the dialog's answer, the box then shows whether an owner password exists.
    const auto editPasswords = [this] {
        TDlgPasswordsForm dialog(converter_->OwnerPassword, converter_->UserPassword, this);
        dialog.exec();
        RefreshOptions();
    };
    connect(check("chEncryptOutput"), &QCheckBox::clicked, this, [this, editPasswords](bool on) {
        if (!on) converter_->UserPassword.clear(), converter_->OwnerPassword.clear();
        if (on) editPasswords(); else RefreshOptions();
    });
    connect(findChild<QPushButton*>("btPasswords"), &QPushButton::clicked, this, editPasswords);
    connect(findChild<QPushButton*>("btAbout"), &QPushButton::clicked, this, [this] { TDlgAboutForm(this).exec(); });
    connect(findChild<QPushButton*>("btPrefs"), &QPushButton::clicked, this,
            [this] { TDlgPrefsForm(*converter_, this).exec(); });
    for (const char* count : {"1", "2", "4", "6", "8", "12", "24"}) {
        const std::string name = std::string("rbBookPicsPerPage") + count;
        connect(radio(name.c_str()), &QRadioButton::clicked, this,
                [this, count] { converter_->PicsPerPage = static_cast<uint8_t>(std::stoi(count)); });
    }
    connect(findChild<QLineEdit*>("eBookTitle"), &QLineEdit::textEdited, this,
            [this](const QString& text) { converter_->Title = text.toStdString(); });
    connect(findChild<QLineEdit*>("eBookSubject"), &QLineEdit::textEdited, this,
            [this](const QString& text) { converter_->Subject = text.toStdString(); });
    connect(btMakePdf_, &QPushButton::clicked, this, [this] { btMakePdfClick(); });
}

void TMainForm::RefreshOptions() {
    TConverter& c = *converter_;
    const bool book = c.Mode == cmBook;
    const QSignalBlocker quietSingle(findChild<QRadioButton*>("rbModeSingle"));
    findChild<QRadioButton*>(book ? "rbModeBook" : "rbModeSingle")->setChecked(true);
    nbModeOptions_->setCurrentWidget(book ? gbBookOptions_ : gbSingleOptions_);
    if (book) {
        auto* perPage = findChild<QRadioButton*>(("rbBookPicsPerPage" + std::to_string(c.PicsPerPage)).c_str());
        (perPage ? perPage : findChild<QRadioButton*>("rbBookPicsPerPage1"))->setChecked(true);
        for (const auto& [name, text] : {std::pair{"eBookTitle", &c.Title}, std::pair{"eBookSubject", &c.Subject}})
            findChild<QLineEdit*>(name)->setText(QString::fromStdString(*text));
        btMakePdf_->setText("Make PDF book");
    } else {
        auto* resolution = findChild<QComboBox*>("cbSinglePicRes");
        const int index = resolution->findText(QString::number(c.PicResolution));
        resolution->setCurrentIndex(index < 0 ? 0 : index);
        findChild<QCheckBox*>("chOverwriteExisting")->setChecked(c.Overwrite);
        btMakePdf_->setText(lbSource_->count() == 1 ? "Convert Pic" : "Convert Pics");
    }
    findChild<QCheckBox*>("chEncryptOutput")->setChecked(!c.OwnerPassword.empty());
    findChild<QWidget*>("btPasswords")->setEnabled(!c.OwnerPassword.empty());
    findChild<QCheckBox*>("chDeleteSourcePics")->setChecked(c.DeleteSources);
    UpdatePicCount();
}

void TMainForm::EnableControls(bool enabled) {
    const int selected = lbSource_->currentRow(), count = lbSource_->count();
    const auto enable = [this](const char* name, bool on) { findChild<QWidget*>(name)->setEnabled(on); };
    for (const char* name : {"btSourceAddFile", "btSourceAddDir", "btSourceScan", "lbSource", "btAbout", "btPrefs"})
        enable(name, enabled);
    enable("btSourceMoveUp", enabled && selected > 0);
    enable("btSourceMoveFirst", enabled && selected > 0);
    enable("btSourceMoveDown", enabled && selected >= 0 && selected < count - 1);
    enable("btSourceMoveLast", enabled && selected >= 0 && selected < count - 1);
    for (const char* name : {"btSourceSort", "btSourceRemoveAll", "btMakePdf"}) enable(name, enabled && count > 0);
    enable("btSourceRemovePic", enabled && selected >= 0);
    pnViewer_->setVisible(enabled && selected >= 0);
    // A group keeps its children's own states (the password button follows its check box).
    gbPdfOptions_->setEnabled(enabled);
    gbBookOptions_->setEnabled(enabled);
    enable("btClose", enabled || (selected < 0 && count > 0));
}

void TMainForm::UpdatePicCount() {
    const int count = lbSource_->count();
    laSourceCount_->setText(count > 0 ? QString::number(count) + " pics selected" : "No pic selected");
    pnSourceLabel_->setVisible(count == 0);
    QApplication::processEvents();
}

bool TMainForm::Converting() const { return !lbSource_->isEnabled(); }

void TMainForm::btMakePdfClick() {
    RunConversion([this] { converter_->MakePdf(); });
}

void TMainForm::RunConversion(const std::function<void()>& makePdf) {
    const int selected = lbSource_->currentRow();
    lbSource_->setCurrentRow(-1);
    EnableControls(false);
    try {
        makePdf();
    } catch (const std::exception& error) {
        ShowExceptionBox(error);
    }
    EndProgress();
    lbSource_->setCurrentRow(selected);
    EnableControls(true);
    if (closeAfterRun_) close();
}

// The engine's run is still on the stack: it is told to stop, and the window goes when it has.
void TMainForm::closeEvent(QCloseEvent* event) {
    if (!Converting()) {
        if (lbSource_->count() > 0 && converter_->GeneratedPdfs.Count() == 0 && !closeAfterRun_ &&
            !AskYesNo(0, "Quit with no PDF output?"))
            return event->ignore();
        ShutDown();
        return event->accept();
    }
    abortRequested_ = true;
    closeAfterRun_ = true;
    EndProgress();
    event->ignore();
}

void TMainForm::BeginProgress(int maximum) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    pbProgress_->setRange(0, maximum);
    pbProgress_->setValue(0);
    pnProgress_->show();
    btClose_->setText("Abort");
    abortRequested_ = false;
}

void TMainForm::SetProgress(int position) { pbProgress_->setValue(position); }
void TMainForm::ProcessMessages() { QApplication::processEvents(); }
TKestovaIO* TMainForm::ViewIO() { return view_->GetIO(); }

void TMainForm::EndProgress() {
    if (pnProgress_->isHidden()) return;
    QApplication::restoreOverrideCursor();
    pnProgress_->hide();
    btClose_->setText("Close");
    QApplication::processEvents();
}
