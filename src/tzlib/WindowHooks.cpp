#include "tzlib/WindowHooks.h"

namespace {

TWindowHooks& Hooks() {
    static TWindowHooks hooks;
    return hooks;
}

}  // namespace

void SetWindowHooks(TWindowHooks hooks) { Hooks() = std::move(hooks); }

void ProcessMessages() {
    if (Hooks().processMessages) Hooks().processMessages();
}

std::string ApplicationTitle() { return Hooks().applicationTitle ? Hooks().applicationTitle() : std::string(); }

void SetDefaultCursor() {
    if (Hooks().setDefaultCursor) Hooks().setDefaultCursor();
}

double ScreenDotsPerInch() { return Hooks().screenDotsPerInch ? Hooks().screenDotsPerInch() : 96; }

void CloseProgressForms() {
    if (Hooks().closeProgressForms) Hooks().closeProgressForms();
}

int RunWithProgressFormAside(const std::function<int()>& showBox) {
    return Hooks().runWithProgressFormAside ? Hooks().runWithProgressFormAside(showBox) : showBox();
}
