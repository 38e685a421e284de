#pragma once
// The engine's general and book-layout settings; every accepted change goes into the engine at
// once, and the dialog closes only with margins that fit the paper.
#include <QDialog>
#include <functional>

#include "app/dialogs/CaptionFontDialog.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TConverter;
class TFont;
class TTzSpinEdit;

class TDlgPrefsForm : public QDialog {
public:
    TDlgPrefsForm(TConverter& converter, QWidget* parent = nullptr);

    // Lets the user change the font; false when cancelled. The font dialog by default.
    std::function<bool(TFont& font)> ChooseFont;

    QGroupBox* gbGeneral;
    QLineEdit* eAuthor;
    QComboBox* cbLengthUnit;
    QCheckBox* chIntegratedToExplorer;
    QGroupBox* gbBookPicOptions;
    QComboBox* cbBookPaperSize;
    QRadioButton* rbBookPortrait;
    QRadioButton* rbBookLandscape;
    QLineEdit* eBookWidth;
    QLineEdit* eBookHeight;
    TTzSpinEdit* eBookTopMargin;
    TTzSpinEdit* eBookLeftMargin;
    TTzSpinEdit* eBookRightMargin;
    TTzSpinEdit* eBookBottomMargin;
    QRadioButton* rbBookPicNamesAbove;
    QRadioButton* rbBookPicNamesUnder;
    QRadioButton* rbBookPicNamesNone;
    QPushButton* btBookPicNamesFont;
    QRadioButton* rbBookPicDatesAbove;
    QRadioButton* rbBookPicDatesUnder;
    QRadioButton* rbBookPicDatesNone;
    QPushButton* btBookPicDatesFont;
    QPushButton* tClose;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void FormShow();
    void RefreshPaper();
    void cbBookPaperSizeChange();
    void PaperSideChange(QLineEdit* edit);
    void cbLengthUnitChange();
    void MarginChange();
    void PicNamesPosClick();
    void PicDatesPosClick();
    void ChooseFontOf(TFont& font);
    QGroupBox* NewPanel(const char* caption);
    TConverter& converter_;
};
