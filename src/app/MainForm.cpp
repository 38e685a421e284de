#include "app/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
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

#include "app/AppFolders.h"
#include "app/CommandLine.h"
#include "app/Converter.h"
#include "app/ConverterPic.h"
#include "app/ConverterSettings.h"
#include "app/MessageCatalogue.h"
#include "app/dialogs/DlgAbout.h"
#include "app/dialogs/DlgMultiFrame.h"
#include "app/dialogs/DlgPasswords.h"
#include "app/dialogs/DlgPrefs.h"
#include "imaging/view/KVOpenSaveDlg.h"
#include "imaging/view/KestovaView.h"
#include "platform/Prompter.h"
#include "tzlib/Errors.h"
#include "tzlib/TextFormats.h"

namespace {

template <class TControl, class... TArgs>
TControl* Make(QWidget* parent, const char* name, QRect bounds, TArgs&&... args) {
    auto* control = new TControl(std::forward<TArgs>(args)..., parent);
    control->setObjectName(name);
    control->setGeometry(bounds);
    return control;
}

QLabel* Label(QWidget* parent, const char* text, QRect bounds) { return Make<QLabel>(parent, "", bounds, text); }

}  // namespace

TMainForm::TMainForm(const TCommandLine& command, QWidget* parent) : QWidget(parent) {
    setObjectName("MainForm");
    setWindowTitle(QApplication::applicationDisplayName());
    setFixedSize(693, 551);
    ErrorTextCallback = GetCatalogueText;
    BuildSourcePanel();
    BuildViewerPanel();
    BuildOptions();
    BuildButtons();
    openDialog_ = std::make_unique<TOpenKestovaDialog>();
    openDialog_->Title = "Select one or several pic files";
    openDialog_->MsgLanguage = msEnglish;
    openDialog_->FilterIndex = 2;
    openDialog_->AllowMultiSelect = true;
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
    if (!unattended_) {
        SelectAndRefresh(lbSource_->count() - 1);
    }
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
    unattended_ = command.unattended;
    if (!command.mode) return;
    converter_->Mode = *command.mode == TCommandMode::Book ? cmBook : cmSingle;
    for (const TRejectedArgument& rejected : command.rejected)
        notAdded_.push_back({rejected.argument, rejected.reason});
    nothingUsable_ = command.sources.empty();
    // A picture that cannot be added is reported and left out; the others still count.
    for (const TCommandSource& source : command.sources) {
        try {
            AddPicture(source.fileName, source.frameIndex);
        } catch (const std::exception& error) {
            ShowExceptionBox(error);
            notAdded_.push_back({source.fileName, error.what()});
        }
    }
}

int TMainForm::RunUnattended() {
    TExitStatus status = esConverted;
    if (nothingUsable_) {
        status = esNothingUsable;
        ReportNotConverted(notAdded_);
        Prompter().MessageBox(QApplication::applicationDisplayName().toStdString(),
                              "No pic selected: the command line names no picture this program can read.\n" + UsageText(),
                              TMsgIcon::Error, TMsgButtons::Ok);
    } else {
        const bool converted = Guarded([this] { converter_->MakePdf(); });
        std::vector<TNotConverted> failures = notAdded_;
        failures.insert(failures.end(), converter_->NotConverted.begin(), converter_->NotConverted.end());
        ReportNotConverted(failures);
        if (!converted || !failures.empty()) status = esNotAllConverted;
    }
    ShutDown();
    return status;
}

void TMainForm::ReportNotConverted(const std::vector<TNotConverted>& failures) {
    if (failures.empty()) return;
    std::string text = failures.size() == 1 ? "Not converted:" : std::to_string(failures.size()) + " not converted:";
    for (const TNotConverted& failure : failures)
        text += "\n  " + (failure.fileName.empty() ? failure.reason : failure.fileName + ": " + failure.reason);
    Prompter().MessageBox(QApplication::applicationDisplayName().toStdString(), text, TMsgIcon::Error, TMsgButtons::Ok);
}

