#include "imaging/core/KVViewServices.h"

#include <algorithm>

int DefaultDpiX = 300, DefaultDpiY = 300;
int KVScreenDpiX = ScreenPixelsPerInch, KVScreenDpiY = ScreenPixelsPerInch;

TKVView::~TKVView() { CallChangeHandlers(true); }

TKVChangeEntry* TKVView::AddChangeHandler(TKVViewChangeHandler handler, TObject* component) {
    handlers_.push_back(std::make_unique<TKVChangeEntry>(TKVChangeEntry{std::move(handler), component}));
    return handlers_.back().get();
}

void TKVView::RemoveChangeHandler(TKVChangeEntry* entry) {
    std::erase_if(handlers_, [entry](const std::unique_ptr<TKVChangeEntry>& e) { return e.get() == entry; });
}

void TKVView::CallChangeHandlers(bool destroying) {
    // A handler may remove its own entry or another one while the list is walked.
    std::vector<TKVChangeEntry*> entries;
    for (const auto& e : handlers_) entries.push_back(e.get());
    for (TKVChangeEntry* entry : entries) {
        const bool present = std::any_of(handlers_.begin(), handlers_.end(),
                                         [entry](const std::unique_ptr<TKVChangeEntry>& e) { return e.get() == entry; });
        if (present && entry->Handler) entry->Handler(entry->Component, this, destroying);
    }
}
