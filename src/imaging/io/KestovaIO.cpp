#include "imaging/io/KestovaIO.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBlend.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVAdjustDPI.h"
#include "imaging/io/KVExif.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KVFormatDrivers.h"
#include "imaging/io/KVHttpLoad.h"
#include "imaging/io/KVIOThread.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/io/KVMetafile.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "platform/Canvas.h"
#include "platform/Files.h"
#include "platform/GraphicClasses.h"
#include "platform/PictureLimits.h"

namespace {

std::string LowerExtension(const std::string& fileName) {
    const size_t dot = fileName.find_last_of("./");
    if (dot == std::string::npos || fileName[dot] != '.') return {};
    std::string ext = fileName.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// The format a file is saved in, by its extension.
int SaveTypeOf(const std::string& extension) {
    static const struct {
        const char* extensions;
        int type;
    } table[] = {
        {".jpg.jpeg.jpe.", kvftJPEG}, {".jp2.", kvftJP2},  {".j2k.jpc.j2c.", kvftJ2K},
        {".pcx.", kvftPCX},           {".dcx.", kvftDCX},  {".gif.", kvftGIF},
        {".tif.tiff.fax.g3f.g3n.", kvftTIFF},              {".png.", kvftPNG},
        {".bmp.dib.rle.", kvftBMP},   {".tga.targa.vda.icb.vst.win.", kvftTGA},
        {".pxm.pbm.pgm.ppm.", kvftPXM}, {".ico.", kvftICO}, {".wbmp.", kvftWBMP},
        {".ps.eps.", kvftPS},         {".pdf.", kvftPDF},
    };
    if (extension.empty()) return kvftNone;
    for (const auto& entry : table)
        if (std::string(entry.extensions).find(extension + ".") != std::string::npos) return entry.type;
    return kvftNone;
}

// Class-library colours are 0x00BBGGRR.
TKVRGB RGBOfColor(TColor color) { return TKVRGB{uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color)}; }
TColor ColorOfRGB(const TKVRGB& rgb) { return TColor(rgb.b) << 16 | TColor(rgb.g) << 8 | rgb.r; }


// The fourth bytes of 32-bit pixels as the bitmap's alpha channel when they say something, as the
// BMP reader takes them: bytes that are all 0 are unused, bytes that are all 255 leave it opaque.
void TakeAlphaBytes(const TBitmap& picture, TKVBitmap& bitmap) {
    if (picture.PixelFormat() != TPixelFormat::pf32bit) return;
    const int width = picture.Width(), height = picture.Height();
    bool anyAlpha = false, anyTranslucent = false;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            anyAlpha |= row[4 * x + 3] != 0;
            anyTranslucent |= row[4 * x + 3] != 255;
        }
    }
    if (!anyAlpha || !anyTranslucent) return;
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    TKVAccessScope writing(alpha, kvaWrite);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = picture.ScanLine(y);
        uint8_t* opacity = alpha.GetScanline(y);
        for (int x = 0; x < width; ++x) opacity[x] = row[4 * x + 3];
    }
    alpha.SetFull(false);
}

// Metafiles are drawn, not read by a driver.
bool IsMetafileType(int fileType) { return fileType == kvftWMF || fileType == kvftEMF; }

// Runs an operation and then DoFinishWork, also when the operation raises: then with AbortFlag
// set, so that nothing a finishing handler sees passes as done.
template <typename Body> void Finishing(TKestovaIO& io, Body body) {
    try {
        body();
    } catch (...) {
        io.AbortFlag = true;
        io.DoFinishWork();
        throw;
    }
    io.DoFinishWork();
}

}  // namespace

void ComposeOverBackground(TKVBitmap& bitmap, TColor background) {
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    alpha.SyncFull();
    if (alpha.Full()) return;
    if (bitmap.GetPixelFormat() != kv24RGB) bitmap.ConvertPixelFormat(kv24RGB);
    const TKVRGB back = RGBOfColor(background);
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        auto* row = reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y));
        const uint8_t* opacity = alpha.GetScanline(y);
        for (int x = 0; x < bitmap.GetWidth(); ++x) {
            row[x].b = KVBlendOpacity(row[x].b, back.b, opacity[x]);
            row[x].g = KVBlendOpacity(row[x].g, back.g, opacity[x]);
            row[x].r = KVBlendOpacity(row[x].r, back.r, opacity[x]);
        }
    }
}

TKestovaIO::TKestovaIO()
    : ownedWork_(std::make_unique<TKVBitmap>()),
      work_(ownedWork_.get()),
      threads_(std::make_unique<TKVIOThreads>([this] { Fail(); },
                                              [this] {
                                                  Fail();
                                                  DoFinishWork();
                                              })),
      params_(std::make_unique<TIOParamsVals>(this)) {}

TKestovaIO::~TKestovaIO() {
    WaitThreads(false);
    DetachView();
}

