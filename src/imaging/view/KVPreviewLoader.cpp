#include "imaging/view/KVPreviewLoader.h"

#include <algorithm>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KestovaIO.h"

TKVPreviewLoader::TResult::TResult() = default;
TKVPreviewLoader::TResult::~TResult() = default;

TKVPreviewLoader::TKVPreviewLoader(TProgress progress, TDone done)
    : progress_(std::move(progress)), done_(std::move(done)), thread_([this] { Run(); }) {}

TKVPreviewLoader::~TKVPreviewLoader() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        ++generation_;
        if (running_) running_->AbortFlag = true;
    }
    wake_.notify_one();
    thread_.join();
}

uint64_t TKVPreviewLoader::Load(TRequest request) {
    uint64_t generation;
    {
        const std::lock_guard lock(mutex_);
        generation = ++generation_;
        pending_ = std::move(request);
        if (running_) running_->AbortFlag = true;
    }
    wake_.notify_one();
    return generation;
}

void TKVPreviewLoader::Cancel() {
    const std::lock_guard lock(mutex_);
    ++generation_;
    pending_.reset();
    if (running_) running_->AbortFlag = true;
}

uint64_t TKVPreviewLoader::Generation() const {
    const std::lock_guard lock(mutex_);
    return generation_;
}

bool TKVPreviewLoader::Cancelled(uint64_t generation) const { return Generation() != generation; }

void TKVPreviewLoader::Run() {
    for (;;) {
        TRequest request;
        uint64_t generation;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (stopping_) return;
            request = std::move(*pending_);
            pending_.reset();
            generation = generation_;
        }
        std::shared_ptr<TResult> result = Read(request, generation);
        if (!Cancelled(generation)) done_(std::move(result));
    }
}

// A failure of any kind leaves the result not loaded: the pane then shows nothing.
std::shared_ptr<TKVPreviewLoader::TResult> TKVPreviewLoader::Read(const TRequest& request, uint64_t generation) {
    auto result = std::make_shared<TResult>();
    result->generation = generation;
    TKestovaIO io;
    TKVBitmap bitmap;
    io.AttachBitmap(&bitmap);
    io.OnProgress = [&](TObject*, int percent) { progress_(generation, std::clamp(percent, 0, 100)); };
    {
        const std::lock_guard lock(mutex_);
        if (generation_ != generation) return result;
        running_ = &io;
    }
    try {
        io.AutoAdjustDPI = request.autoAdjustDPI;
        io.FilteredAdjustDPI = request.filteredAdjustDPI;
        io.Params().JpegScale = 0;
        io.Params().Width = request.width;
        io.Params().Height = request.height;
        io.LoadFromFile(request.path);
        result->loaded = !io.AbortFlag && io.Params().FileType != kvftNone;
        if (result->loaded) {
            result->params = std::make_unique<TIOParamsVals>(nullptr);
            result->params->Assign(io.Params());
            result->picture = std::make_unique<TKVBitmap>();
            bitmap.MoveStorageTo(*result->picture);
        }
    } catch (const std::exception&) {
        result->loaded = false;
    }
    const std::lock_guard lock(mutex_);
    running_ = nullptr;
    return result;
}
