// What a view tells as the pointer comes in, moves inside, goes out and comes back, for each of
// the image views.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>
#include <string>
#include <vector>

template <class TView>
std::vector<std::string> PointerEnterLeaveEvents() {
    QWidget window;
    window.resize(300, 300);
    auto* view = new TView(&window);
    view->setGeometry(100, 100, 100, 100);
    std::vector<std::string> log;
    view->OnMouseEnter = [&] { log.push_back("enter"); };
    view->OnMouseLeave = [&] { log.push_back("leave"); };
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return {"never shown"};
    // On a real display the pointer's events arrive a little later.
    const auto moveTo = [&](QWidget* widget, QPoint point, size_t events) {
        QTest::mouseMove(widget, point);
        QElapsedTimer timer;
        timer.start();
        while (log.size() < events && timer.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    moveTo(&window, QPoint(20, 20), 0);
    moveTo(&window, QPoint(150, 150), 1);
    moveTo(view->viewport(), QPoint(30, 40), 1);  // still inside
    moveTo(&window, QPoint(250, 250), 2);
    moveTo(&window, QPoint(150, 150), 3);
    return log;
}
