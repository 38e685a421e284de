// Window managers write a window's title in its bar, cut to the window's width.
#pragma once

class QWidget;

// The width at which the bar shows the window's whole title as the platform writes it (the program's
// name after another title), in a bold font beside an icon and three buttons of a bar's height.
int TitleRoomWidth(const QWidget& window);
