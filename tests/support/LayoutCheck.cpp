#include "LayoutCheck.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QWidget>
#include <cstdlib>
#include <vector>

namespace {

// The controls whose text must be readable; what lies inside them is theirs.
bool IsControl(const QWidget* widget) {
    return qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget) ||
           qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget);
}

// Items of a list or a view scroll: being cut there is their way of being shown.
bool IsScrolledContent(const QWidget* widget, const QWidget& window) {
    for (const QWidget* w = widget; w && w != &window; w = w->parentWidget())
        if (const auto* area = qobject_cast<const QAbstractScrollArea*>(w->parentWidget()))
            if (area->viewport() == w) return true;
    return false;
}

std::vector<QWidget*> VisibleControls(QWidget& window) {
    std::vector<QWidget*> controls;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window) || !IsControl(widget) || IsScrolledContent(widget, window)) continue;
        bool insideControl = false;
        for (const QWidget* w = widget->parentWidget(); w && w != &window; w = w->parentWidget())
            insideControl = insideControl || IsControl(w);
        if (!insideControl) controls.push_back(widget);
    }
    return controls;
}

QString Describe(const QWidget* widget) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(widget)) text = label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) text = button->text();
    if (const auto* box = qobject_cast<const QGroupBox*>(widget)) text = box->title();
    return QString("%1 %2 \"%3\"").arg(widget->metaObject()->className(), widget->objectName(), text.left(40));
}

QString SizeText(QSize size) { return QString("%1x%2").arg(size.width()).arg(size.height()); }

// The room the control's text needs; a field need not be as wide as its hint, only show its text.
QSize NeededSize(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget); label && label->wordWrap())
        return {label->minimumSizeHint().width(), label->heightForWidth(label->width())};
    // A text shortened with an ellipsis, whole in the tooltip, needs the room of what is shown.
    if (const auto* label = qobject_cast<const QLabel*>(widget);
        label && label->text().contains(QChar(0x2026)) && !label->toolTip().isEmpty()) {
        const QMargins margins = label->contentsMargins();
        return {label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->margin() + margins.left() +
                    margins.right(),
                label->sizeHint().height()};
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        const QFontMetrics metrics = edit->fontMetrics();
        const int textWidth = edit->echoMode() == QLineEdit::Normal ? metrics.horizontalAdvance(edit->text()) : 0;
        // The hint is 17 x wide besides the frame and margins.
        const int frame = edit->sizeHint().width() - 17 * metrics.horizontalAdvance(QLatin1Char('x'));
        return {std::max(edit->minimumSizeHint().width(), frame + textWidth), edit->sizeHint().height()};
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        option.frame = combo->hasFrame();
        const QRect field =
            combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
        int textWidth = combo->fontMetrics().horizontalAdvance(combo->currentText());
        // The item's icon stands before its text, as in the combo box's own hint.
        if (!combo->itemIcon(combo->currentIndex()).isNull()) textWidth += combo->iconSize().width() + 4;
        return {combo->width() - field.width() + textWidth, combo->sizeHint().height()};
    }
    if (qobject_cast<const QAbstractSpinBox*>(widget))
        return {widget->minimumSizeHint().width(), widget->sizeHint().height()};
    return widget->sizeHint();
}

QString SizeFault(const QWidget* widget) {
    const QSize needed = NeededSize(widget);
    if (widget->width() >= needed.width() && widget->height() >= needed.height()) return {};
    return QString("%1 is %2, needs %3").arg(Describe(widget), SizeText(widget->size()), SizeText(needed));
}

QString CutFault(const QWidget* widget, const QWidget& window) {
    for (const QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        const QRect inParent(widget->mapTo(parent, QPoint(0, 0)), widget->size());
        if (!parent->rect().contains(inParent))
            return QString("%1 at %2,%3 %4 is cut by %5 of %6")
                .arg(Describe(widget))
                .arg(inParent.x())
                .arg(inParent.y())
                .arg(SizeText(inParent.size()), Describe(parent), SizeText(parent->size()));
        if (parent == &window) break;
    }
    return {};
}