bool TMainForm::Guarded(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const std::exception& error) {
        ShowExceptionBox(error);
        return false;
    }
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
    const int left = tbSource_->findChildren<QToolButton*>().size() * 24;
    auto* button = Make<QToolButton>(tbSource_, name, QRect(left, 0, 22, 22));
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
    return button;
}

void TMainForm::BuildSourcePanel() {
    auto* container = Make<QWidget>(this, "pnSourceContainer", QRect(8, 8, 330, 326));
    tbSource_ = Make<QWidget>(container, "tbSource", QRect(0, 0, 330, 24));
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

    lbSource_ = Make<QListWidget>(container, "lbSource", QRect(0, 28, 330, 276));
    lbSource_->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(lbSource_, &QListWidget::currentRowChanged, this, [this] { Guarded([this] { ShowPicInfo(true, true); }); });
    // Files dropped from the file manager, and the Insert and Delete keys.
    lbSource_->viewport()->setAcceptDrops(true);
    lbSource_->viewport()->installEventFilter(this);
    lbSource_->installEventFilter(this);
    pnSourceLabel_ = Make<QLabel>(lbSource_, "pnSourceLabel", QRect(0, 120, 326, 30), "Place source pics here");
    pnSourceLabel_->setAlignment(Qt::AlignCenter);
    pnSourceLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    laSourceCount_ = Make<QLabel>(container, "laSourceCount", QRect(0, 308, 330, 16));
}

void TMainForm::BuildViewerPanel() {
    auto* container = Make<QWidget>(this, "pnViewerContainer", QRect(346, 8, 339, 326));
    pnViewer_ = Make<QWidget>(container, "pnViewer", QRect(0, 0, 339, 326));
    view_ = new TKestovaView(pnViewer_);
    view_->setObjectName("View");
    view_->setGeometry(8, 8, pnViewer_->width() - 16, 230);
    view_->SetAutoShrink(true);
    view_->SetAutoStretch(true);
    Make<QLabel>(pnViewer_, "laSourceFileName", QRect(8, 242, 323, 16));
    Make<QLabel>(pnViewer_, "laSourceFileSize", QRect(8, 258, 160, 16));
    Make<QLabel>(pnViewer_, "laSourceFileDate", QRect(170, 258, 161, 16));
    Make<QLabel>(pnViewer_, "laSourcePicColors", QRect(8, 274, 160, 16));
    Make<QLabel>(pnViewer_, "laSourcePicDim", QRect(170, 274, 161, 16));
    pnViewerFrame_ = Make<QWidget>(pnViewer_, "pnViewerFrame", QRect(8, 294, 323, 26));
    Label(pnViewerFrame_, "Frame:", QRect(0, 4, 44, 18));
    Make<QLineEdit>(pnViewerFrame_, "eSourceFrame", QRect(46, 2, 50, 22));
    Label(pnViewerFrame_, "/", QRect(100, 4, 8, 18));
    Make<QLineEdit>(pnViewerFrame_, "eSourceFileFrameCount", QRect(110, 2, 50, 22))->setReadOnly(true);
    auto* bar = Make<QScrollBar>(pnViewerFrame_, "sbSourceFrame", QRect(168, 4, 155, 18), Qt::Horizontal);
    auto* frame = findChild<QLineEdit*>("eSourceFrame");
    connect(bar, &QScrollBar::valueChanged, this, [frame](int position) { frame->setText(QString::number(position + 1)); });
    connect(frame, &QLineEdit::textChanged, this, [this] { Guarded([this] { FrameTyped(); }); });
    pnViewerFrame_->hide();
}

