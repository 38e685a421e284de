#include "app/engine/ConverterHost.h"

#include "imaging/io/KestovaIO.h"

THeadlessHost::THeadlessHost() : io_(std::make_unique<TKestovaIO>()) {}

THeadlessHost::~THeadlessHost() = default;

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
