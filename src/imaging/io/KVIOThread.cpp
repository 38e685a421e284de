#include "imaging/io/KVIOThread.h"

#include <algorithm>

#include "platform/DebugOutput.h"

TKVIOThreads::TKVIOThreads(std::function<void()> failed, std::function<void()> cancelled)
    : failed_(std::move(failed)), cancelled_(std::move(cancelled)) {}

TKVIOThreads::~TKVIOThreads() { Wait(false, {}); }

void TKVIOThreads::Start(TKVIOThreadKind kind, std::function<void()> operation) {
    JoinEnded();
    const std::lock_guard lock(mutex_);
    TThread& entry = running_.emplace_back();
    entry.kind = kind;
    entry.operation = std::move(operation);
    entry.turn = nextTurn_;
    try {
        entry.thread = std::thread([this, &entry] { Execute(entry); });
    } catch (...) {
        running_.pop_back();
        throw;
    }
    ++nextTurn_;
}

void TKVIOThreads::Execute(TThread& entry) {
    bool cancelled;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return turn_ == entry.turn; });
        cancelled = entry.cancelled;
    }
    try {
        if (cancelled) cancelled_();
        else entry.operation();
    } catch (...) {
        OutputDebugText("Exception in TKVIOThread.Execute");
        failed_();
    }
    // What the operation holds goes before the thread is unlisted, while its owner surely lives.
    entry.operation = nullptr;
    const std::lock_guard lock(mutex_);
    ++turn_;
    const auto self = std::find_if(running_.begin(), running_.end(), [&](const TThread& t) { return &t == &entry; });
    ended_.splice(ended_.end(), running_, self);
    // Told under the lock: a waiter that then frees the owner finds this thread done with it.
    changed_.notify_all();
}

bool TKVIOThreads::IsInside() const {
    const std::lock_guard lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(running_.begin(), running_.end(), [&](const TThread& t) { return t.thread.get_id() == self; });
}

std::vector<TKVIOThreadKind> TKVIOThreads::Kinds() const {
    const std::lock_guard lock(mutex_);
    std::vector<TKVIOThreadKind> kinds;
    for (const TThread& t : running_) kinds.push_back(t.kind);
    return kinds;
}

void TKVIOThreads::Wait(bool abort, const std::function<void()>& stop) {
    {
        std::unique_lock lock(mutex_);
        if (abort) {
            stop();
            for (TThread& t : running_)
                if (t.turn != turn_) t.cancelled = true;
        }
        changed_.wait(lock, [&] { return running_.empty(); });
        if (abort) stop();
    }
    JoinEnded();
}

void TKVIOThreads::JoinEnded() {
    std::list<TThread> ended;
    {
        const std::lock_guard lock(mutex_);
        ended.swap(ended_);
    }
    for (TThread& t : ended) t.thread.join();
}
