#pragma once
// The input/output component: loads pictures into one work bitmap and saves it, by file name,
// by stream with content detection, by type number, and reads a picture's parameters without its
// pixels. Drivers report bad data through AbortFlag, which every caller tests afterwards.
#include <atomic>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVPixelTypes.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVIOSettings.h"
#include "platform/Graphics.h"

class TKVCapture;
class TKVMediaProvider;
class TKVAcquireProvider;
class TKVTWainParams;
class TKVWia;
class TKVIOThreads;
enum TKVIOThreadKind : uint8_t;
class TKVBitmap;

// The picture over the background, as a viewer shows it and as the documents made of it hold it,
// so that the colours its transparent pixels happen to hold stay hidden once the alpha channel is
// gone; the alpha channel itself stays.
void ComposeOverBackground(TKVBitmap& bitmap, TColor background);

class TKestovaIO : public TObject, public TKVParamsOwner, public TKVPreviewSettings {
public:
    TKestovaIO();
    ~TKestovaIO() override;
    TKestovaIO(const TKestovaIO&) = delete;
    TKestovaIO& operator=(const TKestovaIO&) = delete;

    TIOParamsVals& Params() { return *params_; }
    // Set by a driver on bad or unsupported data and by a failed operation; a caller may set it
    // to stop a running one. Keeps its value until the next operation.
    std::atomic<bool> AbortFlag{false};
    // Why the last load or header read stopped with AbortFlag, in its reader's words; empty when
    // the reader gave none.
    const std::string& FailureReason() const { return failureReason_; }
    TKVProgressEvent OnProgress;
    std::function<void(TObject* sender)> OnFinishWork;
    int32_t Tag = 0;  // the caller's
    // TIFF, PCX and JPEG pictures saved to a stream are preceded by a 12-byte header that gives
    // their length, and stream loads of them expect one.
    bool StreamHeaders = false;
    // After a load, a picture of different horizontal and vertical resolutions is resized to the
    // larger one, so that its pixels are square: by nearest neighbour, or filtered into 24 bits.
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;
    // The parameter record's: drivers keep the picture's own pixel format where they can.
    bool NativePixelFormat() const { return params_ && params_->IsNativePixelFormat; }
    void SetNativePixelFormat(bool native) {
        if (params_) params_->IsNativePixelFormat = native;
    }

    // --- Work bitmap
    // Loads write into the caller's bitmap, which stays the caller's.
    void AttachTBitmap(TBitmap* bitmap);
    // nullptr gives the component a bitmap of its own again.
    void AttachBitmap(TKVBitmap* bitmap);
    // Stands for the class library's image control: loads write into its picture, which stays the
    // caller's. nullptr, or the picture's going (Notification), gives the component an empty
    // bitmap of its own.
    TBitmap* AttachedTImage() const { return image_; }
    void SetAttachedTImage(TBitmap* picture);
    // The attached view or image control is going (opRemove): it is forgotten.
    virtual void Notification(TObject* component, TOperation operation);
    TKVBitmap& WorkBitmap() { return *work_; }
    bool OwnsWorkBitmap() const { return ownedWork_ != nullptr; }
    // The class-library bitmap loads write into, nullptr when none.
    TBitmap* GetTBitmap() override;
    // The view whose picture loads fill; it is told of every change, and its going detaches it.
    TKVView* AttachedKestova() override { return view_; }
    void SetAttachedKestova(TKVView* view);
    // None on a background thread: the view takes the resolution with the picture, on its own thread.
    TKVView* ResolutionView() override { return IsInsideIOThread() ? nullptr : view_; }
    // The attached view's background, else the component's own, which a view leaves unchanged.
    TColor Background() const { return view_ ? view_->Background() : background_; }
    void SetBackground(TColor color) {
        if (!view_) background_ = color;
    }

