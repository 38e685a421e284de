#include "imaging/view/KVWindowHelpers.h"

#include <QAbstractScrollArea>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <vector>

std::function<void(QWidget* window)> KVPlaceDialogHook;

QWidget* KVFindOwnerWindow(QObject* component) {
    for (QObject* object = component; object; object = object->parent())
        if (auto* widget = qobject_cast<QWidget*>(object)) return widget;
    return nullptr;
}

void KVGiveFocusTo(QWidget* widget) {
    QMetaObject::invokeMethod(
        widget,
        [widget] {
            widget->window()->activateWindow();
            widget->setFocus(Qt::OtherFocusReason);
        },
        Qt::AutoConnection);
}

void KVPlaceDialog(QWidget* window) {
    if (KVPlaceDialogHook) {
        KVPlaceDialogHook(window);
        return;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!window || !screen) return;
    const QRect area = screen->geometry();
    const QRect frame = window->frameGeometry();
    window->move(area.left() + (area.width() - frame.width()) / 2, area.top() + (area.height() - frame.height()) / 3);
}

namespace {

QScrollBar* ScrollBarOf(QWidget* window, int bar) {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(window)) {
        if (bar == SB_HORZ) return area->horizontalScrollBar();
        if (bar == SB_VERT) return area->verticalScrollBar();
    }
    return bar == SB_CTL ? qobject_cast<QScrollBar*>(window) : nullptr;
}

std::vector<int> BarsOf(int bars) { return bars == SB_BOTH ? std::vector<int>{SB_HORZ, SB_VERT} : std::vector<int>{bars}; }

// Qt's maximum is the last position, Max - Page + 1, so the bar keeps Max and Page themselves.
constexpr char MaxProperty[] = "kvScrollMax";
constexpr char PageProperty[] = "kvScrollPage";

int RangeMax(const QScrollBar& bar) {
    const QVariant max = bar.property(MaxProperty);
    return max.isValid() ? max.toInt() : bar.maximum();
}

int Page(const QScrollBar& bar) { return bar.property(PageProperty).toInt(); }

void SetRangeAndPage(QScrollBar& bar, int min, int max, int page) {
    bar.setProperty(MaxProperty, max);
    bar.setProperty(PageProperty, page);
    bar.setRange(min, std::max(min, max - std::max(page - 1, 0)));
    bar.setPageStep(page);
}

}  // namespace

bool KVSetScrollRange(QWidget* window, int bar, int min, int max, bool) {
    QScrollBar* scrollBar = ScrollBarOf(window, bar);
    if (!scrollBar) return false;
    const QSignalBlocker quiet(scrollBar);
    SetRangeAndPage(*scrollBar, min, max, Page(*scrollBar));
    return true;
}

int KVSetScrollInfo(QWidget* window, int bar, const TScrollInfo& info, bool) {
    QScrollBar* scrollBar = ScrollBarOf(window, bar);
    if (!scrollBar) return 0;
    const QSignalBlocker quiet(scrollBar);
    const bool range = info.Mask & SIF_RANGE;
    SetRangeAndPage(*scrollBar, range ? info.Min : scrollBar->minimum(), range ? info.Max : RangeMax(*scrollBar),
                    info.Mask & SIF_PAGE ? info.Page : Page(*scrollBar));
    if (info.Mask & SIF_POS) scrollBar->setValue(info.Pos);
    return scrollBar->value();
}

int KVSetScrollPage(QWidget* window, int bar, int page, bool flat) {
    TScrollInfo info;
    info.Mask = SIF_PAGE;
    info.Page = page;
    return KVSetScrollInfo(window, bar, info, flat);
}

int KVSetScrollPos(QWidget* window, int bar, int pos, bool) {
    QScrollBar* scrollBar = ScrollBarOf(window, bar);
    if (!scrollBar) return 0;
    const QSignalBlocker quiet(scrollBar);
    const int previous = scrollBar->value();
    scrollBar->setValue(pos);
    return previous;
}

bool KVEnableScrollBar(QWidget* window, int bars, unsigned arrows, bool) {
    bool found = false;
    for (int bar : BarsOf(bars))
        if (QScrollBar* scrollBar = ScrollBarOf(window, bar)) {
            scrollBar->setEnabled(arrows != ESB_DISABLE_BOTH);
            found = true;
        }
    return found;
}

bool KVShowScrollBar(QWidget* window, int bars, bool show, bool) {
    bool found = false;
    for (int bar : BarsOf(bars)) {
        if (!ScrollBarOf(window, bar)) continue;
        found = true;
        // A scroll area shows its bars by policy; a lone bar is a widget like any other.
        const Qt::ScrollBarPolicy policy = show ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
        auto* area = qobject_cast<QAbstractScrollArea*>(window);
        if (area && bar == SB_HORZ) area->setHorizontalScrollBarPolicy(policy);
        else if (area && bar == SB_VERT) area->setVerticalScrollBarPolicy(policy);
        else window->setVisible(show);
    }
    return found;
}
