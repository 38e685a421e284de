#pragma once
// A palette as a grid of swatches, 32 per row; a click picks the highlighted colour.
#include <QDialog>

#include "platform/Graphics.h"

class QPushButton;

class TKestovaPaletteDialog : public QDialog {
public:
    explicit TKestovaPaletteDialog(QWidget* parent = nullptr);

    // Entries of 3 bytes, blue, green, red; the caller's array must outlive the dialog.
    void SetPalette(const uint8_t* palette, int count);
    // True when a colour was picked.
    bool Execute();
    TColor SelectedColor = 0;
    int HoverIndex = -1;  // the highlighted entry, -1 when none
    QPushButton* CancelButton;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const uint8_t* palette_ = nullptr;
    int count_ = 0;
};
