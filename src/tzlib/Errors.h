#pragma once
// Numbered errors and the one way the program reports them: raised as EBrelvantError, shown in a
// box, or, in silent mode, written to a log file. Texts come from a built-in English table that
// the application may replace by installing its own lookup.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "platform/Exception.h"

class TStringList;

class EBrelvantError : public Exception {
public:
    EBrelvantError(int32_t errorCode, std::string errorParam, std::string message)
        : Exception(std::move(message)), ErrorCode(errorCode), ErrorParam(std::move(errorParam)) {}
    int32_t ErrorCode;
    std::string ErrorParam;
};

// The text of a code, empty for a code the lookup does not hold.
using TErrorTextFunc = std::string (*)(uint16_t code);

// The text of a code in the built-in English table.
std::string BuiltInErrorText(uint16_t code);

// Library settings; the application sets them before use.
extern TErrorTextFunc ErrorTextCallback;  // when set, the only source of texts
extern bool SilentMode;                   // no boxes: messages go to the log
extern bool ShowErrorCodes;               // label texts with their code (only with a lookup)
extern bool HaltOnFatal;
extern bool TraceErrors;
extern std::string TraceFileName;
extern std::string LogFileName;
extern bool ShowProgressForms;  // false: new progress forms start in the tray

// The message of a code and its parameter; suffix "." for boxes and logs, " ?" for questions.
std::string GetErrorText(int32_t code, const std::string& param, const std::string& suffix, bool withCode);

[[noreturn]] void RaiseBrelvantError(int32_t code, const std::string& param);
[[noreturn]] void LogAndRaise(int32_t code, const std::string& param);
// Shows the error and ends the process (HaltOnFatal), or warns and returns.
void RaiseFatal(int32_t code, const std::string& param);

void ShowErrorCode(int32_t code, const std::string& param);
bool AskYesNo(int32_t code, const std::string& param);
bool AskOkCancel(int32_t code, const std::string& param, bool withCancel);
void ShowExceptionBox(const std::exception& e);
// Runs the action and shows its error in a box; false when it failed.
bool Guarded(const std::function<void()>& action);
// Shows a box with the platform's flags (icon 16/32/48/64 plus buttons 0-5); returns the answer.
int ShowMessageBox(const std::string& text, unsigned flags);

// A process-wide list of lines that callers fill and then show in one information box; none
// until ResetCollectedMessages.
TStringList* CollectedMessages();
void ResetCollectedMessages();
void ShowCollectedMessages();

// "[System: " + the text of the last failed call's errno + "]".
std::string GetLastWindowsErrorText();
[[noreturn]] void RaiseLastWindowsError(const std::string& param);

void WriteLog(const std::string& text, bool stamped);
void WriteTrace(const std::string& text);
void TraceStamped(const std::string& text);
