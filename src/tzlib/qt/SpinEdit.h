#pragma once
// A button that repeats its click while held, a focusable up/down pair of them, and a numeric
// edit with that pair at its right edge.
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>
#include <functional>
#include <optional>
#include <string>

class QTimer;

// A number as a person types it: digits, a leading "-" and one decimal separator, the locale's,
// a point or a comma; nothing for any other text.
std::optional<double> TypedNumber(const QString& text);

class TTimerSpeedButton : public QToolButton {
public:
    explicit TTimerSpeedButton(QWidget* parent = nullptr);
    bool AllowTimer = false;  // repeats while held
    bool FocusRect = false;   // draws the focus rectangle
    // One tick of the repeat timer; public so that tests drive the clock.
    void RepeatTick();
    // 0 while not repeating.
    int RepeatInterval() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* repeatTimer_ = nullptr;
};

class TSpinButton : public QWidget {
public:
    explicit TSpinButton(QWidget* parent = nullptr);
    TTimerSpeedButton* UpButton() const { return up_; }
    TTimerSpeedButton* DownButton() const { return down_; }
    TTimerSpeedButton* FocusedButton() const { return focused_; }
    void ClickUp();
    void ClickDown();
    // Takes the focus when a button is pressed; a guarded pointer, so a widget that goes
    // clears it.
    QPointer<QWidget> FocusControl;

    std::function<void()> OnUpClick;
    std::function<void()> OnDownClick;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void SetFocusedButton(TTimerSpeedButton* button);
    void ButtonPressed(TTimerSpeedButton* button);
    void PlaceButtons();
    TTimerSpeedButton* up_;
    TTimerSpeedButton* down_;
    TTimerSpeedButton* focused_;
};

class TTzSpinEdit : public QLineEdit {
public:
    explicit TTzSpinEdit(QWidget* parent = nullptr);

    std::string AuthorizedChars;
    bool DisplayZeroAsBlank = false;
    double Step = 1;

    double Value() const { return value_; }
    double MinValue() const { return minValue_; }
    double MaxValue() const { return maxValue_; }
    const std::string& Format() const { return format_; }
    // Clamps to the minimum and, when the maximum is not 0, to the maximum.
    void SetValue(double x);
    // SetValue without the change event.
    void SetValueSilent(double x);
    int GetAsInteger() const;
    void SetMinValue(double x);
    void SetMaxValue(double x);
    void SetFormat(const std::string& format);
    TSpinButton* SpinButton() const { return spin_; }

    // The edit's change event: the value changed by typing, spinning or SetValue.
    std::function<void()> OnChange;
    std::function<void()> OnSpin;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void TextChanged();
    void SpinBy(double delta);
    std::string DisplayText() const;
    void PlaceButtons();
    TSpinButton* spin_;
    std::string format_;
    double minValue_ = 0;
    double maxValue_ = 0;
    double value_ = 0;
    bool textReflect_ = true;
    bool silent_ = false;
};