void TMainForm::BuildOptions() {
    gbPdfOptions_ = Make<QGroupBox>(this, "gbPdfOptions", QRect(8, 340, 330, 170), "PDF output options");
    Make<QRadioButton>(gbPdfOptions_, "rbModeSingle", QRect(10, 24, 312, 22), "Make an individual PDF file for each source pic");
    Make<QRadioButton>(gbPdfOptions_, "rbModeBook", QRect(10, 50, 312, 22), "Make one PDF book containing all source pics");
    Make<QCheckBox>(gbPdfOptions_, "chEncryptOutput", QRect(10, 84, 200, 22), "Encrypt generated PDF files");
    Make<QPushButton>(gbPdfOptions_, "btPasswords", QRect(214, 82, 106, 25), "Passwords...")->setEnabled(false);
    Make<QCheckBox>(gbPdfOptions_, "chDeleteSourcePics", QRect(10, 116, 312, 22), "Delete source pics after conversion");

    nbModeOptions_ = Make<QStackedWidget>(this, "nbModeOptions", QRect(346, 340, 339, 170));
    gbSingleOptions_ = new QGroupBox("Single-mode options");
    gbSingleOptions_->setObjectName("gbSingleOptions");
    nbModeOptions_->addWidget(gbSingleOptions_);
    auto* explanation = Label(gbSingleOptions_, "Generated PDF documents will be sized according to this pic resolution:",
                              QRect(10, 22, 320, 34));
    explanation->setWordWrap(true);
    Label(gbSingleOptions_, "Pic resolution", QRect(10, 64, 100, 22));
    auto* resolution = Make<QComboBox>(gbSingleOptions_, "cbSinglePicRes", QRect(112, 62, 80, 24));
    resolution->addItems({"72", "96", "120", "150", "200", "300", "600", "1200"});
    Label(gbSingleOptions_, "dpi", QRect(198, 64, 30, 22));
    Make<QCheckBox>(gbSingleOptions_, "chOverwriteExisting", QRect(10, 100, 320, 22), "Overwrite existing PDF files, if any");

    gbBookOptions_ = new QGroupBox("Book-mode options");
    gbBookOptions_->setObjectName("gbBookOptions");
    nbModeOptions_->addWidget(gbBookOptions_);
    Label(gbBookOptions_, "Pics per page:", QRect(10, 24, 100, 22));
    int left = 10;
    for (const char* count : {"1", "2", "4", "6", "8", "12", "24"}) {
        const std::string name = std::string("rbBookPicsPerPage") + count;
        Make<QRadioButton>(gbBookOptions_, name.c_str(), QRect(left, 48, 44, 22), count);
        left += 46;
    }
    Label(gbBookOptions_, "Title:", QRect(10, 84, 60, 22));
    Make<QLineEdit>(gbBookOptions_, "eBookTitle", QRect(72, 82, 256, 24));
    Label(gbBookOptions_, "Subject:", QRect(10, 116, 60, 22));
    Make<QLineEdit>(gbBookOptions_, "eBookSubject", QRect(72, 114, 256, 24));
}

void TMainForm::BuildButtons() {
    Make<QPushButton>(this, "btAbout", QRect(8, 518, 130, 25), "&About Mordale...");
    Make<QPushButton>(this, "btPrefs", QRect(144, 518, 110, 25), "&Preferences...");
    btMakePdf_ = Make<QPushButton>(this, "btMakePdf", QRect(455, 518, 110, 25));
    btMakePdf_->setDefault(true);
    btClose_ = Make<QPushButton>(this, "btClose", QRect(575, 518, 110, 25), "&Close");
    connect(btClose_, &QPushButton::clicked, this, [this] {
        if (!Converting()) {
            close();
            return;
        }
        abortRequested_ = true;
        EndProgress();
    });
    pnProgress_ = Make<QWidget>(this, "pnProgress", QRect(260, 518, 190, 25));
    Label(pnProgress_, "Generating PDF...", QRect(0, 4, 100, 18));
    pbProgress_ = Make<QProgressBar>(pnProgress_, "pbProgress", QRect(100, 4, 90, 18));
    pbProgress_->setTextVisible(false);
    pnProgress_->hide();
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