// --- Background operations

bool TKestovaIO::Dispatched(TKVIOThreadKind kind, std::function<void()> operation) {
    // An owned work bitmap that wraps an attached class-library bitmap holds the caller's pixels.
    const bool ownPixels = OwnsWorkBitmap() && !attachedTBitmap_;
    if (threads_->IsInside() || !Asynchronous || ownPixels) return false;
    threads_->Start(kind, std::move(operation));
    return true;
}

void TKestovaIO::WaitThreads(bool setAbort) {
    // Only the flag: the reason belongs to the operation running on its thread, which may be
    // writing it.
    threads_->Wait(setAbort, [this] { AbortFlag = true; });
}

bool TKestovaIO::IsInsideIOThread() const { return threads_->IsInside(); }

std::vector<TKVIOThreadKind> TKestovaIO::IOThreadKinds() const { return threads_->Kinds(); }

// --- Work bitmap

void TKestovaIO::AttachTBitmap(TBitmap* bitmap) {
    if (!bitmap) {
        AttachBitmap(nullptr);
        return;
    }
    DetachView();
    image_ = nullptr;
    attachedTBitmap_ = bitmap;
    if (!ownedWork_) {
        ownedWork_ = std::make_unique<TKVBitmap>();
        work_ = ownedWork_.get();
    }
    work_->EncapsulateTBitmap(bitmap, true);
}

void TKestovaIO::AttachBitmap(TKVBitmap* bitmap) {
    DetachView();
    attachedTBitmap_ = nullptr;
    image_ = nullptr;
    if (bitmap) {
        ownedWork_.reset();
        work_ = bitmap;
    } else {
        ownedWork_ = std::make_unique<TKVBitmap>();
        work_ = ownedWork_.get();
    }
}

void TKestovaIO::SetAttachedKestova(TKVView* view) {
    AttachBitmap(nullptr);
    if (!view) return;
    view_ = view;
    TakeViewBitmap();
    viewHandler_ = view->AddChangeHandler(
        [this](TObject*, TKVView*, bool destroying) {
            if (!destroying) {
                TakeViewBitmap();
                TakeViewResolution();
                return;
            }
            // The view frees its handlers itself; the component only forgets it.
            viewHandler_ = nullptr;
            view_ = nullptr;
            AttachBitmap(nullptr);
        },
        this);
}

void TKestovaIO::SetAttachedTImage(TBitmap* picture) {
    AttachTBitmap(picture);
    image_ = picture;
}

void TKestovaIO::Notification(TObject* component, TOperation operation) {
    if (operation != opRemove || !component) return;
    // Neither the view's bitmap nor the control's picture may be written once they are gone.
    if (component == view_ || component == image_) AttachBitmap(nullptr);
}

void TKestovaIO::DetachView() {
    if (view_) view_->RemoveChangeHandler(viewHandler_);
    view_ = nullptr;
    viewHandler_ = nullptr;
}

// What the view shows is the picture, at the resolution the view was told or its user set.
void TKestovaIO::TakeViewResolution() {
    if (view_->ResolutionX() != 0) params_->SetDpiX(view_->ResolutionX());
    if (view_->ResolutionY() != 0) params_->SetDpiY(view_->ResolutionY());
}

// A view that keeps a TKVBitmap lends it; one that shows a class-library bitmap has it wrapped.
void TKestovaIO::TakeViewBitmap() {
    if (TKVBitmap* bitmap = view_->GetKVBitmap()) {
        ownedWork_.reset();
        work_ = bitmap;
        attachedTBitmap_ = nullptr;
        return;
    }
    if (!ownedWork_) {
        ownedWork_ = std::make_unique<TKVBitmap>();
        work_ = ownedWork_.get();
    }
    attachedTBitmap_ = view_->GetTBitmap();
    if (attachedTBitmap_) work_->EncapsulateTBitmap(attachedTBitmap_, true);
}

void TKestovaIO::RefreshAttached() {
    if (attachedTBitmap_ && work_->GetHasAlphaChannel()) {
        ComposeOverBackground(*work_, Background());
        work_->RemoveAlphaChannel();
    }
    if (!view_) {
        // What shows the class-library bitmap repaints on its change event.
        if (attachedTBitmap_) attachedTBitmap_->SetModified(true);
        return;
    }
    // A view is a window: a background thread only asks it to show the picture.
    if (IsInsideIOThread()) {
        view_->PostImageChange(params_->DpiX(), params_->DpiY());
        return;
    }
    view_->SetDpiX(params_->DpiX());
    view_->SetDpiY(params_->DpiY());
    view_->Update();
    view_->DoImageChange();
}

TBitmap* TKestovaIO::GetTBitmap() {
    if (work_ && work_->Location() == kvTBitmap) return work_->GetTBitmap();
    return attachedTBitmap_;
}

