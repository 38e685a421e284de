#include "TestSupport.h"

#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/TextFormats.h"

void TLibrarySettingsGuard::Reset() {
    ErrorTextCallback = nullptr;
    SilentMode = false;
    ShowErrorCodes = false;
    HaltOnFatal = true;
    TraceErrors = false;
    TraceFileName.clear();
    LogFileName.clear();
    ShowProgressForms = true;
    CopyProgressProc = nullptr;
    CopyBytesTotal = 0;
    CopyBytesDone = 0;
    CopyAbort = false;
    ListFilesAbort = false;
    ThousandsGap = " ";
    FirstDayOfWeek = 1;
    PeriodSeparator = '-';
}

TScriptedPrompterGuard::TScriptedPrompterGuard() {
    auto prompter = std::make_unique<TScriptedPrompter>();
    prompter_ = prompter.get();
    previous_ = SetPrompter(std::move(prompter));
}

TScriptedPrompterGuard::~TScriptedPrompterGuard() { SetPrompter(std::move(previous_)); }

int32_t ErrorCodeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EBrelvantError& e) {
        return e.ErrorCode;
    }
    return 0;
}
