#include "app/dialogs/DlgAbout.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <cstdio>

#include "DialogTestSupport.h"
#include "LayoutCheck.h"
#include "app/MakerInfo.h"
#include "platform/Paths.h"
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
    std::remove(licence.c_str());
    EXPECT_EQ(boxes->opened, std::vector<std::string>{licence});
}

}  // namespace
