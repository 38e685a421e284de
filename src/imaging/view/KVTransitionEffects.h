#pragma once
// The transition engine a view owns: on every tick of a 1 ms timer it draws the frame between the
// old picture and the new one for the time elapsed, and shows it on the view.
#include <QTimer>
#include <cstdint>
#include <functional>

#include "imaging/view/KVBuiltinTransitions.h"
#include "imaging/view/KVTransitionTypes.h"
#include "platform/Graphics.h"

// What the engine needs of the view it runs on.
class TKVTransitionHost {
public:
    virtual ~TKVTransitionHost() = default;
    // The size of the frames: the view's client area.
    virtual int ViewWidth() const = 0;
    virtual int ViewHeight() const = 0;
    // The colour the fades pass through.
    virtual TColor Background() const = 0;
    // Puts the frame on the screen at the client area's top-left corner, at once.
    virtual void ShowTransitionFrame(const TBitmap& frame) = 0;
    // A running transition holds one paint lock, released without a repaint when it stops.
    virtual void LockPaint() = 0;
    virtual void UnlockPaintNoUpdate() = 0;
    virtual void Update() = 0;
};

// Draws frames.current for effect at progress 0..1024, as one tick of the engine does: the
// built-in effects and the pan and zoom by themselves, the others by the effect table's procedure
// with the progress in percent, after starting from the old picture at progress 0.
void KVDrawTransitionFrame(TKVTransitionType effect, int progress, TKVFrames& frames, const TKVPanZoom& panZoom,
                           TColor background, int& randomCount);

// Milliseconds of a monotonic clock, wrapping as the system tick count does.
using TKVTickClock = std::function<uint32_t()>;
uint32_t KVSystemTickCount();

class TKVTransitionEffects {
public:
    explicit TKVTransitionEffects(TKVTransitionHost& host, TKVTickClock clock = KVSystemTickCount);
    TKVTransitionEffects(const TKVTransitionEffects&) = delete;
    TKVTransitionEffects& operator=(const TKVTransitionEffects&) = delete;

    // Runs from the old picture to the new one, each placed at the top-left corner of a frame of
    // the view's size over the background. An effect outside 1..163, an empty view or a duration
    // of at most 0 shows the new picture at once instead. With showFinal the new picture is shown
    // and the view updated at the end.
    void Start(const TBitmap& from, const TBitmap& to, TKVTransitionType effect, int durationMs, bool showFinal);
    // Pans and zooms over source from the rectangle start to end (source pixels).
    void StartPanZoom(const TBitmap& source, const TRect& start, const TRect& end, int durationMs, bool showFinal);
    // Ends a running transition; the frames shrink back and the view's paint lock is released.
    void Stop();
    // One timer tick: draws and shows the frame, ends the transition when its time is up, and
    // measures the progress the next tick draws with.
    void Tick();

    bool Running() const { return running_; }
    TKVTransitionType Effect() const { return effect_; }
    int Duration() const { return duration_; }
    bool ShowFinal() const { return showFinal_; }
    int Progress() const { return progress_; }  // 0..1024
    int TickCount() const { return ticks_; }
    const TBitmap& CurrentFrame() const { return frames_.current; }
    bool TimerActive() const { return timer_.isActive(); }

private:
    void Begin(TKVTransitionType effect, int durationMs, bool showFinal);
    void ShrinkFrames();

    TKVTransitionHost& host_;
    TKVTickClock clock_;
    TKVFrames frames_;
    TKVPanZoom panZoom_;
    QTimer timer_;
    bool running_ = false;
    int progress_ = 0;
    int randomCount_ = 0;
    TKVTransitionType effect_ = kvttNone;
    int duration_ = 1000;
    uint32_t startTime_ = 0;
    bool showFinal_ = false;
    int ticks_ = 0;
};
