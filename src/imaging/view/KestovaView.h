#pragma once
// The single-image view: one TKVBitmap, zoomed and scrolled over a background, painted through a
// client-sized back buffer. Selection, mouse interaction and layers come later behind this class.
#include <QAbstractScrollArea>
#include <QImage>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "imaging/acquire/Capture.h"
#include "imaging/core/KVResampleFilter.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/view/KVViewBackground.h"
#include "imaging/view/KVViewport.h"

class TKestovaIO;
class TKestovaProc;
class TKVTransitionEffects;

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

struct TKVScrollBarParams {
    int lineStep = -1;  // -1: automatic
    int pageStep = -1;
    bool tracking = true;
};

class TKestovaView : public QAbstractScrollArea, public TKVView {
public:
    explicit TKestovaView(QWidget* parent = nullptr);
    ~TKestovaView() override;

    // --- The image
    TKVBitmap* GetKVBitmap() override { return bitmap_; }
    // With LegacyBitmap on, the class-library bitmap behind the image.
    TBitmap* GetTBitmap() override;
    bool LegacyBitmap = true;
    // Shows an outside bitmap without copying; the caller keeps it. nullptr returns to an own one.
    void AttachBitmap(TKVBitmap* bitmap);
    void SetDpiX(int dpi) override;
    void SetDpiY(int dpi) override;
    void SetDPI(int x, int y);
    int ResolutionX() const { return dpiX_; }
    int ResolutionY() const { return dpiY_; }
    // Fills the image with the background colour.
    void Clear();
    // A 1 x 1 image shows only the background.
    void Blank();
    bool IsBlank();
    // The content changed; blendAlpha puts a 24-bit image with alpha over the background first.
    // The alpha channel is dropped either way.
    void ImageChange(bool blendAlpha);
    void DoImageChange() override;
    void SetBackground(TColor color) override;
    TKestovaProc* GetProc();
    // Made on first use; loads write into the view's image, and Update shows what they wrote.
    TKestovaIO* GetIO();

    // --- Viewport
    double Zoom() const { return port_.zoom; }
    // Ignored for a zoom <= 0 or the current one; automatic fitting overrides it at the next Update.
    void SetZoom(double zoom);
    int OriginX() const { return port_.x.origin; }
    int OriginY() const { return port_.y.origin; }
    void SetOrigin(int x, int y);
    void SetOriginX(int x) { SetOrigin(x, port_.y.origin); }
    void SetOriginY(int y) { SetOrigin(port_.x.origin, y); }
    void GetMaxOrigin(int& maxX, int& maxY) const { port_.GetMaxOrigin(maxX, maxY); }
    double GetFitZoom() const;
    void FitToClient();
    void ZoomAround(int x, int y, double zoom, bool centred);
    int ClientToBitmapX(int x) const { return port_.ClientToBitmapX(x); }
    int ClientToBitmapY(int y) const { return port_.ClientToBitmapY(y); }
    int BitmapToClientX(int x) const { return port_.BitmapToClientX(x); }
    int BitmapToClientY(int y) const { return port_.BitmapToClientY(y); }
    bool CanScroll() const { return port_.CanScroll(); }
    const TKVViewport& Viewport() const { return port_; }
    void HoldUpdate() { ++updateLock_; }
    void ReleaseUpdate();
    int ViewWidth() const;
    int ViewHeight() const;

    // --- Settings; the setters refresh the view.
    void SetCenter(bool center);
    void SetAutoFit(bool on);
    void SetAutoStretch(bool on);
    void SetAutoShrink(bool on);
    bool AutoFit() const { return autoFit_; }
    bool AutoStretch() const { return autoStretch_; }
    bool AutoShrink() const { return autoShrink_; }
    void SetBackgroundStyle(TKVBackgroundStyle style);
    TKVBackgroundStyle BackgroundStyle() const { return background_.style; }
    void SetGradientEndColor(TColor color);
    // No repaint, as the dialogs set it before showing.
    void SetChessboardPattern(int size) { background_.chessboardSize = size; }
    void SetScrollBars(TScrollStyle style);
    // Other than rfNone, a zoomed image is drawn resampled with this filter.
    void SetZoomFilter(TResampleFilter filter);
    TResampleFilter ZoomFilter() const { return zoomFilter_; }
    // Drawn over the background style; a null image removes it.
    void SetWallPaper(const QImage& wallPaper);
    void SetWallPaperStyle(TKVWallPaperStyle style);
    // Writes the library's version line into the bottom-right corner.
    void SetDrawVersion(bool on);
    bool DrawVersion() const { return drawVersion_; }
    static std::string KestovaVersion();
    TKVScrollBarParams HorzScrollBar, VertScrollBar;
    TKVMouseWheelParams MouseWheelParams;

    // --- Live capture
    // The capture's frames and graph events reach this view on the GUI thread from its next Run.
    // Destroying the view disconnects a capture that still posts to it.
    void ConnectCapture(TKVCapture& capture);
    // A new frame is copied into the image and shown; a handle whose capture is gone or
    // disconnected does nothing.
    void CaptureMessage(TKVCaptureMessage message, TKVCaptureHandle handle);

    // --- Transitions
    // The view's transition engine; nothing in the program starts one. While one runs it holds
    // the paint lock, and the view shows the engine's frames instead of its picture.
    TKVTransitionEffects& TransitionEffects() { return *transition_; }
    void LockPaint() { ++paintLock_; }
    void UnlockPaintNoUpdate() { paintLock_ = std::max(paintLock_ - 1, 0); }

    // --- Events
    std::function<void(int change)> OnViewChange;  // 0 origin, 1 zoom
    std::function<void()> OnImageChange;
    std::function<void()> OnPaint;
    std::function<void()> OnDShowNewFrame;
    std::function<void()> OnDShowEvent;

    // Refits, sets the scroll bars and repaints from the image.
    void Update() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void AutomaticFit();
    void FitMargins(int& mx, int& my) const;
    void UpdateScrollBars();
    void ScrollBarMoved(Qt::Orientation orientation, int value);
    void NotifyViewChange(int change);
    void RenderBackBuffer();
    void RenderNearest(const QRect& imageRect);
    void RenderFiltered(const QRect& imageRect);
    void CopyVisibleWindow(TKVBitmap& window);
    void PaintVersion(QPainter& painter);
    void ShowOriginOnBars();

    std::unique_ptr<TKVBitmap> own_;
    TKVBitmap* bitmap_ = nullptr;
    std::unique_ptr<TKestovaProc> proc_;
    std::unique_ptr<TKestovaIO> io_;
    TKVViewport port_;
    TKVBackground background_;
    QImage backBuffer_;
    bool dirty_ = true;
    int updateLock_ = 0;
    bool inUpdate_ = false;
    bool settingBars_ = false;
    int dpiX_ = 0, dpiY_ = 0;
    bool autoFit_ = false, autoStretch_ = false, autoShrink_ = false;
    TScrollStyle scrollBars_ = ssBoth;
    TResampleFilter zoomFilter_ = rfNone;
    bool drawVersion_ = false;
    TKVCaptureHandle capture_ = 0;
    class TransitionHost;
    std::unique_ptr<TransitionHost> transitionHost_;
    std::unique_ptr<TKVTransitionEffects> transition_;
    int paintLock_ = 0;
    QImage transitionFrame_;  // the last frame a transition showed
};
