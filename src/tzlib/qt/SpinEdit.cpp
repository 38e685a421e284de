#include "tzlib/qt/SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

#include "tzlib/SystemHelpers.h"
#include "tzlib/TextFormats.h"

namespace {

constexpr int FirstRepeatMs = 400;
constexpr int NextRepeatMs = 100;
constexpr int RightMargin = 3;
const std::string DigitChars = std::string("\b") + "0123456789-";

// The decimal separators a person may type: the locale's, and the point and the comma that
// people type whatever their locale, so that "1,5" is never taken for 15.
std::string DecimalSeparators() {
    std::string separators = ".,";
    const char* decimal = std::localeconv()->decimal_point;
    if (decimal && decimal[0] && !decimal[1] && separators.find(decimal[0]) == std::string::npos) separators += decimal;
    return separators;
}

}  // namespace

std::optional<double> TypedNumber(const QString& text) {
    std::string bytes = text.toStdString();
    if (bytes.empty() || std::isspace(static_cast<unsigned char>(bytes[0]))) return std::nullopt;
    // One decimal separator at most, whichever of those a person may type.
    const std::string separators = DecimalSeparators();
    const size_t separator = bytes.find_first_of(separators);
    if (separator != std::string::npos) {
        if (bytes.find_first_of(separators, separator + 1) != std::string::npos) return std::nullopt;
        bytes[separator] = '.';
    }
    double value = 0;
    const char* end = bytes.data() + bytes.size();
    const auto [stop, error] = std::from_chars(bytes.data(), end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

// --- TTimerSpeedButton

TTimerSpeedButton::TTimerSpeedButton(QWidget* parent) : QToolButton(parent) {}

void TTimerSpeedButton::mousePressEvent(QMouseEvent* event) {
    QToolButton::mousePressEvent(event);
    if (!AllowTimer) return;
    if (!repeatTimer_) {
        repeatTimer_ = new QTimer(this);
        connect(repeatTimer_, &QTimer::timeout, this, &TTimerSpeedButton::RepeatTick);
    }
    repeatTimer_->start(FirstRepeatMs);
}

void TTimerSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
    QToolButton::mouseReleaseEvent(event);
    if (repeatTimer_) repeatTimer_->stop();
}

void TTimerSpeedButton::RepeatTick() {
    if (!repeatTimer_) return;
    repeatTimer_->setInterval(NextRepeatMs);
    if (!isDown()) return;
    try {
        emit clicked(false);
    } catch (...) {
        repeatTimer_->stop();
        throw;
    }
}

int TTimerSpeedButton::RepeatInterval() const {
    return repeatTimer_ && repeatTimer_->isActive() ? repeatTimer_->interval() : 0;
}

void TTimerSpeedButton::paintEvent(QPaintEvent* event) {
    QToolButton::paintEvent(event);
    if (!FocusRect) return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect().adjusted(3, 3, -3, -3);
    if (isDown()) option.rect.translate(1, 1);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

// --- TSpinButton

TSpinButton::TSpinButton(QWidget* parent)
    : QWidget(parent), up_(new TTimerSpeedButton(this)), down_(new TTimerSpeedButton(this)), focused_(up_) {
    for (TTimerSpeedButton* button : {up_, down_}) {
        button->AllowTimer = true;
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRaise(false);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { if (OnUpClick) OnUpClick(); });
    connect(down_, &QToolButton::clicked, this, [this] { if (OnDownClick) OnDownClick(); });
    connect(up_, &QToolButton::pressed, this, [this] { ButtonPressed(up_); });
    connect(down_, &QToolButton::pressed, this, [this] { ButtonPressed(down_); });
    setFocusPolicy(Qt::NoFocus);  // not a tab stop by default
    setMinimumWidth(15);
    resize(20, 25);
    PlaceButtons();
}

void TSpinButton::ClickUp() {
    SetFocusedButton(up_);
    if (up_->isEnabled() && OnUpClick) OnUpClick();
}

void TSpinButton::ClickDown() {
    SetFocusedButton(down_);
    if (down_->isEnabled() && OnDownClick) OnDownClick();
}

void TSpinButton::SetFocusedButton(TTimerSpeedButton* button) {
    if (button == focused_) return;
    focused_->FocusRect = false;
    focused_->update();
    focused_ = button;
    focused_->FocusRect = hasFocus();
    focused_->update();
}

namespace {

bool TakesTabFocus(const QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && widget->isVisible();
}

}  // namespace

void TSpinButton::ButtonPressed(TTimerSpeedButton* button) {
    if (TakesTabFocus(this)) SetFocusedButton(button);
    // A focus control that already has the focus keeps it rather than losing it to the spin.
    if (FocusControl && TakesTabFocus(FocusControl)) {
        if (!FocusControl->hasFocus()) FocusControl->setFocus(Qt::MouseFocusReason);
    } else if (TakesTabFocus(this) && !hasFocus()) {
        setFocus(Qt::MouseFocusReason);
    }
}

void TSpinButton::PlaceButtons() {
    const int upHeight = height() / 2;
    up_->setGeometry(0, 0, width(), upHeight);
    down_->setGeometry(0, upHeight - 1, width(), height() - upHeight + 1);
}

void TSpinButton::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceButtons();
}

void TSpinButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
        if (focused_ == up_) ClickUp(); else ClickDown();
        break;
    case Qt::Key_Up: ClickUp(); break;
    case Qt::Key_Down: ClickDown(); break;
    default: QWidget::keyPressEvent(event);
    }
}