    // --- Background operations
    // On pixels that are not the component's own (a caller's bitmap or class-library bitmap, a
    // view's, an image control's), loads, saves, acquisitions and http loads then run on threads
    // of their own and the call returns at once: a count-returning load returns -1, Acquire true.
    // They run one at a time, in the order started, and call the events on their threads; a view
    // is repainted on its own thread. An exception in one ends it with AbortFlag set before its
    // OnFinishWork. Wait for them before calling operations directly.
    bool Asynchronous = false;
    // Returns once no background operation is left (at once when called from one of their events).
    // setAbort stops the running one at its next test, makes those still waiting finish at once
    // with AbortFlag set, and leaves AbortFlag set.
    void WaitThreads(bool setAbort);
    // True when called on one of the component's background threads: operations then run directly.
    bool IsInsideIOThread() const;
    // The kinds of the background operations still listed, in the order they run.
    std::vector<TKVIOThreadKind> IOThreadKinds() const;
    // The pages or frames the last count-returning load found, also one that ran in the
    // background: readable once its OnFinishWork has run.
    int LastCount() const { return lastCount_; }

    // --- Loading
    // By the extension (letter case ignored); "http://" addresses load through LoadFromURL, unknown
    // extensions set AbortFlag. A file that cannot be opened raises EFOpenError.
    virtual void LoadFromFile(const std::string& fileName);
    // By the content, whatever the extension.
    virtual void LoadFromFileAuto(const std::string& fileName);
    virtual void LoadFromFileFormat(const std::string& fileName, int fileType);
    // From the stream's position, by its content.
    virtual void LoadFromStream(TStream& stream);
    virtual void LoadFromStreamFormat(TStream& stream, int fileType);
    // Load the page or frame the parameters' image index selects (a GIF frame composed over the
    // frames before it) and return the page or frame count, 0 when the file cannot be read.
    int LoadFromFileTIFF(const std::string& fileName) { return LoadCountedFile(fileName, kvftTIFF); }
    int LoadFromStreamTIFF(TStream& stream) { return LoadCountedStream(stream, kvftTIFF); }
    int LoadFromFileGIF(const std::string& fileName) { return LoadCountedFile(fileName, kvftGIF); }
    int LoadFromStreamGIF(TStream& stream) { return LoadCountedStream(stream, kvftGIF); }
    // One format each, whatever the name's extension or the content.
    void LoadFromFileJPEG(const std::string& fileName) { LoadFileOfType(fileName, kvftJPEG); }
    void LoadFromStreamJPEG(TStream& stream) { LoadStreamOfType(stream, kvftJPEG); }
    void LoadFromFilePCX(const std::string& fileName) { LoadFileOfType(fileName, kvftPCX); }
    void LoadFromStreamPCX(TStream& stream) { LoadStreamOfType(stream, kvftPCX); }
    void LoadFromFileBMP(const std::string& fileName) { LoadFileOfType(fileName, kvftBMP); }
    void LoadFromStreamBMP(TStream& stream) { LoadStreamOfType(stream, kvftBMP); }
    void LoadFromFileICO(const std::string& fileName) { LoadFileOfType(fileName, kvftICO); }
    void LoadFromStreamICO(TStream& stream) { LoadStreamOfType(stream, kvftICO); }
    void LoadFromFileCUR(const std::string& fileName) { LoadFileOfType(fileName, kvftCUR); }
    void LoadFromStreamCUR(TStream& stream) { LoadStreamOfType(stream, kvftCUR); }
    void LoadFromFilePNG(const std::string& fileName) { LoadFileOfType(fileName, kvftPNG); }
    void LoadFromStreamPNG(TStream& stream) { LoadStreamOfType(stream, kvftPNG); }
    void LoadFromFileTGA(const std::string& fileName) { LoadFileOfType(fileName, kvftTGA); }
    void LoadFromStreamTGA(TStream& stream) { LoadStreamOfType(stream, kvftTGA); }
    void LoadFromFilePXM(const std::string& fileName) { LoadFileOfType(fileName, kvftPXM); }
    void LoadFromStreamPXM(TStream& stream) { LoadStreamOfType(stream, kvftPXM); }
    void LoadFromFileJP2(const std::string& fileName) { LoadFileOfType(fileName, kvftJP2); }
    void LoadFromStreamJP2(TStream& stream) { LoadStreamOfType(stream, kvftJP2); }
    void LoadFromFileJ2K(const std::string& fileName) { LoadFileOfType(fileName, kvftJ2K); }
    void LoadFromStreamJ2K(TStream& stream) { LoadStreamOfType(stream, kvftJ2K); }
    void LoadFromFileWBMP(const std::string& fileName) { LoadFileOfType(fileName, kvftWBMP); }
    void LoadFromStreamWBMP(TStream& stream) { LoadStreamOfType(stream, kvftWBMP); }
    void LoadFromFileDCX(const std::string& fileName) { LoadFileOfType(fileName, kvftDCX); }
    void LoadFromStreamDCX(TStream& stream) { LoadStreamOfType(stream, kvftDCX); }
    void LoadFromFileRAW(const std::string& fileName) { LoadFileOfType(fileName, kvftRAW); }
    void LoadFromStreamRAW(TStream& stream) { LoadStreamOfType(stream, kvftRAW); }
    // fileType 0 detects the format.
    virtual void LoadFromBuffer(const void* buffer, int64_t size, int fileType);
    // A picture another library decoded, taken as a read one is: the fourth byte of 32-bit pixels
    // is their opacity, as in a 32-bit BMP (bytes that are all 0 are unused ones), and an attached
    // class-library bitmap gets the picture over the background.
    void LoadFromTBitmap(TBitmap& picture);
    // Draws a Windows or enhanced metafile at a size: a side below 0 follows the other side's
    // proportion, both below 0 take the metafile's own size. With alpha, unpainted pixels are
    // transparent. Needs the class library's metafile picture (installed with the GUI).
    void ImportMetafile(const std::string& fileName, int width, int height, bool withAlpha);

