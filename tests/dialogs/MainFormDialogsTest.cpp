#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <functional>

#include "AppTestSupport.h"
#include "DialogTestSupport.h"
#include "app/engine/Converter.h"
#include "app/window/MainForm.h"
#include "app/dialogs/DlgAbout.h"
#include "app/dialogs/DlgMultiFrame.h"
#include "app/dialogs/DlgPasswords.h"
#include "app/dialogs/DlgPrefs.h"
#include "tzlib/SystemHelpers.h"
#include "tzlib/qt/SpinEdit.h"

namespace {

// The main window's commands open their dialogs; each test answers the dialog once it is up.
struct TMainFormDialogs : ::testing::Test {
    TDialogApplication application;
    TPrivateEnvironment environment;
    TScriptedBoxes boxes;
    TMainForm form;

    // Runs answer on the modal dialog of type T once it is shown, then clicks the control.
    template <typename T>
    bool ClickAndAnswer(QAbstractButton* control, const std::function<void(T&)>& answer) {
        bool seen = false;
        QTimer::singleShot(0, &form, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()); auto* wanted = dynamic_cast<T*>(dialog)) {
                seen = true;
                answer(*wanted);
            } else if (dialog) {
                dialog->reject();
            }
        });
        control->click();
        return seen;
    }
    QAbstractButton* Button(const char* name) { return form.findChild<QAbstractButton*>(name); }
};

TEST_F(TMainFormDialogs, AboutAndPreferencesOpenFromTheirButtons) {
    form.show();
    EXPECT_TRUE(ClickAndAnswer<TDlgAboutForm>(Button("btAbout"), [](TDlgAboutForm& d) { d.btClose->click(); }));
    EXPECT_TRUE(ClickAndAnswer<TDlgPrefsForm>(Button("btPrefs"), [](TDlgPrefsForm& d) {
        d.rbBookLandscape->click();
        d.tClose->click();
    }));
    EXPECT_EQ(form.Converter().Orientation, boLandscape);
}

TEST_F(TMainFormDialogs, TheSourceButtonsOpenTheFileAndFolderChoices) {
    const std::string folder = environment.Home().Path("pics");
    ASSERT_EQ(RunTool("mkdir " + Quoted(folder) + " && convert -size 8x6 xc:red " + Quoted(folder + "/a.png") +
                      " && convert -size 6x8 xc:blue " + Quoted(folder + "/b.bmp")).status, 0);
    form.show();
    EXPECT_TRUE(ClickAndAnswer<QFileDialog>(Button("btSourceAddFile"), [&](QFileDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Select one or several pic files");
        d.setDirectory(QString::fromStdString(folder));
        d.selectFile("a.png");
        static_cast<QDialog&>(d).accept();  // the file dialog's own, which takes the chosen file
    }));
    ASSERT_EQ(form.SourceList()->count(), 1);
    EXPECT_TRUE(ClickAndAnswer<QDialog>(Button("btSourceAddDir"), [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Select a folder");
        d.findChild<QLineEdit*>("edit")->setText(QString::fromStdString(folder));
        d.accept();
    }));
    EXPECT_EQ(form.SourceList()->count(), 1 + 2);
}

TEST_F(TMainFormDialogs, TheEncryptionBoxMirrorsTheOwnerPasswordAfterTheDialog) {
    form.show();
    auto* encrypt = form.findChild<QCheckBox*>("chEncryptOutput");
    // Ticked, then cancelled: no password, so no tick.
    EXPECT_TRUE(ClickAndAnswer<TDlgPasswordsForm>(encrypt, [](TDlgPasswordsForm& d) { d.btCancel->click(); }));
    EXPECT_FALSE(encrypt->isChecked());
    // Ticked, OK with an empty password: still none.
    EXPECT_TRUE(ClickAndAnswer<TDlgPasswordsForm>(encrypt, [](TDlgPasswordsForm& d) { d.btOk->click(); }));
    EXPECT_FALSE(encrypt->isChecked());
    EXPECT_TRUE(ClickAndAnswer<TDlgPasswordsForm>(encrypt, [](TDlgPasswordsForm& d) {
        d.eOwnerPassword->setText("secret");
        d.eOwnerPassword1->setText("secret");
        d.btOk->click();
    }));
    EXPECT_TRUE(encrypt->isChecked());
    EXPECT_EQ(form.Converter().OwnerPassword, "secret");
    EXPECT_EQ(form.Converter().UserPassword, "secret");
    auto* passwords = Button("btPasswords");
    EXPECT_TRUE(passwords->isEnabled());
    EXPECT_TRUE(ClickAndAnswer<TDlgPasswordsForm>(passwords, [](TDlgPasswordsForm& d) {
        d.eOwnerPassword->clear();
        d.eOwnerPassword1->clear();
        d.btOk->click();
    }));
    EXPECT_FALSE(encrypt->isChecked());
    EXPECT_FALSE(passwords->isEnabled());
}

TEST_F(TMainFormDialogs, AddingASevenFrameGifAsksWhichFrames) {
    const std::string gif = environment.Home().Path("seven.gif");
    ASSERT_EQ(RunTool("convert -size 8x6 xc:red xc:green xc:blue xc:white xc:black xc:yellow xc:cyan " + Quoted(gif)).status, 0);
    int shown = 0;
    const auto addAnswering = [&](const std::function<void(TDlgMultiFrameForm&)>& answer) {
        QTimer::singleShot(0, &form, [&] {
            if (auto* dialog = dynamic_cast<TDlgMultiFrameForm*>(QApplication::activeModalWidget())) {
                ++shown;
                EXPECT_EQ(dialog->laFrameCount->text(), "7 frames.");
                answer(*dialog);
            }
        });
        form.AddPicture(gif, -1);
    };
    addAnswering([](TDlgMultiFrameForm& d) { d.btOk->click(); });  // the first frame only
    EXPECT_EQ(form.SourceList()->count(), 1);
    addAnswering([](TDlgMultiFrameForm& d) {
        d.rbExtractFrequency->click();
        d.eFrequency->SetValue(3);
        d.btOk->click();
    });
    EXPECT_EQ(form.SourceList()->count(), 1 + 3);  // frames 1, 4 and 7
    addAnswering([](TDlgMultiFrameForm& d) {
        d.rbExtractNone->click();
        d.close();
    });
    EXPECT_EQ(form.SourceList()->count(), 4);
    EXPECT_EQ(shown, 3);
}

}  // namespace

namespace {

TEST(TAppDialogs, FormSizesAreGivenAt96DpiAndScaledToTheScreen) {
    EnsureDialogApplication();
    std::string owner, user;
    TDlgAboutForm about;
    TDlgMultiFrameForm multiFrame;
    TDlgPasswordsForm passwords(owner, user);
    const std::pair<QWidget*, QSize> cases[] = {
        {&about, {503, 344}}, {&multiFrame, {371, 235}}, {&passwords, {454, 312}}};
    // Higher only where the content needs it at that width (the passwords' notes).
    for (const auto& [form, at96] : cases) {
        const int width = ScaleToScreenDpi(at96.width());
        const int height = std::max(ScaleToScreenDpi(at96.height()), form->layout()->totalHeightForWidth(width));
        EXPECT_EQ(form->size(), QSize(width, height)) << form->metaObject()->className();
    }
    EXPECT_EQ(about.height(), ScaleToScreenDpi(344));
}

}  // namespace
