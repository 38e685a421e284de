#pragma once
// Loads the picture the open dialog previews on a thread of its own, so that the dialog keeps taking
// keys while a large picture is read. Only the latest request counts: a newer one cancels the
// load under way and replaces any request that has not started yet.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class TIOParamsVals;
class TKestovaIO;
class TKVBitmap;

class TKVPreviewLoader {
public:
    struct TRequest {
        std::string path;
        int width = 0, height = 0;  // the size wanted of the picture
        bool autoAdjustDPI = false, filteredAdjustDPI = false;
    };
    struct TResult {
        TResult();
        ~TResult();
        uint64_t generation = 0;
        bool loaded = false;
        std::unique_ptr<TKVBitmap> picture;
        std::unique_ptr<TIOParamsVals> params;
    };
    // Both run on the loader's thread.
    using TProgress = std::function<void(uint64_t generation, int percent)>;
    using TDone = std::function<void(std::shared_ptr<TResult> result)>;

    TKVPreviewLoader(TProgress progress, TDone done);
    // Cancels the load under way and waits for the thread.
    ~TKVPreviewLoader();
    TKVPreviewLoader(const TKVPreviewLoader&) = delete;
    TKVPreviewLoader& operator=(const TKVPreviewLoader&) = delete;

    // Starts the request after cancelling any other; returns its generation.
    uint64_t Load(TRequest request);
    // Cancels the request under way; its result, if it still comes, carries an old generation.
    void Cancel();
    // The generation of the latest request: results of any other are stale.
    uint64_t Generation() const;

private:
    void Run();
    std::shared_ptr<TResult> Read(const TRequest& request, uint64_t generation);
    bool Cancelled(uint64_t generation) const;

    TProgress progress_;
    TDone done_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<TRequest> pending_;
    uint64_t generation_ = 0;
    bool stopping_ = false;
    TKestovaIO* running_ = nullptr;  // the load under way, to abort it
    std::thread thread_;
};
