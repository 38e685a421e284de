#pragma once
// Clips made by ffmpeg from its test pattern, and the frames ffmpeg itself decodes from them.
#include <string>

#include "TestSupport.h"

class TKVBitmap;

// Writes a clip of the test pattern: size 64 x 48, the given rate, frame count and output options
// (codec and format, such as "-c:v mjpeg"). Fails the test when ffmpeg does.
std::string MakeClip(const TScratchFolder& folder, const std::string& name, int rate, int frames,
                     const std::string& options);
// Frame index of the file as ffmpeg decodes it, in top-down bgr24 rows.
std::string FfmpegFrame(const std::string& path, int index);
// The largest difference of any sample between a kv24RGB bitmap and top-down bgr24 rows of the
// given width; 256 when the sizes differ.
int LargestDifference(TKVBitmap& bitmap, const std::string& bgr, int width, int height);
