#pragma once
// Starting programs of the desktop without a shell in between.
#include <string>
#include <vector>

// Starts the program with the arguments, detached; raises Exception when it cannot be started.
void StartDetached(const std::vector<std::string>& argv);
// True when a graphical display is available (DISPLAY or WAYLAND_DISPLAY set).
bool HasDisplay();