bool TKestovaIO::CheckWorkBitmap(std::initializer_list<TKVPixelFormat> allowed) {
    if (!work_) return false;
    if (attachedTBitmap_) work_->EncapsulateTBitmap(attachedTBitmap_, true);
    return allowed.size() == 0 || std::find(allowed.begin(), allowed.end(), work_->GetPixelFormat()) != allowed.end();
}

void TKestovaIO::DoFinishWork() {
    if (OnProgress) OnProgress(this, 100);
    if (OnFinishWork) OnFinishWork(this);
}

TKVProgressRec TKestovaIO::MakeProgress() {
    TKVProgressRec progress;
    progress.OnProgress = OnProgress;
    progress.Sender = this;
    progress.AbortFlag = &AbortFlag;
    progress.FailureReason = &failureReason_;
    return progress;
}

void TKestovaIO::Fail(const std::string& reason) {
    if (failureReason_.empty()) failureReason_ = reason;
    AbortFlag = true;
}

void TKestovaIO::BeginOperation() {
    AbortFlag = false;
    failureReason_.clear();
}

void TKestovaIO::ClearWorkBitmap() {
    if (attachedTBitmap_) {
        attachedTBitmap_->SetSize(0, 0);
        work_->EncapsulateTBitmap(attachedTBitmap_, true);
    } else {
        work_->FreeImage(true);
    }
}

void TKestovaIO::ApplyDefaultDPI() {
    if (params_->DpiX() < 2) params_->SetDpiX(DefaultDpiX);
    if (params_->DpiY() < 2) params_->SetDpiY(DefaultDpiY);
}

void TKestovaIO::ApplyAutoAdjustDPI() {
    if (const std::unique_ptr<TKVBitmap> resized = KVAdjustBitmapDPI(*work_, *params_, FilteredAdjustDPI))
        work_->Assign(resized.get());
}

void TKestovaIO::AutoAdjustLoaded() {
    if (!AutoAdjustDPI) return;
    try {
        ApplyAutoAdjustDPI();
    } catch (const Exception& e) {
        Fail(e.what());
        ClearWorkBitmap();
    }
}

// --- Loading

void TKestovaIO::LoadStream(TStream& stream, int fileType, const std::string& fileName) {
    BeginOperation();
    if (!CheckWorkBitmap()) {
        Fail();
        return;
    }
    params_->ResetInfo();
    const TKVFormatDriver* driver = FindFormatDriver(fileType);
    if (!driver || !driver->Read) {
        Fail("no reader for this picture format");
        return;
    }
    work_->RemoveAlphaChannel();
    TKVProgressRec progress = MakeProgress();
    // A PNG picture's own background colour becomes the component's.
    if (fileType == kvftPNG) params_->PngBackground = RGBOfColor(background_);
    try {
        driver->Read(stream, *work_, *params_, progress);
    } catch (...) {
        Fail();
        ClearWorkBitmap();
        throw;
    }
    if (fileType == kvftPNG) background_ = ColorOfRGB(params_->PngBackground);
    if (AbortFlag) {
        ClearWorkBitmap();
        return;
    }
    ApplyDefaultDPI();
    AutoAdjustLoaded();
    if (AbortFlag) return;
    params_->FileName = fileName;
    params_->FileType = fileType;
    RefreshAttached();
}

void TKestovaIO::LoadThroughHook(TStream& stream, int fileType, const std::string& fileName) {
    BeginOperation();
    const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
    params_->FileName.clear();
    params_->FileType = kvftNone;
    params_->ResetInfo();
    if (!entry || !entry->ReadHook || !CheckWorkBitmap()) {
        Fail("no reader for this picture format");
        return;
    }
    params_->FileName = fileName;
    params_->FileType = fileType;
    TKVProgressRec progress = MakeProgress();
    try {
        entry->ReadHook(stream, *work_, *params_, false, progress);
    } catch (const Exception& e) {
        Fail(e.what());
    } catch (...) {
        Fail();
        ClearWorkBitmap();
        throw;
    }
    if (AbortFlag) ClearWorkBitmap();
    else RefreshAttached();
}

void TKestovaIO::LoadFromFile(const std::string& fileName) {
    if (Dispatched(kvtkFile, [this, fileName] { LoadFromFile(fileName); })) return;
    BeginOperation();
    const std::string extension = LowerExtension(fileName);
    if (KVIsHttpAddress(fileName)) {
        LoadFromURL(fileName);
        return;
    }
    if (fileName.empty()) {
        Finishing(*this, [&] { Fail(); });
        return;
    }
    if (extension == ".avi") {
        Finishing(*this, [&] {
            // A picture named .avi must not leave the previous picture behind as if loaded.
            const bool loaded = OpenAVIFile(fileName) > 0 && GrabAVIFrame(0);
            CloseAVIFile();
            // A picture named .avi must not leave the previous picture behind as if loaded.
            AbortFlag = !loaded;
            if (loaded) params_->FileType = kvftAVI;
            else ClearWorkBitmap();
        });
        return;
    }
    const TKVFileFormatEntry* entry = GetFileFormatByExt(extension);
    if (!entry) {
        Finishing(*this, [&] { Fail("no picture format has the extension " + extension); });
        return;
    }
    const int named = entry->FileType;
    if (IsMetafileType(named)) {
        LoadFromFileFormat(fileName, named);
        return;
    }
    Finishing(*this, [&] {
        LoadFileAs(fileName, named);
        if (!AbortFlag) return;
        // Bytes of another format behind the name, as other programs read them: the content decides.
        const int detected = DetectFileFormat(fileName, false);
        if (detected != kvftNone && detected != named && !IsMetafileType(detected)) LoadFileAs(fileName, detected);
    });
}

