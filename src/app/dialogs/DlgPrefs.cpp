#include "app/dialogs/DlgPrefs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "app/engine/Converter.h"
#include "app/engine/ShellIntegration.h"
#include "app/dialogs/DialogHelpers.h"
#include "pdf/PdfKalmora.h"
#include "tzlib/Errors.h"
#include "tzlib/TextFormats.h"
#include "tzlib/qt/Controls.h"
#include "tzlib/qt/SpinEdit.h"

namespace {

QRadioButton* NewRadio(const char* caption, QWidget* parent, QLayout* layout) {
    auto* button = new QRadioButton(caption, parent);
    layout->addWidget(button);
    return button;
}

}  // namespace

QGroupBox* TDlgPrefsForm::NewPanel(const char* caption) { return new QGroupBox(caption, this); }

TDlgPrefsForm::TDlgPrefsForm(TConverter& converter, QWidget* parent) : QDialog(parent), converter_(converter) {
    setWindowTitle("Preferences");
    ChooseFont = [this](TFont& font) { return ChooseFontWithDialog(font, this); };

    gbGeneral = new QGroupBox("General", this);
    eAuthor = new QLineEdit(gbGeneral);
    cbLengthUnit = new QComboBox(gbGeneral);
    cbLengthUnit->addItems({"cm", "In"});
    chIntegratedToExplorer = new QCheckBox("Integrate Mordale into the file manager menu", gbGeneral);
    auto* general = new QGridLayout(gbGeneral);
    general->addWidget(new QLabel("Author of generated PDF documents", gbGeneral), 0, 0);
    general->addWidget(eAuthor, 0, 1);
    general->addWidget(new QLabel("Preferred Length unit:", gbGeneral), 1, 0);
    general->addWidget(cbLengthUnit, 1, 1, Qt::AlignLeft);
    general->addWidget(chIntegratedToExplorer, 2, 0, 1, 2);

    gbBookPicOptions = new QGroupBox("Book layout", this);
    QGroupBox* pnBookSize = NewPanel("Paper size and orientation");
    cbBookPaperSize = new QComboBox(pnBookSize);
    for (int i = 1; i < PaperSizeCount; ++i) cbBookPaperSize->addItem(PaperSizes[i].name);
    cbBookPaperSize->addItem(CustomPaperName);
    cbBookPaperSize->setMaxVisibleItems(12);
    // Styles that pop the list up over the box as a menu show every item at once.
    cbBookPaperSize->setStyleSheet("combobox-popup: 0;");
    rbBookPortrait = new QRadioButton("Portrait", pnBookSize);
    rbBookLandscape = new QRadioButton("Landscape", pnBookSize);
    eBookWidth = new QLineEdit(pnBookSize);
    eBookHeight = new QLineEdit(pnBookSize);
    for (QLineEdit* edit : {eBookWidth, eBookHeight}) {
        edit->setReadOnly(true);
        edit->setEnabled(false);
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
            if (!edit->isReadOnly()) Guarded([this, edit] { PaperSideChange(edit); });
        });
    }
    auto* size = new QGridLayout(pnBookSize);
    size->addWidget(new QLabel("Paper size", pnBookSize), 0, 0);
    size->addWidget(cbBookPaperSize, 0, 1, 1, 3);
    size->addWidget(rbBookPortrait, 1, 1);
    size->addWidget(rbBookLandscape, 1, 2);
    size->addWidget(new QLabel("Width", pnBookSize), 2, 0);
    size->addWidget(eBookWidth, 2, 1);
    size->addWidget(new QLabel("Height", pnBookSize), 2, 2);
    size->addWidget(eBookHeight, 2, 3);

    QGroupBox* pnBookMargins = NewPanel("Margins");
    auto* margins = new QGridLayout(pnBookMargins);
    const char* const marginLabels[] = {"Top", "Left", "Right", "Bottom"};
    TTzSpinEdit** const marginEdits[] = {&eBookTopMargin, &eBookLeftMargin, &eBookRightMargin, &eBookBottomMargin};
    for (int i = 0; i < 4; ++i) {
        TTzSpinEdit* edit = *marginEdits[i] = new TTzSpinEdit(pnBookMargins);
        edit->SetFormat("0.0");
        edit->Step = 0.1;
        edit->OnChange = [this] { Guarded([this] { MarginChange(); }); };
        margins->addWidget(new QLabel(marginLabels[i], pnBookMargins), i, 0);
        margins->addWidget(edit, i, 1);
    }

    QGroupBox* pnBookPicNames = NewPanel("Pic names");
    auto* names = new QVBoxLayout(pnBookPicNames);
    rbBookPicNamesAbove = NewRadio("Show above pics", pnBookPicNames, names);
    rbBookPicNamesUnder = NewRadio("Show under pics", pnBookPicNames, names);
    rbBookPicNamesNone = NewRadio("Don't show pic names", pnBookPicNames, names);
    btBookPicNamesFont = new QPushButton("Font...", pnBookPicNames);
    names->addWidget(btBookPicNamesFont);
    QGroupBox* pnBookPicDates = NewPanel("Pic dates");
    auto* dates = new QVBoxLayout(pnBookPicDates);
    rbBookPicDatesAbove = NewRadio("Show above pics", pnBookPicDates, dates);
    rbBookPicDatesUnder = NewRadio("Show under pics", pnBookPicDates, dates);
    rbBookPicDatesNone = NewRadio("Don't show pic dates", pnBookPicDates, dates);
    btBookPicDatesFont = new QPushButton("Font...", pnBookPicDates);
    dates->addWidget(btBookPicDatesFont);
    // A hidden font button leaves its room: the dialog keeps its size.
    for (QPushButton* font : {btBookPicNamesFont, btBookPicDatesFont}) KeepRoomWhenHidden(font);
    for (QGroupBox* panel : {pnBookSize, pnBookMargins, pnBookPicNames, pnBookPicDates}) panel->setParent(gbBookPicOptions);
    auto* book = new QGridLayout(gbBookPicOptions);
    book->addWidget(pnBookSize, 0, 0);
    book->addWidget(pnBookMargins, 0, 1);
    book->addWidget(pnBookPicNames, 1, 0);
    book->addWidget(pnBookPicDates, 1, 1);

    tClose = new QPushButton("&Close", this);
    tClose->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(tClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(gbGeneral);
    layout->addWidget(gbBookPicOptions);
    layout->addLayout(buttons);
    FitToContents(this, QSize(710, 413));

    connect(tClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(cbBookPaperSize, &QComboBox::activated, this, [this] { Guarded([this] { cbBookPaperSizeChange(); }); });
    connect(cbLengthUnit, &QComboBox::activated, this, [this] { Guarded([this] { cbLengthUnitChange(); }); });
    OnCheck(rbBookPortrait, [this] {
        converter_.Orientation = boPortrait;
        RefreshPaper();
    });
    OnCheck(rbBookLandscape, [this] {
        converter_.Orientation = boLandscape;
        RefreshPaper();
    });
    for (QRadioButton* button : {rbBookPicNamesAbove, rbBookPicNamesUnder, rbBookPicNamesNone})
        OnCheck(button, [this] { PicNamesPosClick(); });
    for (QRadioButton* button : {rbBookPicDatesAbove, rbBookPicDatesUnder, rbBookPicDatesNone})
        OnCheck(button, [this] { PicDatesPosClick(); });
    connect(btBookPicNamesFont, &QPushButton::clicked, this, [this] { ChooseFontOf(converter_.PicNamesFont); });
    connect(btBookPicDatesFont, &QPushButton::clicked, this, [this] { ChooseFontOf(converter_.PicDatesFont); });
    connect(chIntegratedToExplorer, &QCheckBox::clicked, this,
            [this](bool checked) { Guarded([&] { SetExplorerIntegration(checked); }); });
    connect(eAuthor, &QLineEdit::textEdited, this,
            [this](const QString& text) { converter_.SetAuthor(text.toStdString()); });
}

void TDlgPrefsForm::showEvent(QShowEvent* event) {
    Guarded([this] { FormShow(); });
    QDialog::showEvent(event);
}

void TDlgPrefsForm::RefreshPaper() {
    converter_.ApplyBookPaper();
    const TPdfKalmora& pdf = converter_.Pdf();
    const bool custom = converter_.HasCustomPaper();
    cbBookPaperSize->setCurrentIndex(custom ? cbBookPaperSize->count() - 1 : pdf.PaperSize() - 1);
    for (QLineEdit* edit : {eBookWidth, eBookHeight}) {
        edit->setEnabled(custom);
        edit->setReadOnly(!custom);
    }
    QRadioButton* const orientations[] = {rbBookPortrait, rbBookLandscape};
    SetRadioIndexSilent(orientations, converter_.Orientation);
    const std::string format = converter_.GetLengthFormat();
    eBookWidth->setText(QString::fromStdString(FormatNumber(format, converter_.TenthsToDisplay(pdf.PageWidth()))));
    eBookHeight->setText(QString::fromStdString(FormatNumber(format, converter_.TenthsToDisplay(pdf.PageHeight()))));
}

void TDlgPrefsForm::FormShow() {
    RefreshPaper();
    eBookLeftMargin->SetValueSilent(converter_.TenthsToDisplay(converter_.LeftMargin));
    eBookTopMargin->SetValueSilent(converter_.TenthsToDisplay(converter_.TopMargin));
    eBookRightMargin->SetValueSilent(converter_.TenthsToDisplay(converter_.RightMargin));
    eBookBottomMargin->SetValueSilent(converter_.TenthsToDisplay(converter_.BottomMargin));
    QRadioButton* const names[] = {rbBookPicNamesAbove, rbBookPicNamesUnder, rbBookPicNamesNone};
    QRadioButton* const dates[] = {rbBookPicDatesAbove, rbBookPicDatesUnder, rbBookPicDatesNone};
    SetRadioIndex(names, converter_.PicNamesPos);
    SetRadioIndex(dates, converter_.PicDatesPos);
    PicNamesPosClick();
    PicDatesPosClick();
    cbLengthUnit->setCurrentIndex(converter_.Metric ? 0 : 1);
    SetEditTextSilent(eAuthor, converter_.GetAuthor());
    SetCheckBoxSilent(chIntegratedToExplorer, IsExplorerIntegrated());
}

void TDlgPrefsForm::cbBookPaperSizeChange() {
    const std::string name = cbBookPaperSize->currentText().toStdString().substr(0, 255);
    const bool sized = IsPaperSide(converter_.CustomPaperWidth) && IsPaperSide(converter_.CustomPaperHeight);
    if (name == CustomPaperName && !sized) {
        // A first custom paper starts as the paper shown, whose sides the user then changes.
        const TPdfKalmora& pdf = converter_.Pdf();
        const bool landscape = converter_.Orientation == boLandscape;
        converter_.CustomPaperWidth = landscape ? pdf.PageHeight() : pdf.PageWidth();
        converter_.CustomPaperHeight = landscape ? pdf.PageWidth() : pdf.PageHeight();
    }
    converter_.PaperSizeName = name;
    RefreshPaper();
}

// A side entered beyond the page limits becomes the limit; text that is no number changes nothing.
void TDlgPrefsForm::PaperSideChange(QLineEdit* edit) {
    if (const std::optional<double> value = TypedNumber(edit->text().trimmed())) {
        const double shown = std::clamp(*value, converter_.TenthsToDisplay(MinPaperSide),
                                        converter_.TenthsToDisplay(MaxPaperSide));
        const int tenths = std::clamp(converter_.DisplayToTenths(shown), MinPaperSide, MaxPaperSide);
        // The edits show the page as turned; the engine keeps the paper upright.
        const bool paperWidth = (edit == eBookWidth) == (converter_.Orientation == boPortrait);
        (paperWidth ? converter_.CustomPaperWidth : converter_.CustomPaperHeight) = tenths;
    }
    RefreshPaper();
}

void TDlgPrefsForm::cbLengthUnitChange() {
    converter_.Metric = cbLengthUnit->currentText().toUpper() == "CM";
    FormShow();
}

// Margins reach the engine only when all four fit the paper; the others wait until they do.
void TDlgPrefsForm::MarginChange() {
    const int left = converter_.DisplayToTenths(eBookLeftMargin->Value());
    const int top = converter_.DisplayToTenths(eBookTopMargin->Value());
    const int right = converter_.DisplayToTenths(eBookRightMargin->Value());
    const int bottom = converter_.DisplayToTenths(eBookBottomMargin->Value());
    const TPdfKalmora& pdf = converter_.Pdf();
    if (left + right >= pdf.PageWidth() || top + bottom >= pdf.PageHeight()) return;
    converter_.LeftMargin = left;
    converter_.TopMargin = top;
    converter_.RightMargin = right;
    converter_.BottomMargin = bottom;
}

void TDlgPrefsForm::PicNamesPosClick() {
    QRadioButton* const names[] = {rbBookPicNamesAbove, rbBookPicNamesUnder, rbBookPicNamesNone};
    const int index = GetRadioIndex(names);
    if (index >= 0) converter_.PicNamesPos = static_cast<TCaptionPos>(index);
    btBookPicNamesFont->setVisible(index != 2);
}

void TDlgPrefsForm::PicDatesPosClick() {
    QRadioButton* const dates[] = {rbBookPicDatesAbove, rbBookPicDatesUnder, rbBookPicDatesNone};
    const int index = GetRadioIndex(dates);
    if (index >= 0) converter_.PicDatesPos = static_cast<TCaptionPos>(index);
    btBookPicDatesFont->setVisible(index != 2);
}

void TDlgPrefsForm::ChooseFontOf(TFont& font) {
    TFont copy = font;
    if (ChooseFont(copy)) font = copy;
}

// The dialog stays open until the margins shown fit the paper, so none that do not is kept.
void TDlgPrefsForm::done(int result) {
    const bool fits = Guarded([this] {
        MarginChange();
        const int shown[] = {converter_.DisplayToTenths(eBookLeftMargin->Value()),
                             converter_.DisplayToTenths(eBookTopMargin->Value()),
                             converter_.DisplayToTenths(eBookRightMargin->Value()),
                             converter_.DisplayToTenths(eBookBottomMargin->Value())};
        const int stored[] = {converter_.LeftMargin, converter_.TopMargin, converter_.RightMargin,
                              converter_.BottomMargin};
        if (!std::equal(std::begin(shown), std::end(shown), std::begin(stored))) RaiseBrelvantError(0, "Invalid book margins");
        converter_.CheckBookMargins();
    });
    if (fits) QDialog::done(result);
}
