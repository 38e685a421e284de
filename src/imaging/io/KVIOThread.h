#pragma once
// The background threads of one input/output component. Every started operation gets a thread of
// its own, but they take turns: one operation at a time, in the order started, so that the work
// bitmap and the parameter record they share are never written by two at once.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

// The argument shape of a background operation (kinds 3 and 7 are unused).
enum TKVIOThreadKind : uint8_t {
    kvtkFile = 0,           // a file name
    kvtkStream = 1,         // a stream
    kvtkFileCount = 2,      // a file name; the operation counts pages or frames
    kvtkStreamCount = 4,    // a stream; the same
    kvtkFileFormat = 5,     // a file name and a type
    kvtkStreamFormat = 6,   // a stream and a type
    kvtkFrame = 8,          // a frame index
    kvtkMetafile = 9,       // a file name, a size and an alpha flag
    kvtkURL = 10,           // an address
    kvtkAcquire = 11,       // an acquisition source
};

class TKVIOThreads {
public:
    // failed runs on the thread after its operation raised; cancelled instead of an operation that
    // a wait with abort overtook before its turn. Neither may raise.
    TKVIOThreads(std::function<void()> failed, std::function<void()> cancelled);
    // Waits for every thread.
    ~TKVIOThreads();
    TKVIOThreads(const TKVIOThreads&) = delete;
    TKVIOThreads& operator=(const TKVIOThreads&) = delete;

    // Lists a new thread that runs the operation once its turn comes.
    void Start(TKVIOThreadKind kind, std::function<void()> operation);
    // True on one of the listed threads.
    bool IsInside() const;
    // The kinds of the listed threads, in the order they run.
    std::vector<TKVIOThreadKind> Kinds() const;
    // Returns once no thread is listed. With abort, stop() runs at once and again at the end, and
    // the operations still waiting for their turn are cancelled.
    void Wait(bool abort, const std::function<void()>& stop);

private:
    struct TThread {
        TKVIOThreadKind kind;
        std::function<void()> operation;
        uint64_t turn = 0;
        bool cancelled = false;
        std::thread thread;
    };
    void Execute(TThread& entry);
    // Joins the threads that have left the list.
    void JoinEnded();

    std::function<void()> failed_, cancelled_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::list<TThread> running_;
    std::list<TThread> ended_;
    uint64_t nextTurn_ = 0, turn_ = 0;
};
