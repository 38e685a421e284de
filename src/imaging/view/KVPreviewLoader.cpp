#include "imaging/view/KVPreviewLoader.h"

#include <algorithm>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KestovaIO.h"

namespace {

QImage ToQImage(TKVBitmap& bitmap) {
    QImage image(bitmap.GetWidth(), bitmap.GetHeight(), QImage::Format_RGB32);
    TKVAccessScope readOnly(bitmap, kvaRead);
    for (int y = 0; y < image.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const TKVRGB p = bitmap.GetPixelRGB(x, y);
            out[x] = qRgb(p.r, p.g, p.b);
        }
    }
    return image;
}

}  // namespace

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
    const int frames = std::max(request.frames, 1);
    int frame = 0;
    io.OnProgress = [&](TObject*, int percent) {
        progress_(generation, (frame * 100 + std::clamp(percent, 0, 100)) / frames);
    };
    {
        const std::lock_guard lock(mutex_);
        if (generation_ != generation) return result;
        running_ = &io;
    }
    try {
        for (; frame < frames && !Cancelled(generation); ++frame) {
            io.Params().JpegScale = 0;
            io.Params().Width = request.width;
            io.Params().Height = request.height;
            io.Params().SetImageIndex(frame);
            io.LoadFromFile(request.path);
            if (io.AbortFlag || io.Params().FileType == kvftNone) break;
            if (request.frames > 1)
                result->thumbnails.push_back(ToQImage(bitmap).scaled(request.width, request.height, Qt::KeepAspectRatio,
                                                                     Qt::SmoothTransformation));
        }
        result->loaded = request.frames > 1 ? !result->thumbnails.empty() : frame == 1;
        if (result->loaded) {
            result->params = std::make_unique<TIOParamsVals>(nullptr);
            result->params->Assign(io.Params());
            if (request.frames <= 1) {
                result->picture = std::make_unique<TKVBitmap>();
                bitmap.MoveStorageTo(*result->picture);
            }
        }
    } catch (const std::exception&) {
        result->loaded = false;
    }
    const std::lock_guard lock(mutex_);
    running_ = nullptr;
    return result;
}
