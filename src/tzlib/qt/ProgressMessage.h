#pragma once
// Small non-modal windows that tell what a long operation is doing. A form can step aside into
// the system tray; message boxes send the visible one there while they are shown.
#include <cstdint>
#include <functional>
#include <string>

#include "tzlib/WindowHooks.h"

class TProgressMessage;  // the window, in ProgressMessageForm.h

// Called with the user value when the cancel button is pressed; clearing mayCancel keeps the form.
using TProgressCancelProc = std::function<void(int32_t userValue, bool& mayCancel)>;

// Nothing in silent mode or without a Qt application. Without a cancel routine the cancel button
// is hidden; a non-zero code gives the message line its error text.
TProgressMessage* CreateProgressMessage(int32_t code, TProgressCancelProc cancelProc, int32_t userValue);
// Each non-empty text replaces the stored one.
void SetTexts(TProgressMessage* form, const std::string& message, const std::string& detail,
              const std::string& progress);
void SendToTray(TProgressMessage* form);
void RestoreFromTray(TProgressMessage* form);
void RemoveTrayIcon(TProgressMessage* form);
void SetCancelVisible(TProgressMessage* form, bool visible);
// Closes and frees the form.
void CloseProgressForm(TProgressMessage* form);

// The first form, in creation order, that is not in the tray.
TProgressMessage* GetActiveProgressForm();
// What CloseProgressForms and RunWithProgressFormAside (tzlib/WindowHooks.h) do with windows;
// InstallTzLibWindows installs them.
void CloseAllProgressForms();
int RunWithActiveProgressFormAside(const std::function<int()>& showBox);
