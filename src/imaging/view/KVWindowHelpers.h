#pragma once
// Window helpers of the views: owner windows, dialog placement and scroll-bar calls.
#include <functional>

class QObject;
class QWidget;

// The nearest widget among the component and its parents; nullptr when there is none.
QWidget* KVFindOwnerWindow(QObject* component);

// Activates the widget's window and gives the widget the keyboard focus, on the widget's own
// thread: at once from it, later from any other.
void KVGiveFocusTo(QWidget* widget);

// When set, KVPlaceDialog hands every window to it instead of placing it.
extern std::function<void(QWidget* window)> KVPlaceDialogHook;
// Moves the window, keeping its size, to the middle of the primary screen across and a third
// of the way down.
void KVPlaceDialog(QWidget* window);

// Scroll bars are addressed as on the original platform: a scroll area's horizontal or
// vertical bar, or a scroll bar itself (SB_CTL).
enum : int { SB_HORZ = 0, SB_VERT = 1, SB_CTL = 2, SB_BOTH = 3 };
// Qt enables or disables a bar as a whole, so disabling one arrow keeps the bar enabled.
enum : unsigned { ESB_ENABLE_BOTH = 0, ESB_DISABLE_LTUP = 1, ESB_DISABLE_RTDN = 2, ESB_DISABLE_BOTH = 3 };
enum : unsigned { SIF_RANGE = 1, SIF_PAGE = 2, SIF_POS = 4 };

// As on the original platform the position runs from Min to Max - Page + 1.
struct TScrollInfo {
    unsigned Mask = 0;
    int Min = 0;
    int Max = 0;
    int Page = 0;
    int Pos = 0;
};

// Setting a bar from code reports no scrolling, as on the original platform. A window without
// the bar asked for makes these calls fail (false, or position 0). `flat` chose between two
// kinds of scroll bar there; Qt has one, so it changes nothing.
bool KVSetScrollRange(QWidget* window, int bar, int min, int max, bool flat);
// The position afterwards.
int KVSetScrollInfo(QWidget* window, int bar, const TScrollInfo& info, bool flat);
int KVSetScrollPage(QWidget* window, int bar, int page, bool flat);
// The position before.
int KVSetScrollPos(QWidget* window, int bar, int pos, bool flat);
bool KVEnableScrollBar(QWidget* window, int bars, unsigned arrows, bool flat);
bool KVShowScrollBar(QWidget* window, int bars, bool show, bool flat);