void TSpinButton::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    focused_->FocusRect = true;
    focused_->update();
}

void TSpinButton::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    focused_->FocusRect = false;
    focused_->update();
}

// --- TTzSpinEdit

TTzSpinEdit::TTzSpinEdit(QWidget* parent)
    : QLineEdit(parent), AuthorizedChars(DigitChars), spin_(new TSpinButton(this)) {
    spin_->OnUpClick = [this] { SpinBy(Step); };
    spin_->OnDownClick = [this] { SpinBy(-Step); };
    connect(this, &QLineEdit::textChanged, this, &TTzSpinEdit::TextChanged);
    spin_->UpButton()->setCursor(Qt::ArrowCursor);
    spin_->DownButton()->setCursor(Qt::ArrowCursor);
    // Drawn 21 pixels high at 96 dpi; higher where the font needs it.
    const int height = std::max(ScaleToScreenDpi(21), QLineEdit::sizeHint().height());
    resize(ScaleToScreenDpi(77), height);
    setFixedHeight(height);
    setMinimumWidth(ScaleToScreenDpi(77));
    setTextMargins(0, 0, 16 + 3, 0);  // text never runs under the buttons
    PlaceButtons();
}

void TTzSpinEdit::PlaceButtons() {
    const int buttonWidth = ScaleToScreenDpi(16);
    const int inset = ScaleToScreenDpi(3);
    spin_->setGeometry(width() - buttonWidth - RightMargin, 0, buttonWidth, height() - inset);
}

void TTzSpinEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    PlaceButtons();
}

std::string TTzSpinEdit::DisplayText() const {
    return format_.empty() ? FormatFloat("0", value_) : FormatNumber(format_, value_);
}

void TTzSpinEdit::SetValue(double x) {
    const double old = value_;
    if (x < minValue_) value_ = minValue_;
    else if (maxValue_ == 0 || x <= maxValue_) value_ = x;
    else value_ = maxValue_;

    textReflect_ = false;
    if (RoundToDigits(value_ - old, 1) != 0 || !hasFocus()) {
        std::string text;
        if (!(DisplayZeroAsBlank && value_ == 0)) {
            try {
                text = DisplayText();
            } catch (const std::exception&) {
                text.clear();
            }
        }
        setText(QString::fromStdString(text));
    }
    textReflect_ = true;
    if (value_ != old && !silent_ && OnChange) OnChange();
    setModified(true);
}

void TTzSpinEdit::SetValueSilent(double x) {
    silent_ = true;
    SetValue(x);
    silent_ = false;
}

int TTzSpinEdit::GetAsInteger() const { return static_cast<int>(std::trunc(value_)); }

void TTzSpinEdit::SetMinValue(double x) {
    minValue_ = x;
    SetValue(value_);
}

void TTzSpinEdit::SetMaxValue(double x) {
    maxValue_ = x;
    SetValue(value_);
}

void TTzSpinEdit::SetFormat(const std::string& format) {
    format_ = format;
    SetValue(value_);
    AuthorizedChars = DigitChars;
    if (format.find('.') != std::string::npos) AuthorizedChars += DecimalSeparators();
}

void TTzSpinEdit::TextChanged() {
    if (!textReflect_) return;
    value_ = TypedNumber(text()).value_or(0);
    setModified(true);
    if (OnChange) OnChange();
}

void TTzSpinEdit::SpinBy(double delta) {
    SetValue(value_ + delta);
    setFocus();
    selectAll();
    setModified(true);
    if (OnSpin) OnSpin();
}

void TTzSpinEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        if (event->key() == Qt::Key_Up) spin_->ClickUp(); else spin_->ClickDown();
        return;
    }
    const std::string typed = event->text().toStdString();
    const bool printable = !typed.empty() && static_cast<unsigned char>(typed[0]) >= 0x20 && typed[0] != 0x7f;
    if (printable && (typed.size() != 1 || AuthorizedChars.find(typed[0]) == std::string::npos)) {
        QApplication::beep();
        return;
    }
    // A number has one decimal separator: a second one would make it another number or none.
    const std::string separators = DecimalSeparators();
    const auto hasSeparator = [&](const QString& part) {
        return part.toStdString().find_first_of(separators) != std::string::npos;
    };
    if (printable && separators.find(typed[0]) != std::string::npos) {
        QString kept = text();
        if (hasSelectedText()) kept.remove(selectionStart(), selectedText().size());
        if (hasSeparator(kept)) {
            QApplication::beep();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TTzSpinEdit::focusOutEvent(QFocusEvent* event) {
    SetValue(value_);
    QLineEdit::focusOutEvent(event);
}
