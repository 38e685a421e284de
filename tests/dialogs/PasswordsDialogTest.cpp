#include "app/dialogs/DlgPasswords.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "DialogTestSupport.h"
#include "LayoutCheck.h"

namespace {

struct TPasswordsDialog : ::testing::Test {
    TDialogApplication application;
    TScriptedBoxes boxes;
    std::string owner = "boss", user = "reader";
    TDlgPasswordsForm dialog{owner, user};

    void Show() {
        dialog.show();
        QApplication::processEvents();
    }
    void Type(QLineEdit* edit, const char* text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    void SetOwner(const char* text) {
        Type(dialog.eOwnerPassword, text);
        Type(dialog.eOwnerPassword1, text);
    }
    void SetUser(const char* text) {
        Type(dialog.eUserPassword, text);
        Type(dialog.eUserPassword1, text);
    }
};

TEST_F(TPasswordsDialog, ControlsAndCaptions) {
    Show();
    EXPECT_EQ(dialog.windowTitle(), "PDF Encryption");
    const std::pair<QString, const char*> captions[] = {
        {dialog.gbOwner->title(), "Owner Password"},
        {dialog.gbUserPassword->title(), "User Password"},
        {dialog.rbUserPasswordSame->text(), "Define same User password as Owner  password"},
        {dialog.rbUserPasswordCustom->text(), "Define a specific User password"},
        {dialog.rbUserPasswordNone->text(), "Define no User password"},
        {dialog.btOk->text(), "&Ok"},
        {dialog.btCancel->text(), "Cancel"},
    };
    for (const auto& [actual, expected] : captions) EXPECT_EQ(actual.toStdString(), expected);
    std::string labels;
    for (QLabel* label : dialog.findChildren<QLabel*>()) labels += label->text().toStdString() + "|";
    EXPECT_EQ(labels,
              "When a OWNER password is defined, generated PDF documents are encrypted. The Owner password is required "
              "to modify them using a PDF editor.|Owner password|Please confirm|User password|Please confirm|The USER "
              "password, if defined, is required to display and print generated PDF documents.|");
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dialog.btOk->isDefault());
    SaveScreenshot(dialog, "PasswordsDialog");
}

// Each user-password choice, in the order a user reaches them, shows every field whole.
TEST_F(TPasswordsDialog, LaysOutEveryChoice) {
    user = owner;
    Show();
    EXPECT_TRUE(ShowsFully(dialog, "PasswordsSame"));
    dialog.rbUserPasswordCustom->click();
    EXPECT_TRUE(ShowsFully(dialog, "PasswordsCustom"));
    boxes->answers = {idYes};
    dialog.rbUserPasswordNone->click();
    ASSERT_TRUE(dialog.rbUserPasswordNone->isChecked());
    EXPECT_TRUE(ShowsFully(dialog, "PasswordsNone"));
    dialog.rbUserPasswordCustom->click();
    EXPECT_TRUE(LaysOutFully(dialog));
}

TEST_F(TPasswordsDialog, ShowsTheEngineValuesAndTheMatchingChoice) {
    Show();
    EXPECT_EQ(dialog.eOwnerPassword1->text(), "boss");
    EXPECT_EQ(dialog.eUserPassword1->text(), "reader");
    EXPECT_TRUE(dialog.rbUserPasswordCustom->isChecked());
    EXPECT_TRUE(dialog.pnUserPassword->isVisible());
    EXPECT_TRUE(boxes->boxes.empty());
}

TEST_F(TPasswordsDialog, OkStoresAndCancelKeeps) {
    Show();
    SetOwner("new");
    SetUser("other");
    dialog.reject();
    EXPECT_EQ(owner, "boss");
    EXPECT_EQ(user, "reader");

    Show();
    SetOwner("new");
    SetUser("other");
    dialog.accept();
    EXPECT_EQ(owner, "new");
    EXPECT_EQ(user, "other");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(TPasswordsDialog, AnEmptyOwnerPasswordMeansNoEncryption) {
    owner.clear();
    user.clear();
    Show();
    for (QRadioButton* choice : {dialog.rbUserPasswordSame, dialog.rbUserPasswordCustom, dialog.rbUserPasswordNone})
        EXPECT_FALSE(choice->isEnabled());
    EXPECT_TRUE(dialog.rbUserPasswordSame->isChecked());
    dialog.accept();
    EXPECT_EQ(owner, "");
    EXPECT_EQ(user, "");

    // Emptying the owner password of an encrypting setup drops the user password with it.
    owner = "boss";
    user = "boss";
    Show();
    SetOwner("");
    dialog.accept();
    EXPECT_EQ(owner, "");
    EXPECT_EQ(user, "");
}

TEST_F(TPasswordsDialog, TypingTheOwnerPasswordWithSameCopiesIt) {
    user = "boss";
    Show();
    EXPECT_TRUE(dialog.rbUserPasswordSame->isChecked());
    EXPECT_FALSE(dialog.pnUserPassword->isVisible());
    Type(dialog.eOwnerPassword, "se");
    EXPECT_EQ(dialog.eUserPassword->text(), "se");
    EXPECT_EQ(dialog.eUserPassword1->text(), "se");
    Type(dialog.eOwnerPassword1, "se");
    dialog.accept();
    EXPECT_EQ(owner, "se");
    EXPECT_EQ(user, "se");
}

TEST_F(TPasswordsDialog, NoUserPasswordAsksFirst) {
    Show();
    boxes->answers = {idNo};
    dialog.rbUserPasswordNone->click();
    EXPECT_TRUE(dialog.rbUserPasswordSame->isChecked());
    EXPECT_EQ(dialog.eUserPassword->text(), "boss");
    boxes->answers = {idYes};
    dialog.rbUserPasswordNone->click();
    EXPECT_TRUE(dialog.rbUserPasswordNone->isChecked());
    EXPECT_EQ(boxes.Texts(),
              "Let anybody display and print generated PDF documents?\n"
              "Let anybody display and print generated PDF documents?\n");
    dialog.accept();
    EXPECT_EQ(owner, "boss");
    EXPECT_EQ(user, "");
}

TEST_F(TPasswordsDialog, RefusalsKeepTheDialogOpenAndTheEngineUnchanged) {
    struct Case {
        const char *owner, *owner1, *user, *user1;
        bool custom;
        const char* message;
    };
    const Case cases[] = {
        {"a", "b", "a", "a", false, "Owner Password not confirmed\n"},
        {"a", "a", "u", "v", true, "User Password not confirmed\n"},
        {"a", "a", "", "", true, "User Password not defined\n"},
    };
    for (const Case& c : cases) {
        boxes->boxes.clear();
        Show();
        if (c.custom) dialog.rbUserPasswordCustom->click();
        dialog.eOwnerPassword->setText(c.owner);
        dialog.eOwnerPassword1->setText(c.owner1);
        dialog.eUserPassword->setText(c.user);
        dialog.eUserPassword1->setText(c.user1);
        dialog.btOk->click();
        EXPECT_EQ(boxes.Texts(), c.message);
        EXPECT_TRUE(dialog.isVisible()) << c.message;
        EXPECT_EQ(owner, "boss");
        EXPECT_EQ(user, "reader");
        dialog.reject();
    }
}

TEST_F(TPasswordsDialog, LeavingAnUnconfirmedEditSaysSoAtOnce) {
    Show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    dialog.eOwnerPassword1->setFocus();
    dialog.eOwnerPassword1->setText("bosz");
    dialog.eUserPassword->setFocus();
    EXPECT_EQ(boxes.Texts(), "Owner Password not confirmed\n");
    dialog.eUserPassword1->setFocus();
    dialog.eUserPassword1->setText("readr");
    dialog.eOwnerPassword->setFocus();
    EXPECT_EQ(boxes.Texts(), "Owner Password not confirmed\nUser Password not confirmed\n");
}

}  // namespace