void TKestovaIO::LoadFromURL(const std::string& url) {
    // libcurl refused to start, as a missing http library: nothing to finish.
    if (!KVHttpAvailable()) {
        Fail();
        return;
    }
    if (Dispatched(kvtkURL, [this, url] { LoadFromURL(url); })) return;
    BeginOperation();
    TKVHttpRequest request;
    if (!KVSplitHttpAddress(url, request.address)) {
        Finishing(*this, [&] { Fail(); });
        return;
    }
    if (request.address.path.empty()) {
        DoFinishWork();
        return;
    }
    request.proxyHost = ProxyHost;
    request.proxyUser = ProxyUserName;
    request.proxyPassword = ProxyUserPassword;
    request.progress = [this](int percent) {
        if (OnProgress) OnProgress(this, percent);
    };
    request.abort = &AbortFlag;
    TMemoryStream body;
    bool received = false;
    try {
        received = KVHttpGet(request, body) && !AbortFlag;
    } catch (...) {
        Fail();
        DoFinishWork();
        throw;
    }
    // Nothing of a failed, refused or stopped download reaches the readers.
    if (!received) {
        Finishing(*this, [&] { Fail(); });
        return;
    }
    body.SetPosition(0);
    LoadFromStream(body);
}

void TKestovaIO::LoadFromFileAuto(const std::string& fileName) {
    // Detection reads the file, so it belongs to the background thread as much as the load.
    if (Dispatched(kvtkFile, [this, fileName] { LoadFromFileAuto(fileName); })) return;
    const int type = DetectFileFormat(fileName, false);
    if (type != kvftNone) LoadFromFileFormat(fileName, type);
    else LoadFromFile(fileName);
}

void TKestovaIO::LoadFromFileFormat(const std::string& fileName, int fileType) {
    if (Dispatched(kvtkFileFormat, [this, fileName, fileType] { LoadFromFileFormat(fileName, fileType); })) return;
    if (IsMetafileType(fileType)) {
        ImportMetafile(fileName, -1, -1, true);
        return;
    }
    Finishing(*this, [&] { LoadFileAs(fileName, fileType); });
}

void TKestovaIO::LoadFileAs(const std::string& fileName, int fileType) {
    BeginOperation();
    const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
    if (!entry) return Fail("no reader for this picture format");
    AbortFlag = true;
    TFileStream stream(fileName, fmOpenRead);
    if (entry->BuiltIn) LoadStream(stream, fileType, fileName);
    else LoadThroughHook(stream, fileType, fileName);
}

void TKestovaIO::LoadFileOfType(const std::string& fileName, int fileType) {
    if (Dispatched(kvtkFile, [this, fileName, fileType] { LoadFileOfType(fileName, fileType); })) return;
    Finishing(*this, [&] {
        AbortFlag = true;
        TFileStream stream(fileName, fmOpenRead);
        LoadStream(stream, fileType, fileName);
    });
}

void TKestovaIO::LoadStreamOfType(TStream& stream, int fileType) {
    if (Dispatched(kvtkStream, [this, &stream, fileType] { LoadStreamOfType(stream, fileType); })) return;
    Finishing(*this, [&] { LoadStream(stream, fileType, {}); });
}

namespace {

// Counted from the stream's position, which is kept.
int PageCount(TStream& stream, int fileType) {
    const TKVFormatDriver* driver = FindFormatDriver(fileType);
    return driver && driver->PageCount ? driver->PageCount(stream) : 0;
}

}  // namespace

int TKestovaIO::LoadCountedFile(const std::string& fileName, int fileType) {
    if (Dispatched(kvtkFileCount, [this, fileName, fileType] { LoadCountedFile(fileName, fileType); })) return -1;
    lastCount_ = 0;
    Finishing(*this, [&] {
        AbortFlag = true;
        TFileStream stream(fileName, fmOpenRead);
        lastCount_ = PageCount(stream, fileType);
        LoadStream(stream, fileType, fileName);
    });
    return lastCount_;
}

