#pragma once
// The input/output component: loads pictures into one work bitmap and saves it, by file name,
// by stream with content detection, by type number, and reads a picture's parameters without its
// pixels. Drivers report bad data through AbortFlag, which every caller tests afterwards.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVProgressRec.h"
#include "platform/Graphics.h"

class TKVMediaProvider;

class TKestovaIO : public TObject, public TKVParamsOwner {
public:
    TKestovaIO();
    ~TKestovaIO() override;
    TKestovaIO(const TKestovaIO&) = delete;
    TKestovaIO& operator=(const TKestovaIO&) = delete;

    TIOParamsVals& Params() { return *params_; }
    // Set by a driver on bad or unsupported data and by a failed operation; a caller may set it
    // to stop a running one. Keeps its value until the next operation.
    std::atomic<bool> AbortFlag{false};
    TKVProgressEvent OnProgress;
    std::function<void(TObject* sender)> OnFinishWork;
    int32_t Tag = 0;  // the caller's
    // JPEG pictures saved to a stream are preceded by a 12-byte header that gives their length.
    bool StreamHeaders = false;
    // After a load, a picture of different horizontal and vertical resolutions is resized to the
    // larger one (nearest neighbour), so that its pixels are square.
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;  // taken as unfiltered until the resampler is available
    TMsgLanguage MsgLanguage = msSystem;

    // --- Work bitmap
    // Loads write into the caller's bitmap, which stays the caller's.
    void AttachTBitmap(TBitmap* bitmap);
    // nullptr gives the component a bitmap of its own again.
    void AttachBitmap(TKVBitmap* bitmap);
    TKVBitmap& WorkBitmap() { return *work_; }
    bool OwnsWorkBitmap() const { return ownedWork_ != nullptr; }
    // The class-library bitmap loads write into, nullptr when none.
    TBitmap* GetTBitmap() override;
    TKVView* AttachedKestova() override { return nullptr; }
    TColor Background() const { return background_; }
    void SetBackground(TColor color) { background_ = color; }

    // --- Loading
    // By the extension (letter case ignored); "http://" addresses and unknown extensions set
    // AbortFlag. A file that cannot be opened raises EFOpenError.
    virtual void LoadFromFile(const std::string& fileName);
    // By the content, whatever the extension.
    virtual void LoadFromFileAuto(const std::string& fileName);
    virtual void LoadFromFileFormat(const std::string& fileName, int fileType);
    // From the stream's position, by its content.
    virtual void LoadFromStream(TStream& stream);
    virtual void LoadFromStreamFormat(TStream& stream, int fileType);
    // Loads the page the parameters' image index selects; returns the file's page count.
    int LoadFromFileTIFF(const std::string& fileName);
    // fileType 0 detects the format.
    void LoadFromBuffer(const void* buffer, int64_t size, int fileType);
    // Draws a Windows or enhanced metafile at a size: a side below 0 follows the other side's
    // proportion, both below 0 take the metafile's own size. With alpha, unpainted pixels are
    // transparent. Needs the class library's metafile picture (installed with the GUI).
    void ImportMetafile(const std::string& fileName, int width, int height, bool withAlpha);

    // --- Saving; a file is replaced only once it was written completely.
    virtual void SaveToFile(const std::string& fileName);
    virtual void SaveToStreamFormat(TStream& stream, int fileType);

    // --- Parameters without pixels; FileType 0 tells that the picture could not be read.
    virtual void ParamsFromFile(const std::string& fileName);
    virtual void ParamsFromFileFormat(const std::string& fileName, int fileType);
    virtual void ParamsFromStream(TStream& stream);
    virtual void ParamsFromStreamFormat(TStream& stream, int fileType);

    // --- Video files and scanners, through the providers of KVVideoAndScanner.h
    // Returns the frame count, 0 when the file cannot be opened as a video.
    int OpenMediaFile(const std::string& fileName);
    // Loads a frame of the open video; AbortFlag tells whether it failed.
    void LoadMediaFrame(int index);
    bool IsMediaFileOpen() const { return media_ != nullptr; }
    void CloseMediaFile();
    // api 0 TWAIN, 1 WIA; false when no source is available.
    bool SelectAcquireSource(int api);
    bool Acquire(int api);

    virtual void DoFinishWork();

protected:
    // False when there is no work bitmap; re-wraps an attached TBitmap its owner may have changed.
    bool CheckWorkBitmap();

private:
    TKVProgressRec MakeProgress();
    // The common load: reset, read, default resolution, name and type; the picture is emptied
    // when the reader fails, so nothing half-read passes as loaded.
    void LoadStream(TStream& stream, int fileType, const std::string& fileName);
    void LoadThroughHook(TStream& stream, int fileType, const std::string& fileName);
    void SaveStream(TStream& stream, int fileType);
    void ReadParams(TStream& stream, int fileType);
    void ApplyDefaultDPI();
    void ApplyAutoAdjustDPI();
    void SaveJPEG(TStream& stream, TKVProgressRec& progress);
    void ClearWorkBitmap();
    void Fail();

    // The record asks for the work bitmap while it is built, so that comes first.
    std::unique_ptr<TKVBitmap> ownedWork_;
    TKVBitmap* work_ = nullptr;
    TBitmap* attachedTBitmap_ = nullptr;
    TColor background_ = clWhite;
    std::unique_ptr<TIOParamsVals> params_;
    std::unique_ptr<TKVMediaProvider> media_;
};
