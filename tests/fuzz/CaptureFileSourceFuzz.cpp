// A video file from arbitrary bytes played through the capture graph: its frames grabbed, its
// sound decoded, played and both written to a capture file.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "imaging/acquire/AudioOutput.h"
#include "imaging/acquire/Capture.h"
#include "imaging/core/KVBitmap.h"
#include "platform/PictureLimits.h"

static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 12, int64_t(1) << 18, 2048, int64_t(1) << 18});

namespace {

class TSilence : public TKVAudioOutput {
public:
    void Play(int, int, const int16_t*, size_t) override {}
};

// The capture reads files only: the input and the capture file live in a folder of this process.
struct TFolder {
    std::string path;
    TFolder() {
        char name[] = "/tmp/capture-fuzz-XXXXXX";
        path = mkdtemp(name) ? name : "/tmp";
    }
    ~TFolder() {
        std::remove((path + "/input").c_str());
        rmdir(path.c_str());
    }
};

const std::string& Folder() {
    static const TFolder folder;
    return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = Folder() + "/input", output = Folder() + "/output.avi";
    std::ofstream(input, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    TKVCapture capture;
    capture.SetNotify([&](TKVCaptureMessage message, TKVCaptureHandle) {
        if (message != kvcmGraphEvent) return;
        std::lock_guard guard(lock);
        done = true;
        ended.notify_all();
    });
    capture.SetCaptureFile(output);
    capture.SetAudioCompressor("pcm_s16le");
    capture.SetRenderFileAudio(true);
    capture.SetAudioOutput(std::make_unique<TSilence>());
    if (capture.BuildGraph("", input)) {
        capture.Run();
        std::unique_lock guard(lock);
        ended.wait_for(guard, std::chrono::seconds(10), [&] { return done; });
    }
    TKVBitmap bitmap;
    capture.GetSample(bitmap);
    capture.Disconnect();
    std::remove(output.c_str());
    return 0;
}
