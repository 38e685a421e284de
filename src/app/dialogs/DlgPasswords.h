#pragma once
// The owner and user passwords of the generated PDF documents, each typed twice.
#include <QDialog>
#include <string>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

class TDlgPasswordsForm : public QDialog {
public:
    // The passwords are the engine's; they change only when the dialog closes with OK.
    TDlgPasswordsForm(std::string& ownerPassword, std::string& userPassword, QWidget* parent = nullptr);

    QGroupBox* gbOwner;
    QLineEdit* eOwnerPassword;
    QLineEdit* eOwnerPassword1;
    QGroupBox* gbUserPassword;
    QRadioButton* rbUserPasswordSame;
    QRadioButton* rbUserPasswordCustom;
    QRadioButton* rbUserPasswordNone;
    QWidget* pnUserPassword;
    QLineEdit* eUserPassword;
    QLineEdit* eUserPassword1;
    QPushButton* btOk;
    QPushButton* btCancel;

    void eOwnerPasswordChange();
    void eOwnerPassword1Exit();
    void eUserPassword1Exit();
    void rbUserPasswordSameClick();
    void rbUserPasswordCustomClick();
    void rbUserPasswordNoneClick();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void FormShow();
    void FormCloseQuery();
    std::string& ownerPassword_;
    std::string& userPassword_;
    bool initialized_ = false;
};