int TKestovaIO::LoadCountedStream(TStream& stream, int fileType) {
    if (Dispatched(kvtkStreamCount, [this, &stream, fileType] { LoadCountedStream(stream, fileType); })) return -1;
    lastCount_ = 0;
    Finishing(*this, [&] {
        lastCount_ = PageCount(stream, fileType);
        LoadStream(stream, fileType, {});
    });
    return lastCount_;
}

void TKestovaIO::LoadFromStream(TStream& stream) {
    if (Dispatched(kvtkStream, [this, &stream] { LoadFromStream(stream); })) return;
    BeginOperation();
    const int type = DetectStreamFormat(stream);
    if (type == kvftNone) {
        Finishing(*this, [&] { Fail("the content is of no known picture format"); });
        return;
    }
    LoadFromStreamFormat(stream, type);
}

void TKestovaIO::LoadFromStreamFormat(TStream& stream, int fileType) {
    if (Dispatched(kvtkStreamFormat, [this, &stream, fileType] { LoadFromStreamFormat(stream, fileType); })) return;
    Finishing(*this, [&] {
        BeginOperation();
        const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
        if (!entry) Fail("no reader for this picture format");
        else if (entry->BuiltIn) LoadStream(stream, fileType, {});
        else LoadThroughHook(stream, fileType, {});
    });
}

namespace {

// The metafile drawn on a 24-bit bitmap of the background colour.
TBitmap DrawMetafile(const TGraphic& picture, int width, int height, TColor background) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = background;
    canvas.Brush.Style = TBrushStyle::bsSolid;
    canvas.FillRect(Rect(0, 0, width, height));
    picture.Draw(canvas, Rect(0, 0, width, height));
    return bitmap;
}

}  // namespace

void TKestovaIO::ImportMetafile(const std::string& fileName, int width, int height, bool withAlpha) {
    // Larger drawings are scaled down to this longer side.
    constexpr int64_t LargestSide = 16000;
    if (Dispatched(kvtkMetafile, [=, this] { ImportMetafile(fileName, width, height, withAlpha); })) return;
    Finishing(*this, [&] {
        BeginOperation();
        AbortFlag = true;
        const TGraphicClass metafileClass = GraphicClassForExtension(LowerExtension(fileName));
        if (width == 0 || height == 0 || !metafileClass || !CheckWorkBitmap()) return;
        params_->ResetInfo();
        std::unique_ptr<TGraphic> picture = metafileClass();
        try {
            picture->LoadFromFile(fileName);
        } catch (const EInvalidGraphic& e) {
            Fail(e.what());
            return;
        }
        int64_t w = width, h = height;
        const int64_t ownWidth = picture->Width(), ownHeight = picture->Height();
        if (ownWidth <= 0 || ownHeight <= 0) return;
        if (width < 0 && height < 0) w = ownWidth, h = ownHeight;
        else if (width < 0) w = h * ownWidth / ownHeight;
        else if (height < 0) h = w * ownHeight / ownWidth;
        if (w > LargestSide || h > LargestSide) {
            const int64_t longer = std::max(w, h);
            w = std::max<int64_t>(w * LargestSide / longer, 1);
            h = std::max<int64_t>(h * LargestSide / longer, 1);
        }
        if (w <= 0 || h <= 0) return;
        TBitmap drawn = DrawMetafile(*picture, int(w), int(h), Background());
        work_->Assign(&drawn);
        if (withAlpha) {
            // Pixels still of an unlikely key colour were not painted.
            constexpr TColor Key = 0x010203;
            TBitmap keyed = DrawMetafile(*picture, int(w), int(h), Key);
            TKVBitmap* alpha = work_->GetAlphaChannel();
            for (int y = 0; y < int(h); ++y)
                for (int x = 0; x < int(w); ++x) alpha->SetByte(x, y, keyed.Pixel(x, y) == Key ? 0 : 255);
        }
        params_->FileName = fileName;
        {
            TFileStream stream(fileName, fmOpenRead);
            params_->FileType = IsEMFStream(stream) ? kvftEMF : kvftWMF;
        }
        params_->BitsPerSample = 8;
        params_->SamplesPerPixel = 3;
        params_->Width = int(w);
        params_->Height = int(h);
        params_->SetDpiX(DefaultDpiX);
        params_->SetDpiY(DefaultDpiY);
        params_->ColorMap.clear();
        AbortFlag = false;
        RefreshAttached();
    });
}

void TKestovaIO::LoadFromBuffer(const void* buffer, int64_t size, int fileType) {
    // The stream over the buffer must live as long as the load, so the thread makes its own.
    if (Dispatched(kvtkStream, [=, this] { LoadFromBuffer(buffer, size, fileType); })) return;
    TKVMemStream stream(buffer, size);
    if (fileType == kvftNone) LoadFromStream(stream);
    else LoadFromStreamFormat(stream, fileType);
}

