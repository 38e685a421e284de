#pragma once
// Video frames and scanner pages reach the input/output component through providers that the
// acquisition library installs; until one is installed every such call answers "not available".
#include <functional>
#include <memory>
#include <string>

struct TKVFormatDriver;
class TObject;
class TKVBitmap;
class TStream;
class TKVCapture;
class TKVView;
class TIOParamsVals;
class TKVTWainParams;
class TKVWia;
struct TKVProgressRec;

// One open video file.
class TKVMediaProvider {
public:
    virtual ~TKVMediaProvider() = default;
    // Opens the file; returns its frame count, 0 when it cannot be opened as a video.
    virtual int Open(const std::string& fileName, TIOParamsVals& params) = 0;
    // Grabs a frame into the bitmap and records its delay; false when it cannot.
    virtual bool LoadFrame(int index, TKVBitmap& bitmap, TIOParamsVals& params) = 0;
};

// A scanner or camera source: 0 TWAIN, 1 WIA.
class TKVAcquireProvider {
public:
    virtual ~TKVAcquireProvider() = default;
    virtual bool SelectSource(int api) = 0;
    virtual bool Acquire(int api, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) = 0;
    // The scanner settings it keeps for its component; nullptr when it keeps none.
    virtual TKVTWainParams* ScannerSettings() { return nullptr; }
    // The device object of interface 1, told its owner, the owner's parameter record and the
    // progress callback (percent done; false stops the transfer); nullptr when it has none.
    virtual TKVWia* Wia(TObject* /*owner*/, TIOParamsVals* /*params*/, std::function<bool(int percent)> /*progress*/) {
        return nullptr;
    }
    // Why the last call failed, in words; empty when not known.
    virtual std::string LastErrorText() const { return {}; }
};

using TKVMediaProviderFactory = std::function<std::unique_ptr<TKVMediaProvider>()>;
using TKVAcquireProviderFactory = std::function<std::unique_ptr<TKVAcquireProvider>()>;
void SetMediaProviderFactory(TKVMediaProviderFactory factory);
void SetAcquireProviderFactory(TKVAcquireProviderFactory factory);
// nullptr while nothing is installed.
std::unique_ptr<TKVMediaProvider> CreateMediaProvider();
std::unique_ptr<TKVAcquireProvider> CreateAcquireProvider();

// Makes a component's capture object, connected to the view the component belongs to (nullptr:
// none). The view library installs it, since only it can connect a view.
using TKVCaptureFactory = std::function<std::shared_ptr<TKVCapture>(TKVView* view)>;
void SetCaptureFactory(TKVCaptureFactory factory);
// nullptr while nothing is installed.
std::shared_ptr<TKVCapture> CreateCapture(TKVView* view);

// The file the TWAIN layer writes its trace to; empty (no trace) at start.
extern std::string KVTWainLogName;

// Frames of a video file; 0 when it cannot be opened or no provider is installed.
int KVMediaFrameCount(const std::string& fileName);

// "RIFF" and "AVI "; position restored.
bool IsAVIStream(TStream& stream);

// The registry's record of AVI files, which only recognises them: the providers read them.
extern const TKVFormatDriver KVAviDriver;