    // Downloads a picture over plain http ("http://host[:port]/path", the scheme in any letter case)
    // and loads it by its content. Other schemes, a refused or failed transfer, an error status and
    // a body larger than the picture limits allow set AbortFlag; an address without a path loads
    // nothing and leaves AbortFlag clear. With a known length, OnProgress follows the download and
    // may stop it by setting AbortFlag.
    void LoadFromURL(const std::string& url);
    // A named http proxy ("host[:port]", port 80 when none) and its credentials; empty: direct.
    std::string ProxyHost, ProxyUserName, ProxyUserPassword;

    // --- Saving; a file is replaced only once it was written completely.
    virtual void SaveToFile(const std::string& fileName);
    virtual void SaveToStreamFormat(TStream& stream, int fileType);
    // The work bitmap as a text file of the kind TKVTextKind names (KVSaveToText.h).
    virtual void SaveToText(const std::string& fileName, int fileType, int textKind);
    // One format each, whatever the name's extension.
    void SaveToFileTIFF(const std::string& fileName) { SaveFileOfType(fileName, kvftTIFF); }
    void SaveToStreamTIFF(TStream& stream) { SaveToStreamFormat(stream, kvftTIFF); }
    void SaveToFileGIF(const std::string& fileName) { SaveFileOfType(fileName, kvftGIF); }
    void SaveToStreamGIF(TStream& stream) { SaveToStreamFormat(stream, kvftGIF); }
    void SaveToFileJPEG(const std::string& fileName) { SaveFileOfType(fileName, kvftJPEG); }
    void SaveToStreamJPEG(TStream& stream) { SaveToStreamFormat(stream, kvftJPEG); }
    void SaveToFilePCX(const std::string& fileName) { SaveFileOfType(fileName, kvftPCX); }
    void SaveToStreamPCX(TStream& stream) { SaveToStreamFormat(stream, kvftPCX); }
    void SaveToFileBMP(const std::string& fileName) { SaveFileOfType(fileName, kvftBMP); }
    void SaveToStreamBMP(TStream& stream) { SaveToStreamFormat(stream, kvftBMP); }
    void SaveToFileICO(const std::string& fileName) { SaveFileOfType(fileName, kvftICO); }
    void SaveToStreamICO(TStream& stream) { SaveToStreamFormat(stream, kvftICO); }
    void SaveToFilePNG(const std::string& fileName) { SaveFileOfType(fileName, kvftPNG); }
    void SaveToStreamPNG(TStream& stream) { SaveToStreamFormat(stream, kvftPNG); }
    void SaveToFileTGA(const std::string& fileName) { SaveFileOfType(fileName, kvftTGA); }
    void SaveToStreamTGA(TStream& stream) { SaveToStreamFormat(stream, kvftTGA); }
    void SaveToFilePXM(const std::string& fileName) { SaveFileOfType(fileName, kvftPXM); }
    void SaveToStreamPXM(TStream& stream) { SaveToStreamFormat(stream, kvftPXM); }
    void SaveToFileJP2(const std::string& fileName) { SaveFileOfType(fileName, kvftJP2); }
    void SaveToStreamJP2(TStream& stream) { SaveToStreamFormat(stream, kvftJP2); }
    void SaveToFileJ2K(const std::string& fileName) { SaveFileOfType(fileName, kvftJ2K); }
    void SaveToStreamJ2K(TStream& stream) { SaveToStreamFormat(stream, kvftJ2K); }
    void SaveToFileWBMP(const std::string& fileName) { SaveFileOfType(fileName, kvftWBMP); }
    void SaveToStreamWBMP(TStream& stream) { SaveToStreamFormat(stream, kvftWBMP); }
    void SaveToFilePS(const std::string& fileName) { SaveFileOfType(fileName, kvftPS); }
    void SaveToStreamPS(TStream& stream) { SaveToStreamFormat(stream, kvftPS); }
    void SaveToFilePDF(const std::string& fileName) { SaveFileOfType(fileName, kvftPDF); }
    void SaveToStreamPDF(TStream& stream) { SaveToStreamFormat(stream, kvftPDF); }
    void SaveToFileDCX(const std::string& fileName) { SaveFileOfType(fileName, kvftDCX); }
    void SaveToStreamDCX(TStream& stream) { SaveToStreamFormat(stream, kvftDCX); }

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
    // The name of the open video; empty while none is open.
    const std::string& MediaFileName() const { return mediaName_; }
    void CloseMediaFile();
    // AVI files: the frame count, 0 (with AbortFlag) when the file cannot be opened. A frame past
    // the count, or one that cannot be decoded, leaves the work bitmap as it was.
    int OpenAVIFile(const std::string& fileName);
    void LoadAVIFrame(int index);
    void CloseAVIFile();
    bool IsAVIFileOpen() const { return avi_ != nullptr; }
    // The capture object, made on first use; frames and graph events of a component that belongs
    // to a view reach that view. nullptr when no capture library is installed.
    virtual TKVCapture* GetDirectShow();
    // api 0 TWAIN, 1 WIA; false when no source is available. The chosen source and the scanner
    // settings stay with the component.
    bool SelectAcquireSource(int api);
    bool Acquire(int api);
    // nullptr when no scanner library is installed.
    TKVTWainParams* GetTWainParams();
    // Why the last acquisition failed, in words.
    std::string AcquireErrorText();
    // A page handed over by a scanner layer, Acquire's too: unless OnAcquireBitmap handles it, it
    // becomes the work bitmap and is shown, and params becomes the component's record. params may
    // come in as the page's own record from the scanner; its size, resolution and sample layout
    // are then taken first, so that AutoAdjustDPI works with the page's resolution.
    virtual void DoAcquireBitmap(TKVBitmap& bitmap, TIOParamsVals*& params);
    // Offers the page to OnAcquireBitmap; handled keeps it from the work bitmap.
    virtual void DoAcquireBitmapEvent(TKVBitmap& bitmap, bool& handled);
    TKVAcquireBitmapEvent OnAcquireBitmap;
    // Ends the acquisition that is running: Acquire works again.
    virtual void EndAcquire() { acquiring_ = false; }
    bool Acquiring() const { return acquiring_; }
    // The WIA object, made on first use; its progress reaches OnProgress and AbortFlag stops it.
    // nullptr when no scanner library is installed.
    virtual TKVWia* GetWia();

