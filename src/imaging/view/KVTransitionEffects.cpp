#include "imaging/view/KVTransitionEffects.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "imaging/view/KVTransitionDrawing.h"
#include "imaging/view/KVTransitionTable.h"

namespace {

// The picture at the frame's top-left corner over the background, cut at the frame's edges.
void PlaceOnFrame(TBitmap& frame, const TBitmap& picture, int width, int height, TColor background) {
    KVFillFrame(frame, width, height, background);
    TBitmap rgb(picture);
    if (rgb.PixelFormat() != TPixelFormat::pf24bit) rgb.SetPixelFormat(TPixelFormat::pf24bit);
    const int w = std::min(width, rgb.Width()), h = std::min(height, rgb.Height());
    KVCopyRect(frame, Rect(0, 0, w, h), rgb, Rect(0, 0, w, h));
}

}  // namespace

void KVDrawTransitionFrame(TKVTransitionType effect, int progress, TKVFrames& frames, const TKVPanZoom& panZoom,
                           TColor background, int& randomCount) {
    TBitmap& current = frames.current;
    if (effect == kvttPanZoom) {
        KVDrawPanZoom(progress, panZoom, current);
    } else if (KVIsBuiltinEffect(effect)) {
        KVDrawBuiltinEffect(effect, progress, frames, background, randomCount);
    } else if (progress == 0) {
        current = frames.from;
    } else if (effect >= 1 && effect <= KVEffectCount && TransitionEffectTable[effect - 1].Proc) {
        const int percent = int(std::nearbyint(progress / 1024.0 * 100));
        TransitionEffectTable[effect - 1].Proc(
            {current, frames.from, frames.to, percent, 1, Rect(0, 0, current.Width(), current.Height())});
    }
}

uint32_t KVSystemTickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

TKVTransitionEffects::TKVTransitionEffects(TKVTransitionHost& host, TKVTickClock clock)
    : host_(host), clock_(std::move(clock)) {
    ShrinkFrames();
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Tick(); });
}

void TKVTransitionEffects::Start(const TBitmap& from, const TBitmap& to, TKVTransitionType effect, int durationMs,
                                 bool showFinal) {
    Stop();
    const int w = host_.ViewWidth(), h = host_.ViewHeight();
    const TColor background = host_.Background();
    if (w <= 0 || h <= 0 || effect < 1 || effect > KVEffectCount || durationMs <= 0) {
        if (w > 0 && h > 0) {
            PlaceOnFrame(frames_.to, to, w, h, background);
            host_.ShowTransitionFrame(frames_.to);
            ShrinkFrames();
        }
        if (showFinal) host_.Update();
        return;
    }
    PlaceOnFrame(frames_.from, from, w, h, background);
    PlaceOnFrame(frames_.to, to, w, h, background);
    KVFillFrame(frames_.current, w, h, background);
    Begin(effect, durationMs, showFinal);
}

void TKVTransitionEffects::StartPanZoom(const TBitmap& source, const TRect& start, const TRect& end, int durationMs,
                                        bool showFinal) {
    Stop();
    panZoom_.source = source;
    if (panZoom_.source.PixelFormat() != TPixelFormat::pf24bit) panZoom_.source.SetPixelFormat(TPixelFormat::pf24bit);
    panZoom_.start = start;
    panZoom_.end = end;
    const int w = host_.ViewWidth(), h = host_.ViewHeight();
    const TColor background = host_.Background();
    // The two ends of the way stand for the old and the new picture.
    KVFillFrame(frames_.from, w, h, background);
    KVDrawPanZoom(0, panZoom_, frames_.from);
    KVFillFrame(frames_.to, w, h, background);
    KVDrawPanZoom(1024, panZoom_, frames_.to);
    KVFillFrame(frames_.current, w, h, background);
    if (w <= 0 || h <= 0 || durationMs <= 0) {
        if (w > 0 && h > 0) host_.ShowTransitionFrame(frames_.to);
        ShrinkFrames();
        if (showFinal) host_.Update();
        return;
    }
    Begin(kvttPanZoom, durationMs, showFinal);
}

void TKVTransitionEffects::Begin(TKVTransitionType effect, int durationMs, bool showFinal) {
    effect_ = effect;
    duration_ = durationMs;
    showFinal_ = showFinal;
    progress_ = 0;
    randomCount_ = 0;
    startTime_ = clock_();
    host_.LockPaint();
    running_ = true;
    timer_.start();
}

// Whatever the effect, so that no transition outlives its owner's wish to end it.
void TKVTransitionEffects::Stop() {
    if (!running_) return;
    timer_.stop();
    running_ = false;
    ShrinkFrames();
    host_.UnlockPaintNoUpdate();
    if (showFinal_) host_.Update();
}

void TKVTransitionEffects::Tick() {
    if (!running_) return;
    ++ticks_;
    KVDrawTransitionFrame(effect_, progress_, frames_, panZoom_, host_.Background(), randomCount_);
    host_.ShowTransitionFrame(frames_.current);
    const uint32_t elapsed = clock_() - startTime_;
    if (elapsed >= uint32_t(duration_)) {
        if (showFinal_) host_.ShowTransitionFrame(frames_.to);
        Stop();
    }
    progress_ = int(std::min<uint64_t>(uint64_t(elapsed) * 1024 / uint32_t(duration_), 1024));
}

void TKVTransitionEffects::ShrinkFrames() {
    for (TBitmap* frame : {&frames_.from, &frames_.to, &frames_.current}) KVFillFrame(*frame, 1, 1, clBlack);
    panZoom_.source = TBitmap();
}
