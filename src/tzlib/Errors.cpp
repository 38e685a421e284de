#include "tzlib/Errors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <thread>

#include "platform/Classes.h"
#include "platform/Prompter.h"
#include "platform/Warnings.h"
#include "tzlib/DateTime.h"
#include "tzlib/TextFormats.h"
#include "tzlib/WindowHooks.h"

TErrorTextFunc ErrorTextCallback = nullptr;
bool SilentMode = false;
bool ShowErrorCodes = false;
bool HaltOnFatal = true;
bool TraceErrors = false;
std::string TraceFileName;
std::string LogFileName;
bool ShowProgressForms = true;

namespace {

const char* const CrLf = "\r\n";
constexpr size_t MaxLogLine = 10000;
constexpr size_t MaxSameLineParam = 200;
constexpr int TraceAttempts = 11;

struct TErrorEntry {
    uint16_t code;
    const char* text;
};

constexpr TErrorEntry BuiltInTexts[] = {
    {2, "Internal error"},
    {3, "File corrupted"},
    {4, "File not found"},
    {5, "Can't open file"},
    {8, "Bad integer value"},
    {11, "File locked"},
    {12, "Can't load"},
    {15, "Can't create directory"},
    {16, "Bad software installation"},
    {17, "Directory not found"},
    {18, "Invalid keyword"},
    {20, "Abort current process"},
    {21, "Process aborted"},
    {27, "Bad numeric value"},
    {28, "Key not found in Configuration Parameters"},
    {29, "Value not found in Configuration Parameters"},
    {30, "Function not found in DLL"},
    {31, "Invalid value in Configuration Parameters"},
    {32, "This file already exists"},
    {37, "Language not supported"},
    {41, "Invalid parameter"},
    {46, "Bad boolean value"},
    {54, "Can't find Brelvant Dovrant configuration Parameters."},
    {55, "Searching for Brelvant Dovrant files..."},
    {56, "Brelvant Dovrant files were found !"},
    {57, "Bad software configuration"},
    {87, "The e-mail couldn't be sent"},
    {88, ">>> New <<<"},
    {96, "Bad value"},
    {111, "Invalid syntax"},
    {113, "Remote Dovrant settings don't allow to connect this computer as a local station"},
    {136, "Inconsistent script"},
    {501, "&Ok"},
    {502, "&Cancel"},
    {570, "&Yes"},
    {571, "&No"},
    {572, "Don't ask again"},
    {574, "Don't display this message again"},
    {610, "Overwrite file"},
    {1003, "Bad paper size"},
    {1120, "Invalid object handle"},
    {3718, "Abort"},
    {15015, "Invalid CD-ROM"},
};

// The text of a code from the installed lookup, else from the built-in table.
std::string ErrorTextOf(uint16_t code) { return ErrorTextCallback ? ErrorTextCallback(code) : BuiltInErrorText(code); }

// The value-parsing errors, too frequent and too harmless to trace.
bool IsTraced(int32_t code) { return code != 8 && code != 26 && code != 27 && code != 46; }

// Cuts to at most maxBytes without splitting a character.
std::string CutUtf8(std::string s, size_t maxBytes) {
    if (s.size() <= maxBytes) return s;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    s.resize(end);
    return s;
}

std::string ReplaceAllOf(std::string text, const std::string& find, const std::string& replacement) {
    for (size_t at = text.find(find); at != std::string::npos; at = text.find(find, at + replacement.size()))
        text.replace(at, find.size(), replacement);
    return text;
}

std::string AppendIfMissing(const std::string& text, const std::string& tail) {
    if (tail.empty() || text.ends_with('!') || text.ends_with('.') || text.ends_with(tail)) return text;
    return text + tail;
}

std::string LogLine(const std::string& text) {
    const std::string line = text.find(CrLf) != std::string::npos ? CrLf + text + CrLf + CrLf : text + CrLf;
    return CutUtf8(line, MaxLogLine);
}

std::string Stamp() { return "***** " + DateTimeToStr(Now()) + "\t"; }

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = ::write(fd, data.data() + done, data.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

enum class TLogAttempt { Written, Busy, Failed };

// Appends the entry to the log under an exclusive lock, writing the header into a new log.
// Busy while another writer holds the log.
TLogAttempt AppendToLog(const std::string& entry) {
    std::string text = entry;
    int fd = ::open(LogFileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(LogFileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) return TLogAttempt::Busy;  // another writer made it just now
        if (fd >= 0) {
            const std::string rule(20, '=');
            std::string header = LogLine(rule + " " + BaseName(LogFileName) + " " + rule);
            if (!SilentMode) header += LogLine(ApplicationTitle());
            text = header + text;
        }
    }
    if (fd < 0) return TLogAttempt::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return TLogAttempt::Busy;
    }
    WriteAll(fd, text);
    ::close(fd);
    return TLogAttempt::Written;
}

bool AppendToFile(const std::string& fileName, const std::string& text) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, text);
    return ::close(fd) == 0 && written;
}

