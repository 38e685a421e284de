#include "platform/qt/TitleRoom.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QWidget>

int TitleRoomWidth(const QWidget& window) {
    QString title = window.windowTitle();
    const QString program = QGuiApplication::applicationDisplayName();
    if (!program.isEmpty() && title != program) title += QString::fromUtf8(" \u2014 ") + program;
    QFont font = window.font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) + 4 * 2 * metrics.height();
}
