#pragma once
// Captured frames and sound written to an AVI or ASF file. They go to a temporary file beside the
// target, which takes the target's name only when Finish succeeds; a capture that fails or is
// abandoned leaves no file behind, and an older file of that name untouched.
#include <memory>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "imaging/acquire/VideoCompression.h"

struct AVFrame;

struct TCaptureFileStreams {
    // An FFmpeg encoder name; empty: uncompressed rows for AVI, Windows Media Video 8 for ASF,
    // which keeps no uncompressed video.
    std::string videoEncoder;
    TKVVideoCompression compression;
    int width = 0, height = 0;
    AVRational rate{25, 1};
    // No sound is written while audioChannels is 0. An empty encoder: 16-bit PCM for AVI,
    // Windows Media Audio 2 for ASF.
    std::string audioEncoder;
    int audioRate = 0, audioChannels = 0;
};

class TCaptureFile {
public:
    // True for the extensions a capture is written to, ".avi" and ".asf" in any case.
    static bool IsCaptureFileName(const std::string& fileName);

    // Opens the encoders and writes the file's header. Video frames are stored at the given rate
    // and size, one after another; sound at its own rate from its first sample on. Throws an
    // Exception that says why the file cannot be written.
    TCaptureFile(const std::string& fileName, const TCaptureFileStreams& streams);
    ~TCaptureFile();
    TCaptureFile(const TCaptureFile&) = delete;
    TCaptureFile& operator=(const TCaptureFile&) = delete;

    // Encodes one decoded frame, scaled to the file's size when the source changed its own.
    // Write and WriteAudio may be called from different threads.
    void Write(const AVFrame& frame);
    // Encodes decoded sound, converted to the encoder's format; nothing without a sound stream.
    void WriteAudio(const AVFrame& frame);
    // Writes the encoders' last frames and the file's index, and gives the file its name.
    void Finish();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};
