// The form of a scanner's options, on SANE's virtual scanner with every kind of option it has.
#include <gtest/gtest.h>
#include <sane/sane.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <cmath>
#include <regex>
#include <set>

#include "QtTestApplication.h"
#include "SaneTestDevice.h"
#include "platform/SaneDevice.h"
#include "platform/qt/ScannerOptions.h"

namespace {

// The virtual scanner opened through the scanner layer, and the values it holds.
class OpenDevice {
public:
    OpenDevice() { EXPECT_TRUE(device.Open(session, "test:0")) << device.ErrorText(); }

    // The value the device holds, as SANE's words or as text.
    std::vector<SANE_Word> Words(const char* name) {
        TSaneOption option;
        std::vector<double> values;
        if (!device.Describe(device.FindOption(name), option) || !device.GetNumbers(option.Index, values)) return {};
        std::vector<SANE_Word> words;
        for (double v : values)
            words.push_back(option.Kind == TSaneValueKind::Fixed ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v)));
        return words;
    }
    std::string Text(const char* name) {
        std::string text;
        device.GetText(device.FindOption(name), text);
        return text;
    }

    TSaneSession session;
    TSaneDevice device;
};

class ScanOptionsForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureTestApplication<QApplication>(); }
    void Show(TScannerOptionsForm& form) {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    // Types the text over what the control shows and presses Enter.
    static void Type(QWidget* control, const QString& text) {
        ASSERT_NE(control, nullptr);
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(control)) spin->selectAll();
        if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
        QTest::keyClicks(control, text);
        QTest::keyClick(control, Qt::Key_Return);
        QCoreApplication::processEvents();
    }
    static void Next(QWidget* control) {
        ASSERT_NE(control, nullptr);
        QTest::keyClick(control, Qt::Key_Down);
        QCoreApplication::processEvents();
    }
};

TEST_F(ScanOptionsForm, OffersEveryOptionScanimageLists) {
    TSaneTestDevice device(TSaneSettings{{"enable-test-options", "true"}});
    const std::string listing = device.Scanimage("-A");
    OpenDevice open;
    TScannerOptionsForm form(open.device, nullptr);
    std::set<std::string> shown;
    for (QWidget* control : form.findChildren<QWidget*>())
        if (!control->objectName().isEmpty()) shown.insert(control->objectName().toStdString());
    // scanimage gives the scan area's four options their short letters.
    const std::map<std::string, std::string> letters = {{"l", "tl-x"}, {"t", "tl-y"}, {"x", "br-x"}, {"y", "br-y"}};
    int listed = 0;
    const std::regex option(R"(^ +(?:--([a-z0-9-]+)|-([ltxy]))[ [])", std::regex::multiline);
    for (auto it = std::sregex_iterator(listing.begin(), listing.end(), option); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1].matched ? (*it)[1].str() : letters.at((*it)[2].str());
        EXPECT_TRUE(shown.contains(name)) << name;
        ++listed;
    }
    EXPECT_GT(listed, 40);
}

