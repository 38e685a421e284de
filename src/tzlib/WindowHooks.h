#pragma once
// What the library asks of the program's windows. The library itself links no window system: the
// window part (tzlib/qt, InstallTzLibWindows) installs these hooks, as the GUI installs the canvas
// factory. Without them the library behaves as a program without windows: no messages to let run,
// no title, no cursor, 96 dots per inch and no progress forms.
#include <functional>
#include <string>

struct TWindowHooks {
    std::function<void()> processMessages = {};
    std::function<std::string()> applicationTitle = {};
    std::function<void()> setDefaultCursor = {};
    std::function<double()> screenDotsPerInch = {};
    std::function<void()> closeProgressForms = {};
    std::function<int(const std::function<int()>& showBox)> runWithProgressFormAside = {};
};

// Installs the hooks for the whole process; a hook left empty keeps its behaviour without windows.
void SetWindowHooks(TWindowHooks hooks);

// Lets pending window messages run.
void ProcessMessages();
// The application's title, shown as the caption of every box.
std::string ApplicationTitle();
// Drops every cursor shape set by the program, back to the default arrow.
void SetDefaultCursor();
double ScreenDotsPerInch();
// Closes every progress form, last first.
void CloseProgressForms();
// Runs a message box with the active progress form in the tray, and brings the form back afterwards.
int RunWithProgressFormAside(const std::function<int()>& showBox);