void TKestovaIO::LoadFromTBitmap(TBitmap& picture) {
    AbortFlag = false;
    if (!CheckWorkBitmap()) {
        Fail();
        return;
    }
    work_->RemoveAlphaChannel();
    work_->Assign(&picture);
    TakeAlphaBytes(picture, *work_);
    RefreshAttached();
}

// --- Saving

void TKestovaIO::SaveStream(TStream& stream, int fileType) {
    AbortFlag = false;
    if (!CheckWorkBitmap()) {
        Fail();
        return;
    }
    TKVProgressRec progress = MakeProgress();
    if (fileType == kvftJPEG) {
        SaveJPEG(stream, progress);
        return;
    }
    if (const TKVFormatDriver* driver = FindFormatDriver(fileType)) {
        if (!driver->Write) {
            Fail();
            return;
        }
        // A TIFF or PCX picture in a stream of several goes behind a header giving its length.
        const char* tag = fileType == kvftPCX ? "PCX2" : fileType == kvftTIFF ? "TIFF" : nullptr;
        const bool headed = tag && StreamHeaders;
        const int64_t start = stream.Position();
        uint8_t header[12] = {};
        if (tag) std::memcpy(header, tag, 4);
        if (headed) stream.WriteBuffer(header, 12);
        driver->Write(stream, *work_, *params_, progress);
        if (!headed || AbortFlag) return;
        const int64_t end = stream.Position();
        const auto length = uint32_t(end - start - 12);
        for (int i = 0; i < 4; ++i) header[8 + i] = uint8_t(length >> (8 * i));
        stream.SetPosition(start);
        stream.WriteBuffer(header, 12);
        stream.SetPosition(end);
        return;
    }
    const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
    if (!entry || entry->BuiltIn || !entry->WriteHook) {
        Fail();
        return;
    }
    // Formats added to the registry take 24-bit or 1-bit pictures.
    if (work_->GetPixelFormat() != kv24RGB && work_->GetPixelFormat() != kv1Bit) work_->ConvertPixelFormat(kv24RGB);
    params_->FileType = fileType;
    try {
        entry->WriteHook(stream, *work_, *params_, progress);
    } catch (const Exception& e) {
        Fail(e.what());
    }
}

void TKestovaIO::SaveJPEG(TStream& stream, TKVProgressRec& progress) {
    TIOParamsVals& p = *params_;
    if (p.IptcInfo.Modified() || (p.IptcInfo.Count() > 0 && p.JpegMarkers.Count() == 0)) {
        constexpr uint8_t APP13 = 237;
        const std::vector<uint8_t> iptc = p.IptcInfo.SaveToBuffer(true);
        const int index = p.JpegMarkers.IndexOf(APP13);
        if (iptc.empty() && index >= 0) p.JpegMarkers.DeleteMarker(index);
        else if (!iptc.empty() && index >= 0) p.JpegMarkers.SetMarker(index, APP13, int64_t(iptc.size()), iptc.data());
        else if (!iptc.empty()) p.JpegMarkers.AddMarker(APP13, iptc.data(), int64_t(iptc.size()));
    }
    if (p.ExifHasData) {
        constexpr uint8_t APP1 = 225;
        const std::vector<uint8_t> exif = KVSaveEXIFToBuffer(p);
        const int index = p.JpegMarkers.IndexOf(APP1);
        if (index >= 0) p.JpegMarkers.SetMarker(index, APP1, int64_t(exif.size()), exif.data());
        else p.JpegMarkers.AddMarker(APP1, exif.data(), int64_t(exif.size()));
    }
    const int64_t start = stream.Position();
    uint8_t header[12] = {'J', 'F', 'I', 'F'};
    if (StreamHeaders) stream.WriteBuffer(header, 12);
    WriteJPEGStream(stream, *work_, p, progress);
    if (!StreamHeaders) return;
    const int64_t end = stream.Position();
    const auto length = uint32_t(end - start - 12);
    for (int i = 0; i < 4; ++i) header[8 + i] = uint8_t(length >> (8 * i));
    stream.SetPosition(start);
    stream.WriteBuffer(header, 12);
    stream.SetPosition(end);
}

void TKestovaIO::SaveToFile(const std::string& fileName) {
    if (Dispatched(kvtkFile, [this, fileName] { SaveToFile(fileName); })) return;
    int type = SaveTypeOf(LowerExtension(fileName));
    if (type == kvftNone && !fileName.empty()) {
        const TKVFileFormatEntry* entry = GetFileFormatByExt(LowerExtension(fileName));
        if (entry && entry->WriteHook && !entry->BuiltIn) type = entry->FileType;
    }
    SaveFileOfType(fileName, type);
}

void TKestovaIO::SaveFileOfType(const std::string& fileName, int type) {
    if (Dispatched(kvtkFile, [this, fileName, type] { SaveFileOfType(fileName, type); })) return;
    Finishing(*this, [&] {
        AbortFlag = true;
        if (fileName.empty() || type == kvftNone) return;
        TAtomicFile file(fileName);
        SaveStream(file.Stream(), type);
        if (!AbortFlag) {
            file.Commit();
            params_->FileName = fileName;
        }
    });
}

