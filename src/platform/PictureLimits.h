#pragma once
// The one set of limits that every picture reader checks before it allocates from sizes read in a
// file: a hostile header of a few bytes must not claim gigabytes. Tests may lower them.
#include <cstdint>
#include <string>

struct TPictureLimits {
    int64_t maxSide = int64_t(1) << 20;       // pixels along either side
    int64_t maxPixels = int64_t(1) << 29;     // width x height
    // Decoded bytes allowed per byte of input once a picture is larger than freeBytes; real
    // compressors stay well under it (deflate's best is about 1032:1).
    int64_t maxDecodeRatio = 2048;
    int64_t freeBytes = int64_t(16) << 20;
};

// The limits in force; changed only by tests (TPictureLimitsOverride).
const TPictureLimits& PictureLimits();

// Why a picture of this size cannot be decoded, or an empty text when it can. inputBytes is the
// size of the data the picture is decoded from (-1 when unknown, which skips the ratio check).
std::string PictureSizeProblem(int64_t width, int64_t height, int bitsPerPixel, int64_t inputBytes);

// Throws EInvalidGraphic with the problem when PictureSizeProblem finds one.
void CheckPictureSize(int64_t width, int64_t height, int bitsPerPixel, int64_t inputBytes);

// Replaces the limits for its lifetime.
class TPictureLimitsOverride {
public:
    explicit TPictureLimitsOverride(const TPictureLimits& limits);
    ~TPictureLimitsOverride();
    TPictureLimitsOverride(const TPictureLimitsOverride&) = delete;
    TPictureLimitsOverride& operator=(const TPictureLimitsOverride&) = delete;

private:
    TPictureLimits saved_;
};
