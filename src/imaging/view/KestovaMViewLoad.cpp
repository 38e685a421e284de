// The thumbnail view's loading: at once on the main thread, or queued for the background pool.
#include <QFont>
#include <QPainter>
#include <mutex>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVVirtualImageList.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KVThumbLoader.h"
#include "imaging/view/KVThumbPixels.h"
#include "imaging/view/KestovaMIO.h"
#include "imaging/view/KestovaMView.h"

namespace {

std::string Extension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot + 1);
}

}  // namespace

void TKestovaMView::SetLoadParams(TKestovaIO& io, const TKVMEntry& entry) const {
    TIOParamsVals& params = io.Params();
    if (storeType_ == kvtThumb) {
        // The reader picks the largest reduction that keeps at least the cell size.
        params.JpegScale = 0;
        params.Width = thumbWidth_;
        params.Height = thumbHeight_;
        params.JpegLoadThumbnail = thumbWidth_ <= 200 && thumbHeight_ <= 150 && UseEmbeddedThumbnails;
    } else {
        params.JpegScale = 1;
        params.JpegLoadThumbnail = false;
    }
    params.JpegEnableAdjustOrientation = ApplyOrientation;
    params.TiffEnableAdjustOrientation = ApplyOrientation;
    io.SetBackground(entry.Background);
}

bool TKestovaMView::IsReloadable(const TKVMEntry& entry) const {
    return !entry.FileName.empty() || (entry.ID >= 0 && (OnImageIDRequest || OnImageIDRequestEx));
}

void TKestovaMView::TakeLoadResult(TKVMEntry& entry, TKestovaIO& io, TKVBitmap& bitmap) {
    // A picture that reached the entry first stays: replacing it would free the selected picture
    // the view lends out, behind the back of those who hold it.
    if (entry.Image) return;
    entry.Background = io.Background();
    entry.ArrivedParams = std::make_unique<TIOParamsVals>(nullptr);
    entry.ArrivedParams->Assign(io.Params());
    StorePicture(entry, bitmap);
    if (!entry.Image) return;
    const TIOParamsVals& params = io.Params();
    const bool jpeg = params.FileType == kvftJPEG;
    entry.Image->SourceWidth = jpeg ? params.JpegFrameWidth : params.Width;
    entry.Image->SourceHeight = jpeg ? params.JpegFrameHeight : params.Height;
}

void TKestovaMView::ApplyArrivedParams(int index) {
    std::unique_ptr<TIOParamsVals> arrived;
    {
        std::lock_guard lock(KVGlobalLock);
        arrived = std::move(entries_[size_t(index)]->ArrivedParams);
    }
    if (!arrived) return;
    if (TIOParamsVals* params = GetMIO()->GetParams(index)) params->Assign(*arrived);
}

void TKestovaMView::ApplyArrivals() {
    const uint64_t listState = listChanges_;
    for (int i = 0; i < GetImageCount(); ++i) {
        TKVMEntry& entry = *entries_[size_t(i)];
        bool failed;
        {
            std::lock_guard lock(KVGlobalLock);
            failed = entry.LoadFailed && !entry.Image;
            entry.LoadFailed = false;
        }
        if (failed) {
            TKVBitmap placeholder;
            DoWrongImage(placeholder, i);
            if (listChanges_ != listState) return;
            std::lock_guard lock(KVGlobalLock);
            if (!entry.Image) StorePicture(entry, placeholder);
        }
        ApplyArrivedParams(i);
    }
}

void TKestovaMView::LoadsArrived() {
    if (arrived_.exchange(false)) {
        ApplyArrivals();
        viewport()->update();
    }
    if (!arrived_ && PendingLoads() == 0) arrivalTimer_.stop();
}

std::shared_ptr<TKestovaIO> TKestovaMView::FrameIO(const std::string& path) {
    for (auto& frameIO : frameIOs_)
        if (frameIO->Path == path) return frameIO->IO;
    frameIOs_.push_back(std::make_unique<TFrameIO>(TFrameIO{path, std::make_shared<TKestovaIO>()}));
    return frameIOs_.back()->IO;
}

void TKestovaMView::LoadFileFrame(TKestovaIO& io, const std::string& path, int frame, int& delay) {
    delay = 0;
    const TKVFileFormatEntry* format = GetFileFormatByExt(Extension(path));
    if (format && format->FileType != kvftNone && format->FileType != kvftAVI) {
        io.Params().SetImageIndex(frame);
        io.LoadFromFile(path);
        // Hundredths of a second in the file.
        if (format->FileType == kvftGIF) delay = io.Params().GifDelayTime * 10;
        return;
    }
    if (!io.IsMediaFileOpen()) io.OpenMediaFile(path);
    io.LoadMediaFrame(frame);
    delay = io.Params().MediaFrameTime * 10;
}

