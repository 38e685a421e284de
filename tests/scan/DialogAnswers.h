#pragma once
// Answers a modal dialog once it shows, as a person at the screen would.
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>

inline void WhenShown(const std::function<void(QDialog&)>& answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) return WhenShown(answer);
        answer(*dialog);
    });
}
