#include "tzlib/qt/AniPict.h"

#include <QPainter>
#include <QTimer>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVGifAnimation.h"
#include "imaging/core/KVProgress.h"
#include "platform/Classes.h"

namespace {

// A composed frame as a picture with alpha: BGR rows, alpha 0 where the GIF is transparent.
QImage ToImage(TKVBitmap& bitmap) {
    if (bitmap.GetPixelFormat() != kv24RGB) bitmap.ConvertPixelFormat(kv24RGB);
    TKVBitmap* alpha = bitmap.GetHasAlphaChannel() ? bitmap.GetAlphaChannel() : nullptr;
    QImage image(bitmap.GetWidth(), bitmap.GetHeight(), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* bgr = bitmap.GetScanline(y);
        const uint8_t* a = alpha ? alpha->GetScanline(y) : nullptr;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x, bgr += 3) out[x] = qRgba(bgr[2], bgr[1], bgr[0], a ? a[x] : 255);
    }
    return image;
}

// Every pixel of the colour becomes transparent.
void ClearColour(QImage& image, QRgb colour) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) != 0 && (row[x] & RGB_MASK) == (colour & RGB_MASK)) row[x] = 0;
    }
}

}  // namespace

TTzAniPict::TTzAniPict(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    connect(timer_, &QTimer::timeout, this, &TTzAniPict::Tick);
}

void TTzAniPict::SetFileName(const std::string& fileName) {
    fileName_ = fileName;
    if (fileName.empty()) return;
    TMemoryStream file;
    file.LoadFromFile(fileName);
    SetPictureData(file.Bytes());
}

void TTzAniPict::SetPictureData(std::vector<uint8_t> data) {
    data_ = std::move(data);
    Decode();
}

void TTzAniPict::SetTransparent(bool transparent) {
    if (transparent == transparent_) return;
    transparent_ = transparent;
    if (!data_.empty()) Decode();
}

void TTzAniPict::Decode() {
    frames_.clear();
    timer_->stop();
    if (data_.size() < 3 || data_[0] != 'G' || data_[1] != 'I' || data_[2] != 'F')
        throw EPict(std::string("Not a ") + "GIF" + " file");
    TMemoryStream stream;
    stream.Write(data_.data(), static_cast<int64_t>(data_.size()));
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    TIOParamsVals params(nullptr);
    bool ownTransparency = false;
    for (int i = 0, count = 1; i < count && !aborted; ++i) {
        TKVBitmap bitmap;
        params.GifImageIndex = i;
        stream.SetPosition(0);
        count = ComposeGIFFrame(stream, bitmap, params, progress);
        if (aborted || bitmap.IsEmpty()) break;  // the frames read so far stay playable
        ownTransparency = ownTransparency || params.GifTransparent;
        frames_.push_back({ToImage(bitmap), static_cast<uint16_t>(params.GifDelayTime)});
    }
    if (transparent_ && !ownTransparency && !frames_.empty()) {
        const QImage& first = frames_.front().image;
        const QRgb bottomLeft = first.pixel(0, first.height() - 1);
        for (TFrame& frame : frames_) ClearColour(frame.image, bottomLeft);
    }
    if (AutoSize && !frames_.empty()) resize(frames_.front().image.size());
    SetStep(0);
}

void TTzAniPict::SetStep(int n) {
    if (n < 0 || n >= static_cast<int>(frames_.size())) return;
    step_ = n;
    update();
    ScheduleNext();
}

void TTzAniPict::ScheduleNext() {
    if (frames_.size() == 1) {
        timer_->stop();
        return;
    }
    if (!play_) return;
    const int own = frames_[step_].delay;
    const bool last = step_ == static_cast<int>(frames_.size()) - 1;
    const int delay = (own != 0 || (last && !Loop)) ? own : DefaultDelay;
    timer_->setInterval(delay * 10);
    if (delay != 0) {
        timer_->start();
        return;
    }
    // No timer will tick again: a last frame without a delay ends the animation here.
    timer_->stop();
    if (last && OnLoop) OnLoop();
}

void TTzAniPict::SetPlay(bool play) {
    play_ = play;
    if (play) SetStep(0); else timer_->stop();
}

void TTzAniPict::Tick() {
    if (step_ < static_cast<int>(frames_.size()) - 1) {
        SetStep(step_ + 1);
        return;
    }
    timer_->stop();
    if (OnLoop) OnLoop();
    if (timer_->interval() != 0) SetStep(0);
}

int TTzAniPict::TimerInterval() const { return timer_->isActive() ? timer_->interval() : 0; }

void TTzAniPict::paintEvent(QPaintEvent*) {
    if (frames_.empty()) return;
    QPainter painter(this);
    painter.drawImage(rect(), frames_[step_].image);
}
