#pragma once
// The conversion the command line asks for with "/B" or a switch other than "/W": no window, the
// user's settings, the installed prompter for every question and box.
#include "app/engine/CommandLine.h"

// The title of every box of the program.
inline constexpr const char* ProgramTitle = "Brelvant Mordale";

// Converts the command line's pictures, shows each failure in a box, names every picture that
// did not become a document, saves the settings; returns the exit status.
TExitStatus RunUnattended(const TCommandLine& command);
