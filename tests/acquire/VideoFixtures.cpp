#include "VideoFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "imaging/core/KVBitmap.h"

std::string MakeClip(const TScratchFolder& folder, const std::string& name, int rate, int frames,
                     const std::string& options) {
    const std::string path = folder.Path(name);
    const TCommandResult made = RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=" +
                                        std::to_string(rate) + " -frames:v " + std::to_string(frames) + " " +
                                        options + " " + Quoted(path));
    EXPECT_EQ(made.status, 0) << made.output;
    return path;
}

std::string FfmpegFrame(const std::string& path, int index) {
    return RunTool("ffmpeg -v error -i " + Quoted(path) + " -vf " + Quoted("select=eq(n\\," + std::to_string(index) + ")") +
                       " -frames:v 1 -pix_fmt bgr24 -f rawvideo -",
                   false)
        .output;
}

int LargestDifference(TKVBitmap& bitmap, const std::string& bgr, int width, int height) {
    if (bitmap.GetWidth() != width || bitmap.GetHeight() != height || bgr.size() != size_t(width) * height * 3)
        return 256;
    int largest = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        for (int i = 0; i < width * 3; ++i)
            largest = std::max(largest, std::abs(row[i] - uint8_t(bgr[size_t(y) * width * 3 + i])));
    }
    return largest;
}