// The host's events and the load run outside the lock; a host that changes the list from one of
// them gets the entry's result dropped.
bool TKestovaMView::LoadImageNow(int index) {
    if (index < 0 || index >= GetImageCount()) return true;
    TKVMEntry& entry = *entries_[size_t(index)];
    const uint64_t listState = listChanges_;
    if (entry.ID >= 0 && OnImageIDRequest) {
        TBitmap* bitmap = nullptr;
        OnImageIDRequest(entry.ID, bitmap);
        if (listChanges_ == listState) SetImageTBitmap(index, bitmap);
        return true;
    }
    if (entry.ID >= 0 && OnImageIDRequestEx) {
        TKVBitmap* bitmap = nullptr;
        OnImageIDRequestEx(entry.ID, bitmap);
        if (listChanges_ == listState) SetImage(index, bitmap);
        return true;
    }
    if (entry.FileName.empty()) return true;
    const std::string name = entry.FileName;
    std::string path;
    int frame = 0;
    const bool isFrame = KVSplitFrameName(name, path, frame);
    // Kept alive for the load, whatever a host's event clears meanwhile.
    const std::shared_ptr<TKestovaIO> io = isFrame ? FrameIO(path) : io_;
    TKVBitmap bitmap;
    io->AttachBitmap(&bitmap);
    io->OnProgress = OnIOProgress;
    {
        std::lock_guard lock(KVGlobalLock);
        SetLoadParams(*io, entry);
    }
    if (mio_) {
        io->AutoAdjustDPI = mio_->AutoAdjustDPI;
        io->FilteredAdjustDPI = mio_->FilteredAdjustDPI;
    }
    int delay = 0;
    try {
        if (isFrame)
            LoadFileFrame(*io, path, frame, delay);
        else
            io->LoadFromFileAuto(name);
    } catch (const std::exception&) {
        io->AbortFlag = true;
    }
    const bool loaded = !io->AbortFlag;
    if (!loaded && listChanges_ == listState) DoWrongImage(bitmap, index);
    if (listChanges_ == listState) {
        if (isFrame) entry.Delay = delay;
        {
            std::lock_guard lock(KVGlobalLock);
            TakeLoadResult(entry, *io, bitmap);
        }
        ApplyArrivedParams(index);
    }
    io->AttachBitmap(nullptr);
    return loaded;
}

bool TKestovaMView::QueueLoad(int index) {
    if (index < 0 || index >= GetImageCount()) return true;
    const TKVMEntry& entry = *entries_[size_t(index)];
    std::string path;
    int frame;
    // Frames reuse one component per file, which only the main thread uses.
    if (KVSplitFrameName(entry.FileName, path, frame)) return false;
    std::lock_guard lock(KVGlobalLock);
    if (entry.Image || entry.LoadFailed) return true;
    loader_->Prune();
    if (loader_->IsQueuedOrRunning(entry.Serial)) return true;
    if (entry.ID >= 0 && (OnImageIDRequest || OnImageIDRequestEx)) return false;
    if (entry.FileName.empty()) return false;
    loader_->Enqueue(entry.Serial);
    if (!arrivalTimer_.isActive()) arrivalTimer_.start();
    return true;
}

void TKestovaMView::StopLoading() { loader_->StopAll(); }

int TKestovaMView::PendingLoads() {
    std::lock_guard lock(KVGlobalLock);
    return loader_->Pending();
}

void TKestovaMView::ReleaseCachedDrawing(int index) {
    if (index < 0 || index >= GetImageCount()) return;
    std::lock_guard lock(KVGlobalLock);
    ReleaseCachedDrawingOf(*entries_[size_t(index)]);
}

void TKestovaMView::ReleaseAllCachedDrawings() {
    std::lock_guard lock(KVGlobalLock);
    for (auto& entry : entries_) ReleaseCachedDrawingOf(*entry);
}

void TKestovaMView::DoWrongImage(TKVBitmap& bitmap, int index) {
    const int width = std::max(thumbWidth_, 1), height = std::max(thumbHeight_, 1);
    if (OnWrongImage) {
        bitmap.Allocate(width, height, kv24RGB);
        bool handled = false;
        OnWrongImage(bitmap, index, handled);
        if (handled) return;
    }
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setBold(true);
    font.setPointSize(height);
    painter.setFont(font);
    const QRect box = painter.fontMetrics().boundingRect(QStringLiteral("?"));
    const int x = (width - box.width()) / 2 - box.left(), y = (height - box.height()) / 2 - box.top();
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawText(x + 3, y + 3, QStringLiteral("?"));
    painter.setPen(QColor(0, 0, 0xFF));
    painter.drawText(x, y, QStringLiteral("?"));
    painter.end();
    KVImageToBitmap(picture, bitmap);
}
