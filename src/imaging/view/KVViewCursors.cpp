#include "imaging/view/KVViewCursors.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <utility>

namespace {

// A cross hair, with a small plus beside it for adding to a selection.
QCursor CrossCursor(bool add) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    for (const auto& [color, width] : {std::pair{Qt::white, 3}, std::pair{Qt::black, 1}}) {
        painter.setPen(QPen(color, width));
        painter.drawLine(15, 4, 15, 26);
        painter.drawLine(4, 15, 26, 15);
        if (add) {
            painter.drawLine(24, 20, 24, 28);
            painter.drawLine(20, 24, 28, 24);
        }
    }
    return QCursor(pixmap, 15, 15);
}

// An open hand with a plus beside it.
QCursor HandAddCursor() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    for (int finger = 0; finger < 4; ++finger) painter.drawRoundedRect(QRectF(7 + 3.5 * finger, 3, 3, 12), 1.5, 1.5);
    painter.drawRoundedRect(QRectF(3, 12, 6, 3), 1.5, 1.5);
    painter.drawRoundedRect(QRectF(7, 10, 14, 11), 3, 3);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(25, 20, 25, 28);
    painter.drawLine(21, 24, 29, 24);
    return QCursor(pixmap, 13, 12);
}

}  // namespace

QCursor KVViewCursor(int number) {
    switch (number) {
        case kvcrView: return QCursor(Qt::OpenHandCursor);
        case kvcrScrolling: return QCursor(Qt::ClosedHandCursor);
        case kvcrSizeNWSE: return QCursor(Qt::SizeFDiagCursor);
        case kvcrSizeNS: return QCursor(Qt::SizeVerCursor);
        case kvcrSizeNESW: return QCursor(Qt::SizeBDiagCursor);
        case kvcrSizeWE: return QCursor(Qt::SizeHorCursor);
        case kvcrMove: return QCursor(Qt::SizeAllCursor);
        case kvcrViewAdd: return HandAddCursor();
        case kvcrCross: return CrossCursor(false);
        case kvcrCrossAdd: return CrossCursor(true);
        default: return QCursor(Qt::ArrowCursor);
    }
}

int KVAddModeCursor(int number) {
    if (number == kvcrView) return kvcrViewAdd;
    if (number == kvcrCross) return kvcrCrossAdd;
    return number;
}
