#include "imaging/acquire/MediaProvider.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>

#include "imaging/acquire/MediaFile.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVVideoAndScanner.h"

namespace {

// Takes the frame count, and each frame by its index, from the media file.
class TFFmpegMediaProvider : public TKVMediaProvider {
public:
    int Open(const std::string& fileName, TIOParamsVals& params) override {
        file_ = std::make_unique<TKVMediaFile>(fileName);
        const int64_t duration = file_->Duration();
        const int64_t frames = file_->FrameCount();
        // A damaged file may still be measured; it counts as a video once its first frame decodes.
        TKVBitmap first;
        if (duration <= 0 || frames <= 0 || !file_->GetFrame(0, first)) return Fail();
        frameCount_ = std::min<int64_t>(frames, INT_MAX);
        const int64_t indexed = file_->IndexedFrameCount();
        frameTime_ = file_->AvgTimePerFrame() > 0 ? file_->AvgTimePerFrame() : duration / std::max<int64_t>(indexed, 1);
        indexed_ = indexed > 0;
        frameDelay_ = double(duration) / double(TKVMediaFile::Second) / double(frameCount_) * 100;
        params.MediaFrameCount = int(frameCount_);
        params.MediaFrameTime = int(std::nearbyint(frameDelay_));
        params.AviFrameDelay = 0;
        params.FileType = kvftNone;
        params.FileName = fileName;
        params.Width = file_->Width();
        params.Height = file_->Height();
        return int(frameCount_);
    }

    bool LoadFrame(int index, TKVBitmap& bitmap, TIOParamsVals& params) override {
        if (!file_ || index >= frameCount_ || !file_->GetFrame(index, bitmap)) return false;
        params.Width = bitmap.GetWidth();
        params.Height = bitmap.GetHeight();
        params.BitsPerSample = 8;
        params.SamplesPerPixel = 3;
        params.MediaFrameTime = int(std::nearbyint(frameDelay_));
        // Files that count their frames (AVI) also give the delay in whole milliseconds.
        if (indexed_) params.AviFrameDelay = int(frameTime_ / (TKVMediaFile::Second / 1000));
        return true;
    }

private:
    int Fail() {
        file_.reset();
        frameCount_ = 0;
        return 0;
    }

    std::unique_ptr<TKVMediaFile> file_;
    int64_t frameCount_ = 0;
    int64_t frameTime_ = 0;
    bool indexed_ = false;
    double frameDelay_ = 0;
};

}  // namespace

void InstallMediaProvider() {
    SetMediaProviderFactory([] { return std::make_unique<TFFmpegMediaProvider>(); });
}
