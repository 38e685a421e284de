#include "app/dialogs/DlgAbout.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <QElapsedTimer>
#include <QApplication>
#include <cstdio>
#include <filesystem>

#include "AppTestSupport.h"
#include "DialogTestSupport.h"
#include "LayoutCheck.h"
#include "app/engine/MakerInfo.h"
#include "platform/Paths.h"
#include "platform/qt/QtPrompter.h"
#include "tzlib/WindowHooks.h"

namespace {

struct TAboutDialog : ::testing::Test {
    TDialogApplication application;
    TScriptedBoxes boxes;
    TDlgAboutForm dialog;
};

TEST_F(TAboutDialog, ControlsAndCaptions) {
    dialog.show();
    EXPECT_EQ(dialog.windowTitle().toStdString(), "About " + ApplicationTitle());
    const std::pair<QString, std::string> captions[] = {
        {dialog.Label2->text(), "Brelvant Mordale"},
        {dialog.laVersion->text(), std::string("Version ") + ProgramVersion},
        {dialog.laCopyright->text(), ProgramNotice},
        {dialog.laTechSupport->text(), TechSupportAddress},
        {dialog.laBrelvant->text(), MakerWebAddress},
        {dialog.btLicence->text(), "User's License..."},
        {dialog.btClose->text(), "&Close"},
    };
    for (const auto& [actual, expected] : captions) EXPECT_EQ(actual.toStdString(), expected);
    std::string contact;
    for (QLabel* label : dialog.pnContact->findChildren<QLabel*>()) contact += label->text().toStdString() + "|";
    EXPECT_EQ(contact, std::string("Contact us!|How do you like this product? Would you like us to add new features? "
                                   "Did you find a bug?|Please tell us! To keep improving our products, we need your "
                                   "opinion. All comments are welcome.|Email us at|") +
                           FeedbackAddress + "|");
    EXPECT_TRUE(dialog.btClose->isDefault());
    SaveScreenshot(dialog, "AboutDialog");
}

TEST_F(TAboutDialog, LaysOutEveryControl) {
    dialog.show();
    EXPECT_TRUE(ShowsFully(dialog, "About"));
}

TEST_F(TAboutDialog, LinksOpenTheMakersAddresses) {
    dialog.show();
    QTest::mouseClick(dialog.laBrelvant, Qt::LeftButton);
    QTest::mouseClick(dialog.imLogo, Qt::LeftButton);
    QTest::mouseClick(dialog.laTechSupport, Qt::LeftButton);
    QTest::mouseClick(dialog.pnContact->findChildren<QLabel*>().first(), Qt::LeftButton);
    const std::string subject = "?subject=" + QUrl::toPercentEncoding(QString::fromStdString(ApplicationTitle())).toStdString();
    const std::vector<std::string> expected = {MakerWebAddress, MakerWebAddress,
                                               std::string("mailto:") + TechSupportAddress + subject,
                                               std::string("mailto:") + FeedbackAddress + subject};
    EXPECT_EQ(boxes->opened, expected);
}

TEST_F(TAboutDialog, LicenceOpensTheDocumentBesideTheExecutableOrSaysItIsMissing) {
    const std::string licence = ExecutableFolder() + "/" + LicenceFileName;
    std::remove(licence.c_str());
    dialog.btLicence->click();
    EXPECT_TRUE(boxes->opened.empty());
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_TRUE(Contains(boxes->boxes[0].text, "File not found")) << boxes->boxes[0].text;
    EXPECT_TRUE(Contains(boxes->boxes[0].text, licence)) << boxes->boxes[0].text;

    WriteFile(licence, "<html></html>");
    dialog.btLicence->click();
    EXPECT_EQ(boxes->opened, std::vector<std::string>{licence});

    // With a display whose desktop has no program for it: said at once, in one box.
    TScratchFolder desktop;
    std::filesystem::create_directories(desktop.Path("share/mime"));
    WriteFile(desktop.Path("share/mime/globs2"), "50:text/html:*.htm\n");
    {
        const TEnvironmentGuard display("DISPLAY", ":92"), dataDirs("XDG_DATA_DIRS", desktop.Path("share")),
            dataHome("XDG_DATA_HOME", desktop.Path("data")), configDirs("XDG_CONFIG_DIRS", desktop.Path("etc")),
            configHome("XDG_CONFIG_HOME", desktop.Path("config")), current("XDG_CURRENT_DESKTOP", std::nullopt);
        dialog.btLicence->click();
    }
    std::remove(licence.c_str());
    ASSERT_EQ(boxes->boxes.size(), 2u);
    EXPECT_EQ(boxes->boxes[1].text, "No program is set to open this file (text/html):\n" + licence);
    EXPECT_EQ(boxes->opened.size(), 1u);
}

// The Qt prompter with its boxes recorded rather than shown.
class TRecordingQtPrompter : public TQtPrompter {
public:
    std::vector<std::string> texts;
    TMsgAnswer MessageBox(const std::string&, const std::string& text, TMsgIcon, TMsgButtons) override {
        texts.push_back(text);
        return idOk;
    }
};

void WriteScript(const std::string& path, const std::string& body) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, "#!/bin/sh\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// Where the desktop cannot open a link, the user is told what could not be opened, and why.
TEST(AboutDialogLinks, AnOpenerThatFailsSaysWhatCouldNotBeOpened) {
    TDialogApplication application;
    TPrivateEnvironment environment;
    const TScratchFolder& home = environment.Home();
    WriteScript(home.Path("failing/xdg-open"), "echo \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n");
    WriteScript(home.Path("working/xdg-open"), "echo \"$1\" > \"$0.done\"\n");
    std::filesystem::create_directories(home.Path("none"));
    struct Case {
        const char* path;
        const char* reason;  // nothing: opened without a word
    } cases[] = {
        {"failing", "no method available for opening"},
        {"none", ""},  // no xdg-open at all
        {"working", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        environment.Set("PATH", home.Path(c.path));
        auto* recorder = new TRecordingQtPrompter;
        std::unique_ptr<TPrompter> previous = SetPrompter(std::unique_ptr<TPrompter>(recorder));
        TDlgAboutForm dialog;
        dialog.show();
        QTest::mouseClick(dialog.laBrelvant, Qt::LeftButton);
        const std::string done = home.Path("working/xdg-open.done");
        QElapsedTimer timer;
        timer.start();
        while ((c.reason ? recorder->texts.empty() : !std::filesystem::exists(done)) && timer.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(100);  // time for a box that should not come
        if (c.reason) {
            ASSERT_EQ(recorder->texts.size(), 1u);
            EXPECT_TRUE(Contains(recorder->texts[0], MakerWebAddress)) << recorder->texts[0];
            EXPECT_TRUE(Contains(recorder->texts[0], c.reason)) << recorder->texts[0];
        } else {
            EXPECT_TRUE(recorder->texts.empty());
            EXPECT_EQ(ReadFile(done), std::string(MakerWebAddress) + "\n");
        }
        SetPrompter(std::move(previous));
    }
}

}  // namespace
