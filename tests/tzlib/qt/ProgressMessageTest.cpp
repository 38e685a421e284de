#include "tzlib/qt/ProgressMessage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "../TestSupport.h"
#include "QtTestSupport.h"
#include "tzlib/Errors.h"
#include "tzlib/qt/ProgressMessageForm.h"
#include "tzlib/SystemHelpers.h"

namespace {

std::string CatalogueText(uint16_t code) { return code == 3718 ? "Stop" : ""; }

class ProgressMessageTest : public testing::Test {
protected:
    ProgressMessageTest() { EnsureQApplication(); }
    ~ProgressMessageTest() override {
        CloseProgressForms();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    static void FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    TLibrarySettingsGuard settings;
};

// Records whether a progress form was aside while each box was shown.
class TAsidePrompter : public TScriptedPrompter {
public:
    explicit TAsidePrompter(TProgressMessage* form) : form_(form) {}
    std::vector<bool> asideDuringBox;
    TMsgAnswer MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                          TMsgButtons buttons) override {
        asideDuringBox.push_back(form_->InTray());
        return TScriptedPrompter::MessageBox(caption, text, icon, buttons);
    }

private:
    TProgressMessage* form_;
};

TEST_F(ProgressMessageTest, WithoutCancelRoutineTheButtonIsHiddenAndTheFormNarrow) {
    TProgressMessage* form = CreateProgressMessage(4, nullptr, 0);
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->CancelVisible());
    EXPECT_TRUE(form->btCancel->isHidden());
    EXPECT_EQ(form->width(), ScaleToScreenDpi(275));
    EXPECT_EQ(form->btCancel->text().toStdString(), "Abort");
    EXPECT_TRUE(form->laMsg->text().startsWith("File not found."));
    EXPECT_EQ(GetActiveProgressForm(), form);
}

TEST_F(ProgressMessageTest, WithCancelRoutineTheButtonShowsTheLookupsCaption) {
    ErrorTextCallback = CatalogueText;
    TProgressMessage* form = CreateProgressMessage(0, [](int32_t, bool&) {}, 0);
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->CancelVisible());
    EXPECT_FALSE(form->btCancel->isHidden());
    EXPECT_EQ(form->width(), ScaleToScreenDpi(356));
    EXPECT_EQ(form->btCancel->text().toStdString(), "Stop");
}

TEST_F(ProgressMessageTest, SilentModeMakesNoForm) {
    SilentMode = true;
    EXPECT_EQ(CreateProgressMessage(0, nullptr, 0), nullptr);
    SetTexts(nullptr, "ignored", "", "");
}

TEST_F(ProgressMessageTest, EmptyTextsKeepTheStoredOnes) {
    TProgressMessage* form = CreateProgressMessage(0, nullptr, 0);
    SetTexts(form, "Converting", "a.jpg", "1/3");
    SetTexts(form, "", "b.jpg", "");
    EXPECT_EQ(form->laMsg->text().toStdString(), "Converting\nb.jpg 1/3");
}

TEST_F(ProgressMessageTest, TrayTipShortensLongMessageLines) {
    TProgressMessage* form = CreateProgressMessage(0, nullptr, 0);
    const std::string twenty(20, 'a'), twentyOne = std::string(17, 'b') + "cccc";
    SetTexts(form, twenty, "", "50%");
    EXPECT_EQ(form->TrayTip(), twenty + " 50%");
    SetTexts(form, twentyOne, "", "");
    EXPECT_EQ(form->TrayTip(), std::string(17, 'b') + "... 50%");
    SetTexts(form, "", "", std::string(100, 'p'));
    EXPECT_EQ(form->TrayTip(), std::string(17, 'b') + "... " + std::string(42, 'p'));
}

TEST_F(ProgressMessageTest, TrayTipCountsCharactersNotBytes) {
    const auto repeated = [](const std::string& character, int n) {
        std::string text;
        for (int i = 0; i < n; ++i) text += character;
        return text;
    };
    TProgressMessage* form = CreateProgressMessage(0, nullptr, 0);
    SetTexts(form, repeated("\xC3\xA9", 20), "", "\xE2\x82\xAC");
    EXPECT_EQ(form->TrayTip(), repeated("\xC3\xA9", 20) + " \xE2\x82\xAC");
    SetTexts(form, repeated("\xD0\x96", 21), "", repeated("\xE2\x82\xAC", 60));
    EXPECT_EQ(form->TrayTip(), repeated("\xD0\x96", 17) + "... " + repeated("\xE2\x82\xAC", 42));
}

