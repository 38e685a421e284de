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

// The open hand with a plus below it.
QCursor HandAddCursor() {
    QPixmap pixmap = QCursor(Qt::OpenHandCursor).pixmap();
    if (pixmap.isNull()) return QCursor(Qt::OpenHandCursor);
    pixmap = pixmap.copy(0, 0, std::max(pixmap.width(), 32), std::max(pixmap.height(), 32));
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(pixmap.width() - 6, pixmap.height() - 12, pixmap.width() - 6, pixmap.height() - 2);
    painter.drawLine(pixmap.width() - 11, pixmap.height() - 7, pixmap.width() - 1, pixmap.height() - 7);
    return QCursor(pixmap);
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
