#include "imaging/view/KVThumbLoader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KVThumbStore.h"
#include "imaging/view/KestovaMView.h"

struct TKVThumbLoader::TLoad {
    uint64_t Serial = 0;
    std::string FileName;
    TKVStoreRule Rule;
    std::unique_ptr<TKVBitmap> Bitmap = std::make_unique<TKVBitmap>();
    // After the bitmap, so that it goes first: its destructor waits for its thread.
    std::unique_ptr<TKestovaIO> IO = std::make_unique<TKestovaIO>();
    std::atomic<bool> Cancelled{false};
    std::atomic<bool> FinishRan{false};
    bool Ended = false;  // under the lock
};

TKVThumbLoader::TKVThumbLoader(TKestovaMView& view) : view_(view) {}

TKVThumbLoader::~TKVThumbLoader() {
    StopAll();
    {
        std::lock_guard lock(KVGlobalLock);
        terminated_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    TLoads rest;
    std::lock_guard lock(KVGlobalLock);
    rest.swap(running_);
}

void TKVThumbLoader::Wake() {
    wakeRequested_ = true;
    changed_.notify_all();
}

bool TKVThumbLoader::IsQueuedOrRunning(uint64_t serial) const {
    if (std::find(queue_.begin(), queue_.end(), serial) != queue_.end()) return true;
    return std::any_of(running_.begin(), running_.end(),
                       [&](const auto& load) { return !load->Ended && !load->Cancelled && load->Serial == serial; });
}

void TKVThumbLoader::Enqueue(uint64_t serial) {
    queue_.push_back(serial);
    if (!thread_.joinable() && !terminated_) thread_ = std::thread([this] { Run(); });
    Wake();
}

bool TKVThumbLoader::IsLookAhead(uint64_t serial) const {
    return std::find(lookAhead_.begin(), lookAhead_.end(), serial) != lookAhead_.end();
}

bool TKVThumbLoader::Wanted(uint64_t serial) const {
    const int index = view_.IndexOfSerial(serial);
    return index >= 0 && (view_.IsEntryVisible(index) || IsLookAhead(serial));
}

int TKVThumbLoader::Pending() const {
    const auto live = std::count_if(running_.begin(), running_.end(), [](const auto& load) { return !load->Ended; });
    return int(queue_.size() + size_t(live));
}

TKVThumbLoader::TLoads TKVThumbLoader::TakeEnded() {
    const auto ended = std::stable_partition(running_.begin(), running_.end(), [](const auto& load) { return !load->Ended; });
    TLoads taken(std::make_move_iterator(ended), std::make_move_iterator(running_.end()));
    running_.erase(ended, running_.end());
    return taken;
}

void TKVThumbLoader::Prune() {
    std::erase_if(queue_, [this](uint64_t serial) { return !Wanted(serial); });
    for (auto& load : running_)
        if (!load->Cancelled && !Wanted(load->Serial)) {
            load->Cancelled = true;
            load->IO->AbortFlag = true;
        }
}

void TKVThumbLoader::Run() {
    std::unique_lock lock(KVGlobalLock);
    while (!terminated_) {
        Prune();
        if (TLoads ended = TakeEnded(); !ended.empty()) {
            lock.unlock();
            ended.clear();
            lock.lock();
        }
        while (!terminated_ && !queue_.empty() && int(running_.size()) < view_.ThreadPoolSize()) StartNext();
        const auto woken = [this] { return terminated_ || wakeRequested_; };
        // Ended loads are freed at the next pass, so a pass follows every end.
        if (queue_.empty() && running_.empty())
            changed_.wait(lock, woken);
        else
            changed_.wait_for(lock, std::chrono::milliseconds(50), woken);
        wakeRequested_ = false;
    }
}

void TKVThumbLoader::StartNext() {
    const uint64_t serial = queue_.front();
    queue_.erase(queue_.begin());
    const int index = view_.IndexOfSerial(serial);
    if (index < 0) return;
    auto load = std::make_unique<TLoad>();
    TLoad& started = *load;
    started.Serial = serial;
    started.FileName = view_.entries_[size_t(index)]->FileName;
    started.Rule = view_.StoreRule();
    started.IO->AttachBitmap(started.Bitmap.get());
    view_.SetLoadParams(*started.IO, *view_.entries_[size_t(index)]);
    running_.push_back(std::move(load));
    // The component loads on a thread of its own and ends by calling OnFinishWork there.
    started.IO->OnFinishWork = [this, &started](TObject*) { Finish(started); };
    started.IO->Asynchronous = true;
    try {
        started.IO->LoadFromFileAuto(started.FileName);
    } catch (const std::exception&) {
        // Raised before the load was handed to its thread: it ends here.
        started.IO->AbortFlag = true;
        if (!started.FinishRan) Finish(started);
    }
}

// On the load's own thread. The picture is reduced outside the lock; storing it, and the entry
// lookup that keeps it from reaching another entry, happen under it. Nothing of Qt is touched.
void TKVThumbLoader::Finish(TLoad& load) {
    load.FinishRan = true;
    const bool failed = load.IO->AbortFlag;
    std::unique_ptr<TKVBitmap> reduced;
    if (!failed && !load.Cancelled) {
        try {
            reduced = KVReducedForStore(*load.Bitmap, load.Rule);
        } catch (const std::exception&) {
        }
    }
    {
        std::lock_guard lock(KVGlobalLock);
        const int index = load.Cancelled ? -1 : view_.IndexOfSerial(load.Serial);
        if (index >= 0) {
            TKVMEntry& entry = *view_.entries_[size_t(index)];
            if (!failed)
                view_.TakeLoadResult(entry, *load.IO, reduced ? *reduced : *load.Bitmap);
            else if (!entry.Image)  // a picture stored meanwhile stays
                entry.LoadFailed = true;
            // Raised before the load counts as ended, so that no arrival is missed by a main
            // thread that sees no load pending.
            view_.arrived_ = true;
        }
        load.Ended = true;
        Wake();
    }
}

void TKVThumbLoader::StopAll() {
    TLoads ended;
    std::unique_lock lock(KVGlobalLock);
    queue_.clear();
    lookAhead_.clear();
    for (auto& load : running_) {
        load->Cancelled = true;
        load->IO->AbortFlag = true;
    }
    // However long a load takes, nothing may outlive what it writes into.
    changed_.wait(lock, [this] {
        return std::all_of(running_.begin(), running_.end(), [](const auto& load) { return load->Ended; });
    });
    ended = TakeEnded();
}
