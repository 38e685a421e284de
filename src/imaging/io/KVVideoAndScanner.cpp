#include "imaging/io/KVVideoAndScanner.h"

#include <cstring>
#include <mutex>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFormatDriver.h"
#include "platform/Classes.h"

std::string KVTWainLogName;

namespace {

std::mutex factoryLock;
TKVMediaProviderFactory mediaFactory;
TKVAcquireProviderFactory acquireFactory;

}  // namespace

void SetMediaProviderFactory(TKVMediaProviderFactory factory) {
    std::lock_guard guard(factoryLock);
    mediaFactory = std::move(factory);
}

void SetAcquireProviderFactory(TKVAcquireProviderFactory factory) {
    std::lock_guard guard(factoryLock);
    acquireFactory = std::move(factory);
}

std::unique_ptr<TKVMediaProvider> CreateMediaProvider() {
    std::lock_guard guard(factoryLock);
    return mediaFactory ? mediaFactory() : nullptr;
}

std::unique_ptr<TKVAcquireProvider> CreateAcquireProvider() {
    std::lock_guard guard(factoryLock);
    return acquireFactory ? acquireFactory() : nullptr;
}

namespace {

// Installed during static initialisation, so it must exist before first use.
TKVCaptureFactory& CaptureFactory() {
    static TKVCaptureFactory factory;
    return factory;
}

}  // namespace

void SetCaptureFactory(TKVCaptureFactory factory) {
    std::lock_guard guard(factoryLock);
    CaptureFactory() = std::move(factory);
}

std::shared_ptr<TKVCapture> CreateCapture(TKVView* view) {
    std::lock_guard guard(factoryLock);
    return CaptureFactory() ? CaptureFactory()(view) : nullptr;
}

int KVMediaFrameCount(const std::string& fileName) {
    std::unique_ptr<TKVMediaProvider> media = CreateMediaProvider();
    if (!media) return 0;
    TIOParamsVals params(nullptr);
    return media->Open(fileName, params);
}

bool IsAVIStream(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t head[12] = {};
    const bool found = stream.Read(head, 12) == 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
    stream.SetPosition(start);
    return found;
}

const TKVFormatDriver KVAviDriver{.FileType = kvftAVI, .IsFormat = IsAVIStream};