void TKestovaIO::SaveToStreamFormat(TStream& stream, int fileType) {
    if (Dispatched(kvtkStreamFormat, [this, &stream, fileType] { SaveToStreamFormat(stream, fileType); })) return;
    Finishing(*this, [&] { SaveStream(stream, fileType); });
}

// --- Parameters

void TKestovaIO::ReadParams(TStream& stream, int fileType) {
    BeginOperation();
    params_->FileType = fileType;
    params_->ResetInfo();
    TKVProgressRec progress = MakeProgress();
    progress.OnProgress = nullptr;
    const TKVFormatDriver* driver = FindFormatDriver(fileType);
    const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
    if (driver && driver->ReadHeader) {
        driver->ReadHeader(stream, *params_, progress);
    } else if (entry && !entry->BuiltIn && entry->ReadHook) {
        TKVBitmap unused;
        entry->ReadHook(stream, unused, *params_, true, progress);
    } else {
        Fail("no reader for this picture format");
    }
    if (AbortFlag) params_->FileType = kvftNone;
}

void TKestovaIO::ParamsFromFile(const std::string& fileName) {
    ParamsFromFileFormat(fileName, DetectFileFormat(fileName, true));
}

void TKestovaIO::ParamsFromFileFormat(const std::string& fileName, int fileType) {
    Finishing(*this, [&] {
        BeginOperation();
        try {
            TFileStream stream(fileName, fmOpenRead);
            ReadParams(stream, fileType);
        } catch (const Exception& e) {
            Fail(e.what());
            params_->FileType = kvftNone;
        }
        params_->FileName = fileName;
    });
}

void TKestovaIO::ParamsFromStream(TStream& stream) { ParamsFromStreamFormat(stream, DetectStreamFormat(stream)); }

void TKestovaIO::ParamsFromStreamFormat(TStream& stream, int fileType) {
    Finishing(*this, [&] {
        BeginOperation();
        try {
            ReadParams(stream, fileType);
        } catch (const Exception& e) {
            Fail(e.what());
            params_->FileType = kvftNone;
        }
    });
}

// --- Video files and scanners

int TKestovaIO::OpenMediaFile(const std::string& fileName) {
    CloseMediaFile();
    media_ = CreateMediaProvider();
    const int frames = media_ ? media_->Open(fileName, *params_) : 0;
    BeginOperation();
    if (frames == 0) {
        Fail(media_ ? "no video frame can be read from the file" : "no video library");
        media_.reset();
    }
    else params_->FileName = mediaName_ = fileName;
    params_->MediaFrameCount = frames;
    return frames;
}

void TKestovaIO::LoadMediaFrame(int index) {
    BeginOperation();
    AbortFlag = !media_ || !CheckWorkBitmap();
    if (AbortFlag) return;
    params_->SetImageIndex(index);
    if (media_->LoadFrame(index, *work_, *params_)) {
        RefreshAttached();
        return;
    }
    Fail("frame " + std::to_string(index + 1) + " cannot be decoded");
    ClearWorkBitmap();
}

void TKestovaIO::CloseMediaFile() {
    media_.reset();
    mediaName_.clear();
}

int TKestovaIO::OpenAVIFile(const std::string& fileName) {
    AbortFlag = false;
    CloseAVIFile();
    params_->SetImageCount(0);
    params_->FileName = fileName;
    params_->FileType = kvftNone;
    avi_ = CreateMediaProvider();
    aviFrames_ = avi_ ? avi_->Open(fileName, *params_) : 0;
    if (aviFrames_ == 0) {
        avi_.reset();
        AbortFlag = true;
        return 0;
    }
    params_->SetImageCount(aviFrames_);
    params_->AviFrameCount = aviFrames_;
    params_->AviFrameDelay = 0;
    return aviFrames_;
}

void TKestovaIO::LoadAVIFrame(int index) {
    if (Dispatched(kvtkFrame, [this, index] { LoadAVIFrame(index); })) return;
    Finishing(*this, [&] {
        AbortFlag = false;
        GrabAVIFrame(index);
    });
}

bool TKestovaIO::GrabAVIFrame(int index) {
    if (!CheckWorkBitmap() || !avi_ || index < 0 || index >= aviFrames_) return false;
    AbortFlag = !avi_->LoadFrame(index, *work_, *params_);
    if (AbortFlag) return false;
    params_->SetImageCount(aviFrames_);
    params_->SetDpiX(DefaultDpiX);
    params_->SetDpiY(DefaultDpiY);
    RefreshAttached();
    return true;
}

void TKestovaIO::CloseAVIFile() {
    avi_.reset();
    aviFrames_ = 0;
}

