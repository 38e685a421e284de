#include "app/dialogs/DlgMultiFrame.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "DialogTestSupport.h"
#include "LayoutCheck.h"
#include "imaging/io/KVFileFormats.h"
#include "tzlib/qt/SpinEdit.h"

namespace {

struct TMultiFrameDialog : ::testing::Test {
    TMultiFrameDialog() {
        // A 7-frame animated GIF, made by ImageMagick.
        gif = scratch.Path("seven.gif");
        const auto made = RunTool("convert -size 8x6 -delay 10 xc:red xc:green xc:blue xc:white xc:black xc:yellow "
                                  "xc:cyan " + Quoted(gif));
        EXPECT_EQ(made.status, 0) << made.output;
        dialog.Pic = {gif, GetFileFrameCount(gif), 0};
    }
    TDialogApplication application;
    TScratchFolder scratch;
    std::string gif;
    TDlgMultiFrameForm dialog;

    void Show() {
        dialog.show();
        QApplication::processEvents();
    }
};

TEST_F(TMultiFrameDialog, OpensOnTheFirstFrameOfASevenFrameGif) {
    ASSERT_EQ(dialog.Pic.FrameCount, 7);
    Show();
    EXPECT_EQ(dialog.windowTitle(), "Multi-frame file");
    const std::pair<QString, std::string> captions[] = {
        {dialog.laFrameCount->text(), "7 frames."},
        {dialog.laFileName->text(), gif},
        {dialog.rbExtractAll->text(), "Extract all frames"},
        {dialog.rbExtractCount->text(), "Extract only the first"},
        {dialog.laExtractCount->text(), "frames"},
        {dialog.rbExtractFrequency->text(), "Extract one frame out of"},
        {dialog.rbExtractNone->text(), "Don't select this file"},
        {dialog.btOk->text(), "&Ok"},
        {dialog.eExtractCount->text(), "1"},
        {dialog.eFrequency->text(), "2"},
    };
    for (const auto& [actual, expected] : captions) EXPECT_EQ(actual.toStdString(), expected);
    EXPECT_TRUE(dialog.laFrameCount->font().bold());
    EXPECT_TRUE(dialog.rbExtractCount->isChecked());
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), "This file contains:");
    SaveScreenshot(dialog, "MultiFrameDialog");
    dialog.btOk->click();
    EXPECT_EQ(dialog.ExtractCount, 1);
}

TEST_F(TMultiFrameDialog, AnswersOfEachChoice) {
    struct Case {
        int choice;      // all, first n, one out of n, none
        int editValue;   // typed into the choice's edit, 0 for none
        int32_t count, step;
    };
    const Case cases[] = {
        {0, 0, 7, 0}, {1, 5, 5, 0}, {1, 9, 7, 0}, {2, 3, -1, 3}, {2, 1, -1, 2}, {3, 0, 0, 0},
    };
    for (const Case& c : cases) {
        dialog.ExtractStep = 0;
        Show();
        QRadioButton* const choices[] = {dialog.rbExtractAll, dialog.rbExtractCount, dialog.rbExtractFrequency,
                                         dialog.rbExtractNone};
        choices[c.choice]->click();
        if (c.choice == 1) dialog.eExtractCount->SetValue(c.editValue);
        if (c.choice == 2) dialog.eFrequency->SetValue(c.editValue);
        dialog.btOk->click();
        EXPECT_EQ(dialog.ExtractCount, c.count) << c.choice << " " << c.editValue;
        EXPECT_EQ(dialog.ExtractStep, c.step) << c.choice << " " << c.editValue;
    }
}

TEST_F(TMultiFrameDialog, TypingInAnEditChoosesItsAnswer) {
    Show();
    QTest::keyClicks(dialog.eFrequency, "4");  // "24"; the maximum applies when the edit is left
    EXPECT_TRUE(dialog.rbExtractFrequency->isChecked());
    dialog.eExtractCount->clear();
    QTest::keyClicks(dialog.eExtractCount, "3");
    EXPECT_TRUE(dialog.rbExtractCount->isChecked());
    dialog.close();  // the title bar's close button answers like OK
    EXPECT_EQ(dialog.ExtractCount, 3);
}

TEST_F(TMultiFrameDialog, SuggestedStepOfAVideo) {
    dialog.Pic = {"clip.avi", 300, 25};
    Show();
    EXPECT_EQ(dialog.eFrequency->text(), "25");
    EXPECT_EQ(dialog.laFrameCount->text(), "300 frames.");
    dialog.rbExtractFrequency->click();
    dialog.accept();
    EXPECT_EQ(dialog.ExtractCount, -1);
    EXPECT_EQ(dialog.ExtractStep, 25);
}

}  // namespace

namespace {

// A long path wraps; the picture's folder is fixed, so that the screenshot does not change.
TEST(TMultiFrameDialogLayout, LaysOutALongFileName) {
    EnsureDialogApplication();
    TDlgMultiFrameForm dialog;
    dialog.Pic = {"/home/someone/Pictures/2026 holidays in the mountains/a long walk to the lake at dawn.gif", 1250, 25};
    dialog.show();
    EXPECT_TRUE(ShowsFully(dialog, "MultiFrame"));
}

}  // namespace
