#pragma once
// What a person sees of a window: every visible label, field and button gets the room its text
// needs, and the window still looks as its stored reference picture, so that a change of layout
// shows in review.
#include <gtest/gtest.h>

#include <string>

class QWidget;

// Fails naming each visible label, field or button of the shown window that is smaller than its
// size hint (a word-wrapped label: narrower than its longest word or lower than its height for
// its width; a label that shortens its text with an ellipsis and holds it whole in its tooltip:
// narrower than the text it shows), that reaches outside one of its parents, or that overlaps
// another.
::testing::AssertionResult LaysOutFully(QWidget& window);

// The size part of that check for one label, field or button.
::testing::AssertionResult HasRoomForItsText(const QWidget& control);

// Saves the window as screenshots/<name>-<dpi>dpi.png in the working folder and compares it, in
// gray and at half size so that font smoothing does not count, with the reference of that name
// kept in the same form in tests/screenshots. A missing reference fails; with
// MORDALE_UPDATE_REFERENCES=1 in the environment the picture is stored as the reference instead.
::testing::AssertionResult LooksLikeReference(QWidget& window, const std::string& name);

// Both checks of one state of the shown window, after its pending layout work.
::testing::AssertionResult ShowsFully(QWidget& window, const std::string& name);