TKVCapture* TKestovaIO::GetDirectShow() {
    if (!capture_) capture_ = CreateCapture(view_);
    return capture_.get();
}

TKVAcquireProvider* TKestovaIO::AcquireProvider() {
    if (!acquire_) acquire_ = CreateAcquireProvider();
    return acquire_.get();
}

TKVTWainParams* TKestovaIO::GetTWainParams() {
    TKVAcquireProvider* source = AcquireProvider();
    return source ? source->ScannerSettings() : nullptr;
}

std::string TKestovaIO::AcquireErrorText() {
    TKVAcquireProvider* source = AcquireProvider();
    return source ? source->LastErrorText() : "No scanner library is installed.";
}

bool TKestovaIO::SelectAcquireSource(int api) {
    TKVAcquireProvider* source = AcquireProvider();
    return source && source->SelectSource(api);
}

bool TKestovaIO::Acquire(int api) {
    // One acquisition at a time: a call while one runs (from its events, or from a window's event
    // loop while the scanner's dialog shows) changes nothing.
    if (acquiring_) return true;
    if (Dispatched(kvtkAcquire, [this, api] { Acquire(api); })) return true;
    AbortFlag = false;
    if (!CheckWorkBitmap()) {
        Fail();
        DoFinishWork();
        return false;
    }
    acquiring_ = true;
    bool acquired = false;
    try {
        acquired = AcquirePage(api);
    } catch (...) {
        EndAcquire();
        Fail();
        DoFinishWork();
        throw;
    }
    // Cleared before the finishing events, so that they may start the next acquisition.
    EndAcquire();
    DoFinishWork();
    return acquired;
}

bool TKestovaIO::AcquirePage(int api) {
    TKVAcquireProvider* source = AcquireProvider();
    if (api == 1) GetWia();  // its transfer reports through the component
    TKVProgressRec progress = MakeProgress();
    TKVBitmap page;
    page.SetDitherMode(work_->DitherMode());  // the work bitmap takes it with the pixels
    const bool arrived = source && source->Acquire(api, page, *params_, progress);
    // The scanner's own dialog had the keyboard focus.
    if (api == 0 && view_) view_->TakeFocusBack();
    if (!arrived) {
        Fail();
        RefreshAttached();
        return false;
    }
    // Stored and shown with its resolution, unless OnAcquireBitmap takes it: then the work
    // bitmap, and what shows it, stay as they were.
    TIOParamsVals* record = params_.get();
    DoAcquireBitmap(page, record);
    return !AbortFlag;
}

void TKestovaIO::DoAcquireBitmap(TKVBitmap& bitmap, TIOParamsVals*& params) {
    if (!CheckWorkBitmap()) return;
    bool handled = false;
    DoAcquireBitmapEvent(bitmap, handled);
    if (handled) return;
    if (params) KVTakeScannedParams(*params_, *params);
    params = params_.get();
    work_->Assign(&bitmap);
    AutoAdjustLoaded();
    RefreshAttached();
}

void TKestovaIO::DoAcquireBitmapEvent(TKVBitmap& bitmap, bool& handled) {
    if (OnAcquireBitmap) OnAcquireBitmap(this, bitmap, handled);
}

bool TKestovaIO::WiaProgress(int percent) {
    if (OnProgress) OnProgress(this, percent);
    return !AbortFlag;
}

TKVWia* TKestovaIO::GetWia() {
    TKVAcquireProvider* source = AcquireProvider();
    return source ? source->Wia(this, params_.get(), [this](int percent) { return WiaProgress(percent); }) : nullptr;
}

// --- Parameters preview

namespace {

std::mutex previewsDialogLock;

// Installed during static initialisation, so it must exist before first use.
TKVPreviewsDialog& PreviewsDialog() {
    static TKVPreviewsDialog dialog;
    return dialog;
}

}  // namespace

void SetPreviewsDialog(TKVPreviewsDialog dialog) {
    const std::lock_guard guard(previewsDialogLock);
    PreviewsDialog() = std::move(dialog);
}

void TKestovaIO::SetDitherMode(int mode) {
    TKVPreviewSettings::SetDitherMode(mode);
    if (work_) work_->SetDitherMode(mode);
}

bool TKestovaIO::DoPreviews(uint16_t pages) {
    bool handled = false;
    if (OnDoPreviews) OnDoPreviews(this, handled);
    if (handled) return true;
    if (!CheckWorkBitmap() || work_->IsEmpty()) return false;
    if (work_->GetPixelFormat() != kv24RGB && work_->GetPixelFormat() != kv1Bit) work_->ConvertPixelFormat(kv24RGB);
    TKVPreviewsDialog dialog;
    {
        const std::lock_guard guard(previewsDialogLock);
        dialog = PreviewsDialog();
    }
    const bool confirmed = dialog && dialog(*this, pages);
    RefreshAttached();
    return confirmed;
}
