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

// Counts frames by the container's index where it keeps one, else by the duration divided by the
// average frame time, and seeks by frame time either way.
class TFFmpegMediaProvider : public TKVMediaProvider {
public:
    int Open(const std::string& fileName, TIOParamsVals& params) override {
        file_ = std::make_unique<TKVMediaFile>(fileName);
        const int64_t duration = file_->Duration();
        const int64_t indexed = file_->IndexedFrameCount();
        int64_t frameTime = file_->AvgTimePerFrame();
        if (frameTime <= 0 && indexed > 0) frameTime = duration / indexed;
        // A damaged file may still be measured; it counts as a video once its first frame decodes.
        TKVBitmap first;
        if (duration <= 0 || frameTime <= 0 || !file_->GetFrameAt(0, first)) return Fail();
        // A file shorter than one frame time still shows the one frame it holds.
        frameCount_ = std::clamp<int64_t>(indexed > 0 ? indexed : duration / frameTime, 1, INT_MAX);
        frameTime_ = frameTime;
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
        // A frame time from the file may be so long that the position would overflow.
        if (!file_ || index < 0 || index >= frameCount_ || frameTime_ > INT64_MAX / std::max(index, 1)) return false;
        if (!file_->GetFrameAt(index * frameTime_, bitmap)) return false;
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
