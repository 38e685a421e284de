#pragma once
// Captured frames written to an AVI or ASF file. The frames go to a temporary file beside the
// target, which takes the target's name only when Finish succeeds; a capture that fails or is
// abandoned leaves no file behind, and an older file of that name untouched.
#include <memory>
#include <string>

struct AVFrame;
struct AVRational;

class TCaptureFile {
public:
    // True for the extensions a capture is written to, ".avi" and ".asf" in any case.
    static bool IsCaptureFileName(const std::string& fileName);

    // Opens the encoder (an FFmpeg encoder name; empty: uncompressed rows for AVI, Windows Media
    // Video 8 for ASF, which keeps no uncompressed video) and writes the file's header. Frames are
    // stored at the given rate, width x height, one after another. Throws an Exception that says
    // why the file cannot be written.
    TCaptureFile(const std::string& fileName, const std::string& encoder, int width, int height, AVRational rate);
    ~TCaptureFile();
    TCaptureFile(const TCaptureFile&) = delete;
    TCaptureFile& operator=(const TCaptureFile&) = delete;

    // Encodes one decoded frame, scaled to the file's size when the source changed its own.
    void Write(const AVFrame& frame);
    // Writes the encoder's last frames and the file's index, and gives the file its name.
    void Finish();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};
