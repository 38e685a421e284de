#pragma once
// A label for a text that a picture brings (its name, its colours): it takes the room the window
// gives it and never asks for more, so that no picture changes the window's size. A text too long
// for that room is shortened with an ellipsis and shown whole as the tooltip.
#include <QLabel>

class TElidedLabel : public QLabel {
public:
    explicit TElidedLabel(QWidget* parent = nullptr);
    void SetFullText(const QString& text);
    // The room of the whole text, so that the layout gives it that where it can.
    QSize sizeHint() const override;
    // The room of an ellipsis: a long text never widens the window.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Elide();
    QString full_;
};
