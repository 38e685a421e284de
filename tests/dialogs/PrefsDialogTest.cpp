#include "app/dialogs/DlgPrefs.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDialog>
#include <QTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

#include "AppTestSupport.h"
#include "DialogTestSupport.h"
#include "LayoutCheck.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterSettings.h"
#include "app/engine/ShellIntegration.h"
#include "app/dialogs/CaptionFontDialog.h"
#include "tzlib/qt/SpinEdit.h"

namespace {

struct TPrefsDialog : ::testing::Test {
    TPrefsDialog() {
        converter.PaperSizeName = "A4";
        converter.SetAuthor("Ann Author");
    }
    TDialogApplication application;
    TPrivateEnvironment environment;
    TScriptedBoxes boxes;
    THeadlessHost host;
    TConverter converter{host};
    TDlgPrefsForm dialog{converter};

    void Show() {
        dialog.show();
        QApplication::processEvents();
    }
    void ChooseUnit(int index) {
        dialog.cbLengthUnit->setCurrentIndex(index);
        emit dialog.cbLengthUnit->activated(index);
    }
    void ChoosePaper(const QString& name) {
        const int index = dialog.cbBookPaperSize->findText(name);
        dialog.cbBookPaperSize->setCurrentIndex(index);
        emit dialog.cbBookPaperSize->activated(index);
    }
    void TypeMargin(TTzSpinEdit* edit, const char* text) {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    std::string Shown() const {
        return dialog.eBookWidth->text().toStdString() + " x " + dialog.eBookHeight->text().toStdString() + ", " +
               dialog.eBookLeftMargin->text().toStdString();
    }
};

TEST_F(TPrefsDialog, ControlsAndCaptions) {
    Show();
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    const std::pair<QString, const char*> captions[] = {
        {dialog.gbGeneral->title(), "General"},
        {dialog.chIntegratedToExplorer->text(), "Integrate Mordale into the file manager menu"},
        {dialog.gbBookPicOptions->title(), "Book layout"},
        {dialog.rbBookPortrait->text(), "Portrait"},
        {dialog.rbBookLandscape->text(), "Landscape"},
        {dialog.rbBookPicNamesAbove->text(), "Show above pics"},
        {dialog.rbBookPicNamesUnder->text(), "Show under pics"},
        {dialog.rbBookPicNamesNone->text(), "Don't show pic names"},
        {dialog.btBookPicNamesFont->text(), "Font..."},
        {dialog.rbBookPicDatesAbove->text(), "Show above pics"},
        {dialog.rbBookPicDatesUnder->text(), "Show under pics"},
        {dialog.rbBookPicDatesNone->text(), "Don't show pic dates"},
        {dialog.btBookPicDatesFont->text(), "Font..."},
        {dialog.tClose->text(), "&Close"},
    };
    for (const auto& [actual, expected] : captions) EXPECT_EQ(actual.toStdString(), expected);
    std::string groups, labels;
    for (QGroupBox* group : dialog.gbBookPicOptions->findChildren<QGroupBox*>()) groups += group->title().toStdString() + "|";
    EXPECT_EQ(groups, "Paper size and orientation|Margins|Pic names|Pic dates|");
    for (QLabel* label : dialog.findChildren<QLabel*>()) labels += label->text().toStdString() + "|";
    EXPECT_EQ(labels, "Author of generated PDF documents|Preferred Length unit:|Paper size|Width|Height|Top|Left|Right|"
                      "Bottom|");
    ASSERT_EQ(dialog.cbBookPaperSize->count(), 42);
    EXPECT_EQ(dialog.cbBookPaperSize->itemText(0), "Letter");
    EXPECT_EQ(dialog.cbBookPaperSize->itemText(40), "German Legal Fanfold");
    EXPECT_EQ(dialog.cbBookPaperSize->itemText(41), "[Custom size]");
    EXPECT_EQ(dialog.cbLengthUnit->itemText(1), "In");
    EXPECT_TRUE(dialog.eBookWidth->isReadOnly());
    EXPECT_EQ(dialog.eAuthor->text(), "Ann Author");
    SaveScreenshot(dialog, "PrefsDialog");
}

// Both units, with the caption font buttons shown and hidden.
TEST_F(TPrefsDialog, LaysOutInEachUnitAndCaptionChoice) {
    Show();
    EXPECT_TRUE(ShowsFully(dialog, "PrefsCentimetres"));
    ChooseUnit(1);
    QApplication::processEvents();
    const QSize withFontButtons = dialog.size();
    dialog.rbBookPicNamesNone->click();
    dialog.rbBookPicDatesNone->click();
    ASSERT_FALSE(dialog.btBookPicDatesFont->isVisibleTo(&dialog));
    EXPECT_TRUE(ShowsFully(dialog, "PrefsInchesWithoutCaptions"));
    EXPECT_EQ(dialog.size(), withFontButtons);  // the hidden buttons leave their room
}

TEST_F(TPrefsDialog, LengthsFollowTheUnitAndTheOrientation) {
    Show();
    EXPECT_EQ(dialog.cbBookPaperSize->currentText(), "A4");
    EXPECT_EQ(Shown(), "21.0 x 29.7, 1.0");
    ChooseUnit(1);
    EXPECT_FALSE(converter.Metric);
    EXPECT_EQ(Shown(), "8.27 x 11.69, 0.4");
    dialog.rbBookLandscape->click();
    EXPECT_EQ(converter.Orientation, boLandscape);
    EXPECT_EQ(Shown(), "11.69 x 8.27, 0.4");
    EXPECT_EQ(converter.LeftMargin, 100);  // redisplay in another unit changes no margin
    ChooseUnit(0);
    ChoosePaper("A5");
    EXPECT_EQ(converter.PaperSizeName, "A5");
    EXPECT_EQ(Shown(), "21.0 x 14.8, 1.0");
}

TEST_F(TPrefsDialog, MarginsAreStoredInTenthsOfAMillimetre) {
    Show();
    TypeMargin(dialog.eBookLeftMargin, "1.55");
    EXPECT_EQ(converter.LeftMargin, 155);
    ChooseUnit(1);
    TypeMargin(dialog.eBookTopMargin, "0.25");
    EXPECT_EQ(converter.TopMargin, 64);  // 63.5 rounds half to even
    dialog.eBookRightMargin->SpinButton()->ClickUp();
    EXPECT_EQ(converter.RightMargin, 125);  // one step from the value 100 / 254 in, not from the 0.4 shown
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(boxes->boxes.empty());
}

// A person types the decimal separator of the locale or a point, and in any locale a comma means
// one too: no typed number becomes another one.
TEST_F(TPrefsDialog, MarginsTakeTheLocalesDecimalSeparatorAndThePointAlike) {
    const TLocaleProvider german("de_DE.UTF-8");
    ASSERT_TRUE(german.Available());
    struct Case {
        const char* locale;
        const char* typed;
        int stored;        // tenths of a millimetre
        const char* shown;  // once the field is left
    } cases[] = {
        {"de_DE.UTF-8", "1,5", 150, "1,5"},
        {"de_DE.UTF-8", "2.5", 250, "2,5"},
        {"de_DE.UTF-8", "1,5,2", 152, "1,5"},  // a second separator is refused
        {"de_DE.UTF-8", "3", 300, "3,0"},
        {"C", "1,5", 150, "1.5"},
        {"C", "1.25", 125, "1.3"},
        {"C", "0,8.", 80, "0.8"},
    };
    Show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    for (const Case& c : cases) {
        const TCLocaleGuard locale(c.locale);
        ASSERT_TRUE(locale.Ok()) << c.locale;
        dialog.eBookLeftMargin->SetFormat("0.0");  // as the dialog sets it up under the locale
        dialog.eBookLeftMargin->setFocus();
        TypeMargin(dialog.eBookLeftMargin, c.typed);
        EXPECT_EQ(converter.LeftMargin, c.stored) << c.locale << " " << c.typed;
        dialog.eBookTopMargin->setFocus();
        EXPECT_EQ(dialog.eBookLeftMargin->text().toStdString(), c.shown) << c.locale << " " << c.typed;
    }
}

TEST_F(TPrefsDialog, MarginsThatDoNotFitThePaperAreRefused) {
    Show();
    TypeMargin(dialog.eBookLeftMargin, "15");
    TypeMargin(dialog.eBookRightMargin, "6");  // 21.0 cm or more together: no room left
    EXPECT_EQ(converter.LeftMargin, 1500);
    EXPECT_EQ(converter.RightMargin, 100);
    dialog.tClose->click();
    EXPECT_EQ(boxes.Texts(), "Invalid book margins\n");
    EXPECT_TRUE(dialog.isVisible());
    TypeMargin(dialog.eBookRightMargin, "5.9");
    dialog.tClose->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(converter.RightMargin, 590);

    // A smaller paper that the stored margins no longer fit keeps the dialog open too.
    Show();
    ChoosePaper("A5");
    dialog.reject();
    EXPECT_EQ(boxes.Texts(), "Invalid book margins\nInvalid book margins\n");
    EXPECT_TRUE(dialog.isVisible());
}

// "[Custom size]" starts from the paper shown and lets the user enter its sides, within the
// page limits of 3 to 14,400 points; the engine keeps them upright, in tenths of a millimetre.
TEST_F(TPrefsDialog, CustomSizeMakesTheSidesEditableWithinThePageLimits) {
    Show();
    EXPECT_FALSE(dialog.eBookWidth->isEnabled());
    ChoosePaper("[Custom size]");
    EXPECT_EQ(converter.PaperSizeName, "[Custom size]");
    EXPECT_EQ(dialog.cbBookPaperSize->currentText(), "[Custom size]");
    for (QLineEdit* edit : {dialog.eBookWidth, dialog.eBookHeight}) {
        EXPECT_TRUE(edit->isEnabled());
        EXPECT_FALSE(edit->isReadOnly());
    }
    EXPECT_EQ(Shown(), "21.0 x 29.7, 1.0");
    struct Case {
        QLineEdit* edit;
        const char* typed;
        int width, height;
        const char* shown;
    } cases[] = {
        {dialog.eBookWidth, "30", 3000, 2970, "30.0 x 29.7, 1.0"},
        {dialog.eBookHeight, "600", 3000, 50800, "30.0 x 508.0, 1.0"},  // beyond 14,400 points
        {dialog.eBookWidth, "0", 11, 50800, "0.1 x 508.0, 1.0"},         // below 3 points
        {dialog.eBookWidth, "wide", 11, 50800, "0.1 x 508.0, 1.0"},      // no number: no change
        {dialog.eBookWidth, "12.34", 1234, 50800, "12.3 x 508.0, 1.0"},
    };
    for (const Case& c : cases) {
        c.edit->selectAll();
        QTest::keyClicks(c.edit, c.typed);
        QTest::keyClick(c.edit, Qt::Key_Return);
        EXPECT_EQ(converter.CustomPaperWidth, c.width) << c.typed;
        EXPECT_EQ(converter.CustomPaperHeight, c.height) << c.typed;
        EXPECT_EQ(Shown(), c.shown) << c.typed;
    }
    // Turned, the page's width is the paper's height; in inches the sides show in inches.
    dialog.rbBookLandscape->click();
    EXPECT_EQ(Shown(), "508.0 x 12.3, 1.0");
    dialog.eBookWidth->selectAll();
    QTest::keyClicks(dialog.eBookWidth, "40");
    QTest::keyClick(dialog.eBookWidth, Qt::Key_Return);
    EXPECT_EQ(converter.CustomPaperHeight, 4000);
    EXPECT_EQ(converter.CustomPaperWidth, 1234);
    ChooseUnit(1);
    EXPECT_EQ(Shown(), "15.75 x 4.86, 0.4");

    // A named paper makes the sides read-only again; the custom size comes back when chosen again.
    ChoosePaper("A5");
    EXPECT_FALSE(dialog.eBookWidth->isEnabled());
    EXPECT_TRUE(dialog.eBookHeight->isReadOnly());
    ChoosePaper("[Custom size]");
    EXPECT_EQ(converter.CustomPaperWidth, 1234);
    EXPECT_EQ(converter.CustomPaperHeight, 4000);
    dialog.accept();
    EXPECT_TRUE(boxes->boxes.empty());
}

// The paper list drops down with 12 lines and a scroll bar, not a list over the whole screen.
TEST_F(TPrefsDialog, ThePaperListDropsDownTwelveLines) {
    Show();
    dialog.cbBookPaperSize->showPopup();
    QAbstractItemView* list = dialog.cbBookPaperSize->view();
    ASSERT_TRUE(list->isVisible());
    const int rowHeight = list->sizeHintForRow(0);
    ASSERT_GT(rowHeight, 0);
    EXPECT_EQ(list->viewport()->height() / rowHeight, 12);
    EXPECT_TRUE(list->verticalScrollBar()->isVisible());
    dialog.cbBookPaperSize->hidePopup();
}

TEST_F(TPrefsDialog, CaptionPositionsAndFonts) {
    Show();
    EXPECT_TRUE(dialog.rbBookPicNamesUnder->isChecked());
    EXPECT_TRUE(dialog.rbBookPicDatesNone->isChecked());
    EXPECT_FALSE(dialog.btBookPicDatesFont->isVisible());
    dialog.rbBookPicDatesAbove->click();
    EXPECT_EQ(converter.PicDatesPos, cpAbove);
    EXPECT_TRUE(dialog.btBookPicDatesFont->isVisible());
    dialog.rbBookPicNamesNone->click();
    EXPECT_EQ(converter.PicNamesPos, cpHidden);
    dialog.accept();
    Show();  // reopened: the hidden button stays hidden
    EXPECT_FALSE(dialog.btBookPicNamesFont->isVisible());
    EXPECT_TRUE(dialog.rbBookPicNamesNone->isChecked());

    TFont offered;
    dialog.ChooseFont = [&](TFont& font) {
        offered = font;
        font.Name = "Liberation Serif";
        font.Size = 14;
        return false;  // cancelled
    };
    dialog.btBookPicDatesFont->click();
    EXPECT_EQ(offered.Name, "Arial");
    EXPECT_EQ(offered.Size, 10);
    EXPECT_EQ(converter.PicDatesFont.Name, "Arial");
    dialog.ChooseFont = [](TFont& font) {
        font.Size = 14;
        return true;
    };
    dialog.btBookPicDatesFont->click();
    EXPECT_EQ(converter.PicDatesFont.Size, 14);
    EXPECT_EQ(converter.PicNamesFont.Size, 10);
}

TEST_F(TPrefsDialog, AuthorAndDesktopIntegration) {
    Show();
    EXPECT_FALSE(dialog.chIntegratedToExplorer->isChecked());
    dialog.eAuthor->clear();
    QTest::keyClicks(dialog.eAuthor, "Bo");
    EXPECT_EQ(converter.GetAuthor(), "Bo");
    dialog.chIntegratedToExplorer->click();
    EXPECT_TRUE(IsExplorerIntegrated());
    dialog.accept();
    Show();
    EXPECT_TRUE(dialog.chIntegratedToExplorer->isChecked());
    dialog.chIntegratedToExplorer->click();
    EXPECT_FALSE(IsExplorerIntegrated());
}

// The font dialog on the caption fonts: a confirmed font replaces name, size, styles and colour;
// a cancelled one, or one whose size is no caption size in points, changes nothing.
TEST(ChooseFontWithDialog, TakesOnlyAConfirmedFontWithAPointSize) {
    TDialogApplication application;
    const auto answer = [](const std::function<void(TCaptionFontDialog&)>& act) {
        QTimer::singleShot(0, [act] {
            if (auto* dialog = dynamic_cast<TCaptionFontDialog*>(QApplication::activeModalWidget())) act(*dialog);
        });
    };
    TFont font;
    font.Name = "Liberation Sans";
    font.Size = 10;
    font.Color = clRed;
    answer([](TCaptionFontDialog& d) {
        EXPECT_EQ(d.cbColor->currentText(), "Red");
        QFont chosen("Liberation Serif", 14);
        chosen.setBold(true);
        d.fontDialog->setCurrentFont(chosen);
        d.cbColor->setCurrentIndex(d.cbColor->findText("Navy"));
        d.accept();
    });
    ASSERT_TRUE(ChooseFontWithDialog(font, nullptr));
    EXPECT_EQ(font.Name, "Liberation Serif");
    EXPECT_EQ(font.Size, 14);
    EXPECT_EQ(font.Style, unsigned(fsBold));
    EXPECT_EQ(font.Color, clNavy);

    answer([](TCaptionFontDialog& d) {
        d.cbColor->setCurrentIndex(d.cbColor->findText("Lime"));
        d.reject();
    });
    EXPECT_FALSE(ChooseFontWithDialog(font, nullptr));
    EXPECT_EQ(font.Size, 14);
    EXPECT_EQ(font.Color, clNavy);

    // A size the settings would not read back is not taken either.
    answer([](TCaptionFontDialog& d) {
        d.fontDialog->setCurrentFont(QFont("Liberation Serif", 200));
        d.accept();
    });
    EXPECT_FALSE(ChooseFontWithDialog(font, nullptr));
    EXPECT_EQ(font.Size, 14);
}

// The colour the settings keep is offered: one of the sixteen named colours, or a colour without
// a name beside them, which stays chosen unless the user picks another.
TEST(ChooseFontWithDialog, OffersTheColourTheSettingsKeep) {
    TDialogApplication application;
    TFont font;
    font.Name = "Liberation Sans";
    font.Size = 10;
    font.Color = RGB(0, 0x80, 0xFF);
    TCaptionFontDialog dialog(font);
    EXPECT_EQ(dialog.cbColor->count(), 17);
    EXPECT_EQ(dialog.cbColor->itemText(0), "Black");
    EXPECT_EQ(dialog.cbColor->itemText(15), "White");
    EXPECT_EQ(dialog.cbColor->currentText(), "$00FF8000");
    TFont chosen = font;
    chosen.Color = clBlack;
    ASSERT_TRUE(dialog.TakeChosenFont(chosen));
    EXPECT_EQ(chosen.Color, RGB(0, 0x80, 0xFF));
    EXPECT_EQ(FontToText(chosen), "Liberation Sans,10,$00FF8000");

    font.Color = clTeal;
    TCaptionFontDialog named(font);
    EXPECT_EQ(named.cbColor->count(), 16);
    EXPECT_EQ(named.cbColor->currentText(), "Teal");
}

}  // namespace