    // --- Parameters preview
    // The dialog for the work bitmap (made 24-bit unless it is 1-bit) with the pages asked for
    // and the component's preview settings; true when confirmed, or when an OnDoPreviews handler
    // took over. False without a picture, without a page to show, or without the view library,
    // which installs the dialog.
    virtual bool DoPreviews(uint16_t pages);
    TKVDoPreviewsEvent OnDoPreviews;
    // Runs with the dialog set up, before it shows.
    TKVIOPreviewEvent OnIOPreview;
    // The dither mode goes into the work bitmap too.
    void SetDitherMode(int mode) override;

    virtual void DoFinishWork();

    // False when there is no work bitmap, or when allowed names formats and the work bitmap has
    // another; re-wraps an attached TBitmap its owner may have changed.
    bool CheckWorkBitmap(std::initializer_list<TKVPixelFormat> allowed = {});
    // After a load: the class-library bitmap keeps no alpha, its picture is composed over the
    // background; an attached view shows the picture with the record's resolution, and without
    // one an attached class-library bitmap is marked changed.
    void RefreshAttached();
    // A resolution below 2 becomes the library's default.
    void ApplyDefaultDPI();
    // Makes the pixels square by the record's resolutions, as AutoAdjustDPI asks after loads; a
    // picture too large to resample raises.
    void ApplyAutoAdjustDPI();

private:
    // True when the operation was handed to a background thread.
    bool Dispatched(TKVIOThreadKind kind, std::function<void()> operation);
    TKVProgressRec MakeProgress();
    // The common load: reset, read, default resolution, name and type; the picture is emptied
    // when the reader fails, so nothing half-read passes as loaded.
    void LoadStream(TStream& stream, int fileType, const std::string& fileName);
    void LoadFileOfType(const std::string& fileName, int fileType);
    // LoadFromFileFormat without the finishing call: a registry entry's reader or read hook.
    void LoadFileAs(const std::string& fileName, int fileType);
    void LoadStreamOfType(TStream& stream, int fileType);
    int LoadCountedFile(const std::string& fileName, int fileType);
    int LoadCountedStream(TStream& stream, int fileType);
    void SaveFileOfType(const std::string& fileName, int fileType);
    void LoadThroughHook(TStream& stream, int fileType, const std::string& fileName);
    void SaveStream(TStream& stream, int fileType);
    void ReadParams(TStream& stream, int fileType);
    // False when the frame is out of range or cannot be decoded; the work bitmap then stays.
    bool GrabAVIFrame(int index);
    // ApplyAutoAdjustDPI when asked; a picture too large to resample is emptied, with AbortFlag.
    void AutoAdjustLoaded();
    // Acquire after the checks: the page handed over; true when one arrived.
    bool AcquirePage(int api);
    bool WiaProgress(int percent);
    void SaveJPEG(TStream& stream, TKVProgressRec& progress);
    void ClearWorkBitmap();
    void DetachView();
    void TakeViewBitmap();
    void TakeViewResolution();
    // Sets AbortFlag; the reason is kept unless one was kept since the operation began.
    void Fail(const std::string& reason = {});
    // Clears AbortFlag and the reason of an earlier operation.
    void BeginOperation();