// "errors.txt" with 3 gives "errors3.txt".
std::string NumberedFileName(const std::string& fileName, int number) {
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const size_t at = hasExtension ? dot : fileName.size();
    return fileName.substr(0, at) + std::to_string(number) + fileName.substr(at);
}

TMsgIcon IconOf(unsigned flags) {
    switch (flags & 0xF0) {
        case 0x10: return TMsgIcon::Error;
        case 0x20: return TMsgIcon::Question;
        case 0x30: return TMsgIcon::Warning;
        case 0x40: return TMsgIcon::Information;
        default: return TMsgIcon::None;
    }
}

TMsgButtons ButtonsOf(unsigned flags) {
    const unsigned buttons = flags & 0x0F;
    return buttons <= static_cast<unsigned>(TMsgButtons::RetryCancel) ? static_cast<TMsgButtons>(buttons)
                                                                       : TMsgButtons::Ok;
}

int ShowBox(const std::string& caption, const std::string& text, unsigned flags) {
    if (SilentMode) LogAndRaise(2, "CustomMsg");
    return RunWithProgressFormAside(
        [&] { return static_cast<int>(Prompter().MessageBox(caption, text, IconOf(flags), ButtonsOf(flags))); });
}

std::unique_ptr<TStringList>& CollectedList() {
    static std::unique_ptr<TStringList> list;
    return list;
}

}  // namespace

std::string BuiltInErrorText(uint16_t code) {
    for (const TErrorEntry& entry : BuiltInTexts)
        if (entry.code == code) return entry.text;
    return {};
}

std::string GetErrorText(int32_t code, const std::string& param, const std::string& suffix, bool withCode) {
    if (code == 0) return param;
    std::string text = ErrorTextOf(static_cast<uint16_t>(code));
    if (text.empty()) text = "Error " + std::to_string(code);
    text = ReplaceAllOf(ReplaceAllOf(text, "//", CrLf), "||", CrLf);
    if (param.empty()) {
        text = AppendIfMissing(text, suffix);
    } else if (CharacterCount(param) > MaxSameLineParam) {
        text = AppendIfMissing(text, suffix) + " :" + CrLf + AppendIfMissing(param, ".");
    } else {
        if (!text.ends_with('\n')) text += " : ";
        text += AppendIfMissing(param, suffix);
    }
    if (withCode && ErrorTextCallback)
        text += CrLf + std::string("[") + ErrorTextCallback(139) + " " + std::to_string(code) + "]";
    return text;
}

void RaiseBrelvantError(int32_t code, const std::string& param) {
    if (TraceErrors && IsTraced(code)) {
        TraceStamped("EBrelvantError");
        WriteTrace(GetErrorText(code, param, ".", true));
    }
    throw EBrelvantError(code, param, GetErrorText(code, param, "", ShowErrorCodes));
}

void LogAndRaise(int32_t code, const std::string& param) {
    WriteLog(std::string("Error:") + CrLf + "\"" + GetErrorText(code, param, ".", true) + "\"", true);
    RaiseBrelvantError(code, param);
}

