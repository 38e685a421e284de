#include "imaging/view/KVPaletteDialog.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

namespace {

constexpr int Columns = 32;
constexpr int Cell = 16;

// The swatch under a point, -1 outside the grid: a point left of or above the form, or right of
// the last column, is none (it would otherwise wrap into a neighbouring row).
int IndexAt(QPoint point) {
    if (point.x() < 0 || point.y() < 0) return -1;
    const int column = (point.x() - 1) / Cell;
    if (column >= Columns) return -1;
    return (point.y() - 1) / Cell * Columns + column;
}

}  // namespace

TKestovaPaletteDialog::TKestovaPaletteDialog(QWidget* parent)
    : QDialog(parent), CancelButton(new QPushButton("&Cancel", this)) {
    setWindowTitle("Palette");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(520, 199);
    setMouseTracking(true);
    CancelButton->move(4, 136);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TKestovaPaletteDialog::SetPalette(const uint8_t* palette, int count) {
    palette_ = palette;
    count_ = count;
}

bool TKestovaPaletteDialog::Execute() { return exec() == Accepted; }

void TKestovaPaletteDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < count_; ++i) {
        const uint8_t* bgr = palette_ + i * 3;
        painter.setBrush(QColor(bgr[2], bgr[1], bgr[0]));
        painter.setPen(i == HoverIndex ? Qt::black : Qt::white);
        // The rectangle from (x + 1, y + 1) to (x + 16, y + 16), its right and bottom edges excluded.
        painter.drawRect(i % Columns * Cell + 1, i / Columns * Cell + 1, Cell - 2, Cell - 2);
    }
}

void TKestovaPaletteDialog::mouseMoveEvent(QMouseEvent* event) {
    const int index = IndexAt(event->position().toPoint());
    if (index < 0 || index >= count_ || index == HoverIndex) return;
    HoverIndex = index;
    repaint();
}

void TKestovaPaletteDialog::mouseReleaseEvent(QMouseEvent* event) {
    // Before any swatch was highlighted there is no colour to take.
    if (event->button() != Qt::LeftButton || HoverIndex < 0) return;
    const uint8_t* bgr = palette_ + HoverIndex * 3;
    SelectedColor = bgr[2] | bgr[1] << 8 | bgr[0] << 16;
    accept();
}
