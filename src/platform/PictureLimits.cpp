#include "PictureLimits.h"

#include <algorithm>

#include "platform/Exception.h"

namespace {
TPictureLimits& Current() {
    static TPictureLimits limits;
    return limits;
}
}  // namespace

const TPictureLimits& PictureLimits() { return Current(); }

std::string PictureSizeProblem(int64_t width, int64_t height, int bitsPerPixel, int64_t inputBytes) {
    const TPictureLimits& limits = Current();
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) return "picture size " + size + " is empty";
    if (width > limits.maxSide || height > limits.maxSide)
        return "picture size " + size + " exceeds the largest side of " + std::to_string(limits.maxSide);
    if (width > limits.maxPixels / height)
        return "picture size " + size + " exceeds " + std::to_string(limits.maxPixels) + " pixels";
    const int64_t bytes = (width * height * std::max(bitsPerPixel, 1) + 7) / 8;
    if (inputBytes >= 0 && bytes > limits.freeBytes && bytes / limits.maxDecodeRatio > inputBytes)
        return "picture size " + size + " cannot come from " + std::to_string(inputBytes) + " bytes of data";
    return {};
}

void CheckPictureSize(int64_t width, int64_t height, int bitsPerPixel, int64_t inputBytes) {
    const std::string problem = PictureSizeProblem(width, height, bitsPerPixel, inputBytes);
    if (!problem.empty()) throw EInvalidGraphic(problem);
}

TPictureLimitsOverride::TPictureLimitsOverride(const TPictureLimits& limits) : saved_(Current()) { Current() = limits; }
TPictureLimitsOverride::~TPictureLimitsOverride() { Current() = saved_; }
