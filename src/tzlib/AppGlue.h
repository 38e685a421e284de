#pragma once
// The few things the library asks of the running application object. Each does nothing useful
// when there is no Qt application (plain command-line use and most tests).
#include <string>

// Lets pending window messages run.
void ProcessMessages();
// The application's title, shown as the caption of every box.
std::string ApplicationTitle();
// Drops every cursor shape set by the program, back to the default arrow.
void SetDefaultCursor();
