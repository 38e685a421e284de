#pragma once
// The about box: product, version, notice, the maker's addresses and the user licence.
#include <QDialog>

class QLabel;
class QPushButton;
class QWidget;

// The program's texts shown in the box; the maker's addresses are in app/engine/MakerInfo.h.
extern const char* const ProgramVersion;
extern const char* const ProgramNotice;
extern const char* const LicenceFileName;

class TDlgAboutForm : public QDialog {
public:
    explicit TDlgAboutForm(QWidget* parent = nullptr);

    QLabel* imIcon;
    QLabel* Label2;
    QLabel* laVersion;
    QLabel* laCopyright;
    QLabel* laTechSupport;
    QWidget* pnContact;
    QLabel* imLogo;
    QLabel* laBrelvant;
    QPushButton* btLicence;
    QPushButton* btClose;

    void btLicenceClick();
    void laBrelvantClick();
    void laTechSupportClick();
    void pnContactClick();
};
