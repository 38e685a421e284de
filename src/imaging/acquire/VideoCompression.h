#pragma once

// What the client asks of the video compressor; -1 leaves the compressor's own choice.
struct TKVVideoCompression {
    // Frames from one key frame to the next; 0: only the first frame is one.
    int KeyFrameRate = -1;
    // From 0, the smallest file, to 1, the best picture.
    double Quality = -1;
};
