#include "app/ConverterHost.h"

void THeadlessHost::BeginProgress(int maximum) {
    Maximum = maximum;
    Position = -1;
    InProgress = true;
    Abort = false;
}

void THeadlessHost::ProcessMessages() {
    ++PagesStarted;
    if (AbortAtPage > 0 && PagesStarted >= AbortAtPage) Abort = true;
}
