#pragma once
// The thumbnail view's pool of background loads. A thread of its own starts at most the view's
// pool size of asynchronous loads of input/output components at once from a queue of entries; each
// load finishes on its component's thread and stores the picture into the entry it was started
// for, or drops it when that entry is gone.
// The queue, the running loads and the entries' pictures are guarded by the library's lock, which
// is never held while waiting: an ended load is freed, and so waits for its thread, outside it.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

class TKestovaMView;

class TKVThumbLoader {
public:
    explicit TKVThumbLoader(TKestovaMView& view);
    // Cancels every load and waits until each has ended.
    ~TKVThumbLoader();
    TKVThumbLoader(const TKVThumbLoader&) = delete;
    TKVThumbLoader& operator=(const TKVThumbLoader&) = delete;

    // The rest is called holding the library's lock.
    bool IsQueuedOrRunning(uint64_t serial) const;
    void Enqueue(uint64_t serial);
    // Forgets queued entries that are neither visible nor looked ahead and cancels the running
    // loads of such entries.
    void Prune();
    void SetLookAhead(std::vector<uint64_t> serials) { lookAhead_ = std::move(serials); }
    bool IsLookAhead(uint64_t serial) const;
    int Pending() const;

    // Called without the lock: cancels everything and returns once no load runs any more.
    void StopAll();

private:
    struct TLoad;
    using TLoads = std::vector<std::unique_ptr<TLoad>>;

    void Run();
    void StartNext();
    void Finish(TLoad& load);
    bool Wanted(uint64_t serial) const;
    // Under the lock: the loads that ended, for the caller to free once it left the lock.
    TLoads TakeEnded();
    void Wake();

    TKestovaMView& view_;
    std::vector<uint64_t> queue_;
    TLoads running_;
    std::vector<uint64_t> lookAhead_;
    std::condition_variable_any changed_;
    bool wakeRequested_ = false;
    bool terminated_ = false;
    std::thread thread_;
};