void RaiseFatal(int32_t code, const std::string& param) {
    TraceStamped("RaiseFatal !!! " + GetErrorText(code, param, ".", true));
    if (SilentMode) LogAndRaise(code, param);
    CloseProgressForms();
    SetDefaultCursor();
    if (!HaltOnFatal) {
        AskOkCancel(code, param, false);
        return;
    }
    ShowMessageBox(GetErrorText(code, param, ".", ShowErrorCodes), 16);
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(EXIT_FAILURE);
}

void ShowErrorCode(int32_t code, const std::string& param) {
    if (SilentMode)
        WriteLog("Error: " + GetErrorText(code, param, ".", true), true);
    else
        ShowMessageBox(GetErrorText(code, param, ".", ShowErrorCodes), 16);
}

bool AskYesNo(int32_t code, const std::string& param) {
    return SilentMode || ShowMessageBox(GetErrorText(code, param, " ?", false), 36) == idYes;
}

bool AskOkCancel(int32_t code, const std::string& param, bool withCancel) {
    return SilentMode || ShowMessageBox(GetErrorText(code, param, ".", false), withCancel ? 49 : 48) == idOk;
}

// In silent mode the failure still leaves its trace in the log.
void ShowExceptionBox(const std::exception& e) {
    if (SilentMode) {
        WriteLog(std::string("Error: ") + e.what(), true);
        return;
    }
    CloseProgressForms();
    ShowMessageBox(e.what(), 16);
}

bool Guarded(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const std::exception& error) {
        ShowExceptionBox(error);
        return false;
    }
}

int ShowMessageBox(const std::string& text, unsigned flags) { return ShowBox(ApplicationTitle(), text, flags); }

TStringList* CollectedMessages() { return CollectedList().get(); }

void ResetCollectedMessages() { CollectedList() = std::make_unique<TStringList>(); }

void ShowCollectedMessages() {
    auto& list = CollectedList();
    if (SilentMode || !list) return;
    std::string text;
    for (int i = 0; i < list->Count(); ++i) text += (i ? CrLf : "") + list->Strings(i);
    ShowBox(ApplicationTitle() + std::string(24, ' '), text, 64);
    list.reset();
}

std::string GetLastWindowsErrorText() {
    return "[System: " + ReplaceAllOf(std::strerror(errno), CrLf, "") + "]";
}

void RaiseLastWindowsError(const std::string& param) {
    RaiseBrelvantError(2, param + ": \r" + GetLastWindowsErrorText());
}

void WriteLog(const std::string& text, bool stamped) {
    if (LogFileName.empty()) return;
    const std::string entry = stamped ? LogLine("") + LogLine("") + LogLine(Stamp() + text) : LogLine(text);
    // Waiting helps only while another writer holds the log; a log that cannot be opened at
    // all loses the entry at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (TLogAttempt attempt; (attempt = AppendToLog(entry)) == TLogAttempt::Busy;) {
        if (std::chrono::steady_clock::now() >= deadline) return;
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

namespace {

// The warnings of the libraries below this one go to its log, in every program that holds the log.
[[maybe_unused]] const bool LogsWarnings =
    (SetWarningSink([](const std::string& text) { WriteLog("Warning: " + text, true); }), true);

}  // namespace

void WriteTrace(const std::string& text) {
    if (TraceFileName.empty()) return;
    std::string failures;  // a note per file that failed, in the order they were tried
    for (int attempt = 0; attempt < TraceAttempts; ++attempt) {
        const std::string fileName = attempt == 0 ? TraceFileName : NumberedFileName(TraceFileName, attempt);
        if (AppendToFile(fileName, failures + text + CrLf)) return;
        failures += "Trace: " + ErrorTextOf(5) + " " + fileName + CrLf;
    }
}

void TraceStamped(const std::string& text) { WriteTrace(CrLf + (CrLf + Stamp()) + text); }