TEST_F(ScanOptionsForm, SetsEveryKindOfValueWithinItsConstraint) {
    TSaneTestDevice device(TSaneSettings{{"enable-test-options", "true"}});
    OpenDevice open;
    TScannerOptionsForm form(open.device, nullptr);
    Show(form);
    auto control = [&form](const char* name) { return form.findChild<QWidget*>(name); };

    // A switch, a number in a range, a number from a list, fixed-point numbers, text and a choice.
    QTest::keyClick(control("bool-soft-select-soft-detect"), Qt::Key_Space);
    EXPECT_EQ(open.Words("bool-soft-select-soft-detect"), std::vector<SANE_Word>{SANE_TRUE});
    Type(control("int-constraint-range"), "100");
    EXPECT_EQ(open.Words("int-constraint-range"), std::vector<SANE_Word>{100});
    Next(control("int-constraint-word-list"));  // 42 is followed by 256
    EXPECT_EQ(open.Words("int-constraint-word-list"), std::vector<SANE_Word>{256});
    Type(control("fixed-constraint-range"), "1.83");
    EXPECT_NEAR(SANE_UNFIX(open.Words("fixed-constraint-range").at(0)), 1.83, 1e-4);
    Next(control("fixed-constraint-word-list"));  // 42 is followed by 129.5
    EXPECT_EQ(open.Words("fixed-constraint-word-list"), std::vector<SANE_Word>{SANE_FIX(129.5)});
    Type(control("string"), "Written by a person");
    EXPECT_EQ(open.Text("string"), "Written by a person");
    Next(control("string-constraint-string-list"));
    EXPECT_EQ(open.Text("string-constraint-string-list"), "Second entry");

    // A number beyond its range cannot be typed past the range's end.
    Type(control("int-constraint-range"), "500");
    EXPECT_LE(open.Words("int-constraint-range").at(0), 192);

    // A vector is written whole, and only when every value keeps to the range.
    const size_t count = open.Words("int-constraint-array-constraint-range").size();
    ASSERT_GT(count, 1u);
    QStringList tens, oneTooLarge;
    for (size_t i = 0; i < count; ++i) {
        tens << "10";
        oneTooLarge << (i == 1 ? "300" : "12");
    }
    Type(control("int-constraint-array-constraint-range"), tens.join(", "));
    EXPECT_EQ(open.Words("int-constraint-array-constraint-range"), std::vector<SANE_Word>(count, 10));
    Type(control("int-constraint-array-constraint-range"), oneTooLarge.join(", "));
    EXPECT_EQ(open.Words("int-constraint-array-constraint-range"), std::vector<SANE_Word>(count, 10));
    EXPECT_EQ(qobject_cast<QLineEdit*>(control("int-constraint-array-constraint-range"))->text(), tens.join(", "));

    // A value the device changes is shown as the device holds it.
    Type(control("int-inexact"), "5");
    EXPECT_EQ(qobject_cast<QSpinBox*>(control("int-inexact"))->value(), open.Words("int-inexact").at(0));

    // A button, and the device's own value for an option that has one.
    QTest::mouseClick(qobject_cast<QPushButton*>(control("button")), Qt::LeftButton);
    QTest::mouseClick(qobject_cast<QPushButton*>(control("bool-soft-select-soft-detect-auto-auto")), Qt::LeftButton);
    EXPECT_TRUE(control("bool-soft-select-soft-detect-auto-auto")->isEnabled());
}

TEST_F(ScanOptionsForm, ShowsWhatCannotBeSetDisabledAndFollowsTheDevicesChanges) {
    TSaneTestDevice device(TSaneSettings{{"enable-test-options", "true"}});
    OpenDevice open;
    TScannerOptionsForm form(open.device, nullptr);
    Show(form);
    auto control = [&form](const char* name) { return form.findChild<QWidget*>(name); };
    // Set by hand at the device, only read, or inactive in gray.
    for (const char* name : {"bool-hard-select-soft-detect", "bool-hard-select", "bool-soft-detect", "three-pass"}) {
        ASSERT_NE(control(name), nullptr) << name;
        EXPECT_FALSE(control(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(control("hand-scanner")->isEnabled());
    // Colour makes the three-pass option active: the device asks for its options to be read again.
    Next(control("mode"));
    EXPECT_EQ(open.Text("mode"), "Color");
    EXPECT_TRUE(control("three-pass")->isEnabled());
    EXPECT_EQ(qobject_cast<QComboBox*>(control("mode"))->currentText(), "Color");
    // Turning the test options off takes them away.
    QTest::keyClick(control("enable-test-options"), Qt::Key_Space);
    QCoreApplication::processEvents();
    EXPECT_EQ(open.Words("enable-test-options"), std::vector<SANE_Word>{SANE_FALSE});
    EXPECT_FALSE(control("int-constraint-range")->isEnabled());
}

}  // namespace