    // The record asks for the work bitmap while it is built, so that comes first.
    std::unique_ptr<TKVBitmap> ownedWork_;
    std::string failureReason_;
    TKVBitmap* work_ = nullptr;
    TBitmap* attachedTBitmap_ = nullptr;
    TBitmap* image_ = nullptr;
    TColor background_ = clWhite;
    TKVView* view_ = nullptr;
    TKVChangeEntry* viewHandler_ = nullptr;
    // The record asks whether it is on a background thread while it is built.
    std::unique_ptr<TKVIOThreads> threads_;
    std::unique_ptr<TIOParamsVals> params_;
    std::unique_ptr<TKVMediaProvider> media_;
    std::string mediaName_;
    std::unique_ptr<TKVMediaProvider> avi_;
    int aviFrames_ = 0;
    std::shared_ptr<TKVCapture> capture_;
    std::unique_ptr<TKVAcquireProvider> acquire_;
    TKVAcquireProvider* AcquireProvider();
    std::atomic<int> lastCount_{0};
    std::atomic<bool> acquiring_{false};
};

// Shows the parameters preview dialog for a component's work bitmap; true when confirmed. The
// view library installs it; nullptr removes it.
using TKVPreviewsDialog = std::function<bool(TKestovaIO& io, uint16_t pages)>;
void SetPreviewsDialog(TKVPreviewsDialog dialog);