// A group box's title is shown whole.
QString TitleFault(const QGroupBox* box) {
    const QSize needed = box->minimumSizeHint();
    if (box->width() >= needed.width() && box->height() >= needed.height()) return {};
    return QString("%1 is %2, needs %3").arg(Describe(box), SizeText(box->size()), SizeText(needed));
}

QRect InWindow(const QWidget* widget, const QWidget& window) {
    return {widget->mapTo(&window, QPoint(0, 0)), widget->size()};
}

void SettleLayouts() {
    for (int i = 0; i < 3; ++i) {
        QApplication::sendPostedEvents();
        QApplication::processEvents();
    }
}

QString DpiName(const QWidget& window) {
    QString name = QString("-%1dpi").arg(window.logicalDpiY());
    if (window.devicePixelRatioF() != 1) name += QString("-x%1").arg(window.devicePixelRatioF());
    return name;
}

// Gray and halved, so that the smoothing of glyph edges averages out.
QImage Comparable(const QImage& image) {
    return image.convertToFormat(QImage::Format_Grayscale8)
        .scaled(image.width() / 2, image.height() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

::testing::AssertionResult HasRoomForItsText(const QWidget& control) {
    if (const QString fault = SizeFault(&control); !fault.isEmpty())
        return ::testing::AssertionFailure() << fault.toStdString();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult LaysOutFully(QWidget& window) {
    SettleLayouts();
    QStringList faults;
    const std::vector<QWidget*> controls = VisibleControls(window);
    for (const QWidget* control : controls) {
        for (const QString& fault : {SizeFault(control), CutFault(control, window)})
            if (!fault.isEmpty()) faults << fault;
    }
    for (const QGroupBox* box : window.findChildren<QGroupBox*>())
        if (box->isVisibleTo(&window))
            if (const QString fault = TitleFault(box); !fault.isEmpty()) faults << fault;
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
            if (InWindow(controls[i], window).intersects(InWindow(controls[j], window)))
                faults << QString("%1 overlaps %2").arg(Describe(controls[i]), Describe(controls[j]));
    if (faults.isEmpty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << window.windowTitle().toStdString() << " "
                                         << SizeText(window.size()).toStdString() << ":\n  "
                                         << faults.join("\n  ").toStdString();
}

::testing::AssertionResult LooksLikeReference(QWidget& window, const std::string& name) {
    SettleLayouts();
    const QString fileName = QString::fromStdString(name) + DpiName(window) + ".png";
    const QImage shown = window.grab().toImage();
    QDir().mkpath("screenshots");
    shown.save("screenshots/" + fileName);
    const QString referencePath = QString(MORDALE_SCREENSHOT_REFERENCES) + "/" + fileName;
    const QImage comparable = Comparable(shown);
    if (qEnvironmentVariableIntValue("MORDALE_UPDATE_REFERENCES") == 1) {
        comparable.save(referencePath);
        return ::testing::AssertionSuccess();
    }
    const QImage reference(referencePath);
    if (reference.isNull())
        return ::testing::AssertionFailure() << "no reference " << referencePath.toStdString()
                                             << "; store it with MORDALE_UPDATE_REFERENCES=1 after looking at "
                                             << QFileInfo("screenshots/" + fileName).absoluteFilePath().toStdString();
    if (reference.size() != comparable.size())
        return ::testing::AssertionFailure()
               << fileName.toStdString() << " halved is " << SizeText(comparable.size()).toStdString()
               << ", the reference " << SizeText(reference.size()).toStdString();
    const QImage& a = comparable;
    const QImage b = reference.convertToFormat(QImage::Format_Grayscale8);
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) differing += std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]) > 48;
    // A few text cursors or focus frames may differ; a moved control changes far more.
    const int allowed = a.width() * a.height() / 500;
    if (differing <= allowed) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << fileName.toStdString() << " differs from its reference in " << differing
                                         << " points of " << a.width() * a.height() << " (allowed " << allowed << ")";
}

::testing::AssertionResult ShowsFully(QWidget& window, const std::string& name) {
    ::testing::AssertionResult layout = LaysOutFully(window);
    const ::testing::AssertionResult looks = LooksLikeReference(window, name);
    if (!layout) return layout << "\n(state " << name << ")";
    return looks;
}
