#include "QtTestApplication.h"
#include "platform/qt/QtPrompter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "TestSupport.h"

namespace {

class QtPrompterTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
    }
};

// Acts on the modal window once the event loop shows it.
template <class TWindow>
void WhenShown(std::function<void(TWindow&)> action) {
    QTimer::singleShot(0, [action] {
        auto* window = qobject_cast<TWindow*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        action(*window);
    });
}

}  // namespace

TEST_F(QtPrompterTest, FiltersBecomeQtFilters) {
    struct Case {
        const char* ours;
        const char* qt;
    } cases[] = {
        {"PDF files|*.pdf", "PDF files (*.pdf)"},
        {"Pictures|*.jpg;*.png|All files|*.*", "Pictures (*.jpg *.png);;All files (*.*)"},
        {"Anything", "Anything (*)"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(QtFileFilter(c.ours), c.qt) << c.ours;
}

TEST_F(QtPrompterTest, BoxesAnswerWithTheButtonPressed) {
    TQtPrompter prompter;
    WhenShown<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.text(), "File exists: /tmp/a.pdf\r\nOverwrite?");
        EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::Yes));
        box.button(QMessageBox::No)->click();
    });
    EXPECT_EQ(prompter.MessageBox("Mordale", "File exists: /tmp/a.pdf\r\nOverwrite?", TMsgIcon::Question,
                                  TMsgButtons::YesNo),
              idNo);
    WhenShown<QMessageBox>([](QMessageBox& box) { box.reject(); });
    EXPECT_EQ(prompter.MessageBox("Mordale", "Go on?", TMsgIcon::Question, TMsgButtons::YesNoCancel), idCancel);
    WhenShown<QMessageBox>([](QMessageBox& box) { box.defaultButton()->click(); });
    EXPECT_EQ(prompter.MessageBox("Mordale", "Done", TMsgIcon::Information, TMsgButtons::Ok), idOk);
}

// The window manager cuts the title to the box's width: a short text leaves the box wide enough
// for the title in a bold font beside the bar's icon and buttons.
TEST_F(QtPrompterTest, ABoxIsWideEnoughForItsTitle) {
    TQtPrompter prompter;
    for (const char* title : {"Brelvant Mordale", "Brelvant Mordale, the converter of pictures into documents"}) {
        WhenShown<QMessageBox>([title](QMessageBox& box) {
            QFont bold = box.font();
            bold.setBold(true);
            const QFontMetrics metrics(bold);
            EXPECT_GE(box.width(), metrics.horizontalAdvance(title) + 4 * 2 * metrics.height()) << title;
            box.button(QMessageBox::Ok)->click();
        });
        EXPECT_EQ(prompter.MessageBox(title, "Done", TMsgIcon::Information, TMsgButtons::Ok), idOk);
    }
}

TEST_F(QtPrompterTest, SaveDialogProposesThePathAndCanBeCancelled) {
    TScratchFolder folder;
    TQtPrompter prompter;
    WhenShown<QFileDialog>([](QFileDialog& dialog) { QMetaObject::invokeMethod(&dialog, "accept"); });
    EXPECT_EQ(prompter.SaveDialog("PDF book file name", folder.Path("Book1.pdf"), "PDF files|*.pdf"),
              folder.Path("Book1.pdf"));
    WhenShown<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(prompter.SaveDialog("PDF book file name", folder.Path("Book1.pdf"), "PDF files|*.pdf"), std::nullopt);
}
