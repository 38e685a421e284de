#pragma once
// What the format-driver tests share: a record and progress record to call a driver with, a
// pattern picture to encode, and the decoded bitmap in the form the independent tools print.
#include <algorithm>
#include <atomic>
#include <string>

#include "TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/core/KVProgress.h"
#include "platform/Classes.h"

// One driver call's record, progress record and abort flag.
struct TDriverCall {
    TIOParamsVals params{nullptr};
    std::atomic<bool> abortFlag{false};
    TKVProgressRec progress;
    TDriverCall() { progress.AbortFlag = &abortFlag; }
    bool Aborted() const { return abortFlag.load(); }
};

// A picture of smooth gradients and a few hard edges, so that lossy and lossless codecs both
// have something to get wrong.
TRgbImage PatternImage(int width, int height);
std::string PpmBytes(const TRgbImage& image);
// Fills a kv24RGB bitmap with the image.
void ImageToBitmap(const TRgbImage& image, TKVBitmap& bitmap);
// Any bitmap as red, green, blue.
TRgbImage BitmapToImage(TKVBitmap& bitmap);
// Largest difference of one sample; -1 when the sizes differ.
int MaxDifference(const TRgbImage& a, const TRgbImage& b);
// Mean absolute difference of the samples; a large value when the sizes differ.
double MeanDifference(const TRgbImage& a, const TRgbImage& b);

// A memory stream holding the bytes.
void LoadBytes(TMemoryStream& stream, const std::string& bytes);
std::string StreamBytes(const TMemoryStream& stream);

// Takes the first capacity bytes written, then no more: a full disk.
class TFullStream : public TMemoryStream {
public:
    explicit TFullStream(int64_t capacity) : capacity_(capacity) {}
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t taken = std::max<int64_t>(0, std::min(count, capacity_ - Size()));
        return taken > 0 ? TMemoryStream::Write(buffer, taken) : 0;
    }

private:
    int64_t capacity_;
};
