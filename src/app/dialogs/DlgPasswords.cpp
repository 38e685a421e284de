#include "app/dialogs/DlgPasswords.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/dialogs/DialogHelpers.h"
#include "tzlib/Errors.h"
#include "tzlib/qt/Controls.h"

namespace {

QLineEdit* NewPasswordEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QLabel* NewNote(const char* text, QWidget* parent) {
    auto* note = new QLabel(text, parent);
    note->setWordWrap(true);
    return note;
}

}  // namespace

TDlgPasswordsForm::TDlgPasswordsForm(std::string& ownerPassword, std::string& userPassword, QWidget* parent)
    : QDialog(parent), ownerPassword_(ownerPassword), userPassword_(userPassword) {
    setWindowTitle("PDF Encryption");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    gbOwner = new QGroupBox("Owner Password", this);
    eOwnerPassword = NewPasswordEdit(gbOwner);
    eOwnerPassword1 = NewPasswordEdit(gbOwner);
    auto* ownerLayout = new QGridLayout(gbOwner);
    ownerLayout->addWidget(NewNote("When a OWNER password is defined, generated PDF documents are encrypted. The Owner "
                                   "password is required to modify them using a PDF editor.",
                                   gbOwner),
                           0, 0, 1, 2);
    ownerLayout->addWidget(new QLabel("Owner password", gbOwner), 1, 0);
    ownerLayout->addWidget(eOwnerPassword, 1, 1);
    ownerLayout->addWidget(new QLabel("Please confirm", gbOwner), 2, 0);
    ownerLayout->addWidget(eOwnerPassword1, 2, 1);

    gbUserPassword = new QGroupBox("User Password", this);
    rbUserPasswordSame = new QRadioButton("Define same User password as Owner  password", gbUserPassword);
    rbUserPasswordCustom = new QRadioButton("Define a specific User password", gbUserPassword);
    rbUserPasswordNone = new QRadioButton("Define no User password", gbUserPassword);
    pnUserPassword = new QWidget(gbUserPassword);
    eUserPassword = NewPasswordEdit(pnUserPassword);
    eUserPassword1 = NewPasswordEdit(pnUserPassword);
    auto* panelLayout = new QGridLayout(pnUserPassword);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(new QLabel("User password", pnUserPassword), 0, 0);
    panelLayout->addWidget(eUserPassword, 0, 1);
    panelLayout->addWidget(new QLabel("Please confirm", pnUserPassword), 1, 0);
    panelLayout->addWidget(eUserPassword1, 1, 1);
    pnUserPassword->hide();
    auto* userLayout = new QVBoxLayout(gbUserPassword);
    userLayout->addWidget(NewNote("The USER password, if defined, is required to display and print generated PDF "
                                  "documents.",
                                  gbUserPassword));
    for (QWidget* w : {static_cast<QWidget*>(rbUserPasswordSame), static_cast<QWidget*>(rbUserPasswordCustom),
                       static_cast<QWidget*>(rbUserPasswordNone), pnUserPassword})
        userLayout->addWidget(w);

    btOk = new QPushButton("&Ok", this);
    btOk->setDefault(true);
    btCancel = new QPushButton("Cancel", this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(gbOwner);
    layout->addWidget(gbUserPassword);
    layout->addStretch();
    layout->addLayout(buttons);
    FitToContents(this, QSize(454, 312));

    connect(btOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(eOwnerPassword, &QLineEdit::textChanged, this, [this] { Guarded([this] { eOwnerPasswordChange(); }); });
    OnExit(eOwnerPassword1, [this] { eOwnerPassword1Exit(); });
    OnExit(eUserPassword1, [this] { eUserPassword1Exit(); });
    OnCheck(rbUserPasswordSame, [this] { rbUserPasswordSameClick(); });
    OnCheck(rbUserPasswordCustom, [this] { rbUserPasswordCustomClick(); });
    OnCheck(rbUserPasswordNone, [this] { rbUserPasswordNoneClick(); });
}

void TDlgPasswordsForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TDlgPasswordsForm::FormShow() {
    initialized_ = false;
    SetEditTextSilent(eOwnerPassword, ownerPassword_);
    SetEditTextSilent(eOwnerPassword1, ownerPassword_);
    SetEditTextSilent(eUserPassword, userPassword_);
    SetEditTextSilent(eUserPassword1, userPassword_);
    eOwnerPasswordChange();
    Guarded([this] { eUserPassword1Exit(); });
    initialized_ = true;
}

void TDlgPasswordsForm::eOwnerPasswordChange() {
    const bool enabled = !eOwnerPassword->text().isEmpty();
    for (QRadioButton* button : {rbUserPasswordSame, rbUserPasswordCustom, rbUserPasswordNone})
        button->setEnabled(enabled);
    if (!enabled) rbUserPasswordSame->setChecked(true);
    if (rbUserPasswordSame->isChecked()) {
        SetEditTextSilent(eUserPassword, eOwnerPassword->text().toStdString());
        SetEditTextSilent(eUserPassword1, eOwnerPassword->text().toStdString());
    }
}

void TDlgPasswordsForm::eOwnerPassword1Exit() {
    if (eOwnerPassword->text() != eOwnerPassword1->text()) RaiseBrelvantError(0, "Owner Password not confirmed");
}

void TDlgPasswordsForm::eUserPassword1Exit() {
    if (eUserPassword->text() != eUserPassword1->text()) RaiseBrelvantError(0, "User Password not confirmed");
    const QString user = eUserPassword->text();
    QRadioButton* choice = user == eOwnerPassword->text() ? rbUserPasswordSame
                           : !user.isEmpty()              ? rbUserPasswordCustom
                                                          : rbUserPasswordNone;
    // Following the texts is not the user's choice: no question, no copying.
    const bool wasInitialized = initialized_;
    initialized_ = false;
    choice->setChecked(true);
    initialized_ = wasInitialized;
}

void TDlgPasswordsForm::rbUserPasswordSameClick() {
    pnUserPassword->hide();
    if (!initialized_) return;
    SetEditTextSilent(eUserPassword, eOwnerPassword->text().toStdString());
    SetEditTextSilent(eUserPassword1, eOwnerPassword->text().toStdString());
}

void TDlgPasswordsForm::rbUserPasswordCustomClick() { pnUserPassword->show(); }

void TDlgPasswordsForm::rbUserPasswordNoneClick() {
    pnUserPassword->hide();
    if (!initialized_) return;
    if (AskYesNo(0, "Let anybody display and print generated PDF documents?")) {
        SetEditTextSilent(eUserPassword, "");
        SetEditTextSilent(eUserPassword1, "");
    } else {
        rbUserPasswordSame->setChecked(true);
    }
}

void TDlgPasswordsForm::FormCloseQuery() {
    if (eOwnerPassword->text() != eOwnerPassword1->text()) RaiseBrelvantError(0, "Owner Password not confirmed");
    if (eUserPassword->text() != eUserPassword1->text()) RaiseBrelvantError(0, "User Password not confirmed");
    if (rbUserPasswordCustom->isChecked() && eUserPassword->text().isEmpty())
        RaiseBrelvantError(0, "User Password not defined");
}

void TDlgPasswordsForm::done(int result) {
    if (result == Accepted) {
        if (!Guarded([this] { FormCloseQuery(); })) return;
        userPassword_ = eUserPassword->text().toStdString();
        ownerPassword_ = eOwnerPassword->text().toStdString();
    }
    QDialog::done(result);
}