TEST_F(ProgressMessageTest, ClosingFromTheWindowSendsItToTheTray) {
    QPointer<TProgressMessage> form = CreateProgressMessage(0, nullptr, 0);
    EXPECT_FALSE(form->close());
    FlushDeletes();
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->InTray());
    EXPECT_EQ(GetActiveProgressForm(), nullptr);
    RestoreFromTray(form);
    EXPECT_FALSE(form->InTray());
    EXPECT_EQ(GetActiveProgressForm(), form);
}

TEST_F(ProgressMessageTest, MinimisingSendsItToTheTray) {
    TProgressMessage* form = CreateProgressMessage(0, nullptr, 0);
    form->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(form->InTray());
}

TEST_F(ProgressMessageTest, CancelRoutineDecidesWhetherTheFormCloses) {
    std::vector<int32_t> calls;
    bool answer = false;
    int closed = 0;
    QPointer<TProgressMessage> form = CreateProgressMessage(
        0,
        [&](int32_t userValue, bool& mayCancel) {
            calls.push_back(userValue);
            mayCancel = answer;
        },
        42);
    form->OnClosed = [&](TProgressMessage&) { ++closed; };

    form->btCancel->click();
    FlushDeletes();
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->InTray());
    EXPECT_EQ(closed, 0);

    answer = true;
    form->btCancel->click();
    FlushDeletes();
    EXPECT_FALSE(form);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(calls, (std::vector<int32_t>{42, 42}));
    EXPECT_EQ(GetActiveProgressForm(), nullptr);
}

TEST_F(ProgressMessageTest, ANewFormSendsTheActiveOneToTheTray) {
    TProgressMessage* first = CreateProgressMessage(0, nullptr, 0);
    TProgressMessage* second = CreateProgressMessage(0, nullptr, 0);
    EXPECT_TRUE(first->InTray());
    EXPECT_EQ(GetActiveProgressForm(), second);
    RestoreFromTray(first);  // the active one steps aside for it
    EXPECT_TRUE(second->InTray());
    EXPECT_EQ(GetActiveProgressForm(), first);
}

TEST_F(ProgressMessageTest, WithShowProgressFormsOffANewFormStartsInTheTray) {
    ShowProgressForms = false;
    TProgressMessage* form = CreateProgressMessage(0, nullptr, 0);
    EXPECT_TRUE(form->InTray());
    EXPECT_EQ(GetActiveProgressForm(), nullptr);
}

TEST_F(ProgressMessageTest, AMessageBoxSendsTheActiveFormAsideMeanwhile) {
    TProgressMessage* form = CreateProgressMessage(0, nullptr, 0);
    std::unique_ptr<TPrompter> prompter = std::make_unique<TAsidePrompter>(form);
    auto& recorder = static_cast<TAsidePrompter&>(*prompter);
    auto previous = SetPrompter(std::move(prompter));
    ShowErrorCode(4, "/a.jpg");
    AskYesNo(32, "/a.pdf");
    prompter = SetPrompter(std::move(previous));
    EXPECT_EQ(recorder.asideDuringBox, (std::vector<bool>{true, true}));
    EXPECT_FALSE(form->InTray());
    EXPECT_EQ(GetActiveProgressForm(), form);
}

TEST_F(ProgressMessageTest, ExceptionBoxAndCloseProgressFormsCloseEveryForm) {
    QPointer<TProgressMessage> first = CreateProgressMessage(0, nullptr, 0);
    QPointer<TProgressMessage> second = CreateProgressMessage(0, nullptr, 0);
    TScriptedPrompterGuard prompter;
    ShowExceptionBox(Exception("Conversion failed"));
    FlushDeletes();
    EXPECT_FALSE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(prompter->boxes.size(), 1u);
}

}  // namespace
