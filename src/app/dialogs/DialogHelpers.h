#pragma once
// How the dialogs run their handlers: an error a handler raises is shown and stops only that
// handler, as the class library shows the errors of event handlers. And how windows take their
// size from their content.
#include <QSize>
#include <functional>

class QRadioButton;
class QWidget;

// The handler runs, guarded, each time the control loses the keyboard focus.
void OnExit(QWidget* control, std::function<void()> handler);
// The handler runs, guarded, each time the button becomes checked, by the user or by code.
void OnCheck(QRadioButton* button, std::function<void()> handler);

// The window takes the size it was drawn with at 96 dpi, scaled to the screen and grown where its
// content needs more room (larger fonts, longer texts, word-wrapped labels at the window's width),
// now and whenever its content changes. The user does not resize it.
void FitToContents(QWidget* window, QSize drawn);
// A control hidden in some states keeps its room, so that the window keeps its size in every state.
void KeepRoomWhenHidden(QWidget* widget);
