#pragma once
// The single-image view: one TKVBitmap, zoomed and scrolled over a background, painted through a
// client-sized back buffer, with a selection the mouse draws and layers composed into the buffer.
#include <QAbstractScrollArea>
#include <QImage>
#include <algorithm>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/acquire/Capture.h"
#include "imaging/core/KVCoreUtils.h"
#include "imaging/core/KVResampleFilter.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/view/KVLayer.h"
#include "imaging/view/KVMouseDrag.h"
#include "imaging/view/KVMouseInteract.h"
#include "imaging/view/KVScrollStyle.h"
#include "imaging/view/KVSelection.h"
#include "imaging/view/KVViewBackground.h"
#include "imaging/view/KVViewport.h"

class QPainter;
class TKestovaIO;
class TKestovaProc;
class TKVTransitionEffects;

class TKestovaView : public QAbstractScrollArea, public TKVView, public TKVSelectionView {
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
    // Fills the image with the background colour.
    void Clear();
    // A 1 x 1 image shows only the background.
    void Blank();
    bool IsBlank();
    // The content changed; blendAlpha puts a 24-bit image with alpha over the background first.
    // The alpha channel is dropped either way.
    void ImageChange(bool blendAlpha);
    void DoImageChange() override;
    // Safe from any thread: the view shows the change on its own.
    void PostImageChange(int dpiX, int dpiY) override;
    void TakeFocusBack() override;
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
    // Another kind of scroll bar on the original platform; Qt has one kind, so the setting is
    // kept and the bars are only set up again.
    void SetFlatScrollBars(bool on);
    bool FlatScrollBars() const { return flatScrollBars_; }
    // Other than rfNone, a zoomed image is drawn resampled with this filter.
    void SetZoomFilter(TResampleFilter filter);
    TResampleFilter ZoomFilter() const { return zoomFilter_; }
    // Scrolling and zooming draw unfiltered; the filtered picture follows once the view has
    // rested for a few ticks of its timer, and mouse drags without drag scrolling stay unfiltered.
    bool DelayZoomFilter = false;
    // Ticks of the view's timer left before the filtered picture, and before the selection's
    // border shows again after the view moved.
    int ZoomFilterDelay() const { return zoomFilterDelay_; }
    int SelectionDelay() const { return selectionDelay_; }
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
    // A painter on what the view shows, over the picture and under the selection's border, with
    // the client rectangle; not while a transition runs.
    std::function<void(QPainter& canvas, const QRect& rect)> OnDrawCanvas;
    // Asked first for every key pressed in the view, Tab included; a handled key goes no further,
    // to no other event of the view nor to the window around it.
    std::function<void(int key, bool& handled)> OnSpecialKey;
    // Keys as Qt numbers them. The navigation keys (page up and down, home, end, arrows) belong to
    // the view: they reach OnKeyDown and move neither the focus nor the scroll bars.
    std::function<void(int key, Qt::KeyboardModifiers shift)> OnKeyDown;
    // Not for the releases of a held key's repeats, which repeat only OnKeyDown and OnKeyPress.
    std::function<void(int key, Qt::KeyboardModifiers shift)> OnKeyUp;
    // The text a pressed key types.
    std::function<void(const QString& text)> OnKeyPress;

    // Refits, sets the scroll bars and repaints from the image.
    void Update() override;

    // --- Mouse interaction and the selection (KestovaViewSelection.cpp, KestovaViewMouse.cpp)
    TKVMouseInteract MouseInteract() const { return mouseInteract_; }
    // Keeps only the modes that work with the one the value adds; ends a polygon in progress.
    virtual void SetMouseInteract(TKVMouseInteract value);
    TKVSelectionOptions SelectionOptions() const { return selectionOptions_; }
    void SetSelectionOptions(TKVSelectionOptions options);
    // Whether the selection operations below take client or bitmap coordinates.
    TKVSelectionBase SelectionBase = kvsbClientArea;
    TColor BorderColorA() const { return selection_.BorderColorA; }
    TColor BorderColorB() const { return selection_.BorderColorB; }
    void SetBorderColorA(TColor color);
    void SetBorderColorB(TColor color);
    int WandMode = 0;  // 0 contour, 1 flood fill, 2 every pixel of the colour
    int WandTolerance = 15;
    bool WandMaxFilter = false;
    bool MultipleSelections = true;  // Shift adds
    // -1 free, 0 a fixed size, above 0 a fixed width/height ratio.
    double SelectionAspect = -1;
    int FixedSelectionWidth = 100, FixedSelectionHeight = 100;
    bool GripsAtMiddles = true;
    // The rectangle replaces the selection, or is added as a further polygon.
    virtual void AddSelectionRect(int x1, int y1, int x2, int y2, bool add);
    virtual void AddSelectionPoint(int x, int y);
    // Selects the colour region around the seed pixel (WandMode, WandTolerance, WandMaxFilter).
    void WandSelect(int x, int y, bool add);
    // Moves polygon and mask; in client coordinates the distances are client pixels.
    void ShiftSelection(int dx, int dy);
    void ClearSelection();
    // Fills the polygon into the mask; an empty result hides the selection.
    virtual void EndSelection();
    // Moves the remembered drag points after the view scrolled under them.
    virtual void ShiftDragOrigin(int dx, int dy);
    const TKVSelection& Selection() const { return selection_; }
    TKVMask* SelectionMask() override { return &selection_.Mask; }
    bool HasSelection() override { return selection_.Present; }
    const TPoint* GetPolySelPoints() override { return selection_.Points().data(); }
    int GetPolySelCount() override { return selection_.Count(); }
    void SaveSelectionToStream(TStream& stream) override;
    bool LoadSelectionFromStream(TStream& stream) override;
    void PushSelection();
    bool PopSelection();
    void ZoomToSelection();
    // One tick of the view's timer: a step of the border's animation and of the delays above.
    // The timer calls it, tests may too.
    void SelectionTimerTick();
    // While a drag rests beyond the image area the view goes on scrolling; the timer calls it,
    // tests may too.
    void AutoScrollTick();
    bool AutoScrollActive() const { return autoScrollTimer_.isActive(); }
    bool SelectionTimerActive() const { return selectionTimer_.isActive(); }
    int SelectionTimerInterval() const { return selectionTimer_.interval(); }
    // The view's base cursor, a number of its cursor set.
    int Cursor() const { return cursor_; }
    void SetCursor(int number);
    std::function<void()> OnSelectionChange;
    std::function<void()> OnSelectionChanging;
    std::function<void()> OnBeforeSelectionChange;
    std::function<void()> OnMouseInSel;
    std::function<void(int grip)> OnMouseInResizingGrip;
    std::function<void(double& zoom)> OnZoomIn;
    std::function<void(double& zoom)> OnZoomOut;

    // --- Layers and the back buffer (KestovaViewLayers.cpp)
    int LayersCount() const { return layers_.Count(); }
    TKVLayer& GetLayer(int index) { return layers_[index]; }
    TKVLayer& GetCurrentLayer() { return layers_[layers_.Current]; }
    int CurrentLayer() const { return layers_.Current; }
    // Further layers go above the others.
    TKVLayer& AddLayer(std::unique_ptr<TKVLayer> layer);
    virtual void SetCurrentLayer(int index);
    void UpdateLayerBitmaps();
    int LayerAt(int x, int y);
    int LayerGripAt(int x, int y) const { return layers_.LayerGripAt(x, y); }
    virtual void NotifyLayer(int layer, int event);
    // Composes background and layers, then the selection's fill and outer marking.
    virtual void PaintToBackBuffer(QImage& backBuffer);
    void SetEnableAlphaChannel(bool on);
    bool EnableAlphaChannel() const { return enableAlpha_; }
    std::function<void(int layer, int event)> OnLayerNotify;
    std::function<void()> OnDrawBackBuffer;
    std::function<void(QImage& target, const QRect& rect, bool& handled)> OnDrawBackground;

protected:
    bool event(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void AutomaticFit();
    void FitMargins(int& mx, int& my) const;
    void UpdateScrollBars();
    void ScrollBarMoved(Qt::Orientation orientation, int value);
    void NotifyViewChange(int change);
    void RenderBackBuffer();
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
    bool autoFit_ = false, autoStretch_ = false, autoShrink_ = false;
    TScrollStyle scrollBars_ = ssBoth;
    bool flatScrollBars_ = false;
    TResampleFilter zoomFilter_ = rfNone;
    bool drawVersion_ = false;
    TKVCaptureHandle capture_ = 0;
    class TransitionHost;
    std::unique_ptr<TransitionHost> transitionHost_;
    std::unique_ptr<TKVTransitionEffects> transition_;
    int paintLock_ = 0;
    QImage transitionFrame_;  // the last frame a transition showed

    // Selection, mouse and layers
    void InitSelectionAndLayers();
    void FollowBitmapSize();
    void DrawSelectionBorder(QImage& shown);
    void UpdateSelectionTimer();
    void ShowCursor(int number);
    void ClearSelectionQuietly();
    void WandSelectAt(int x, int y, bool add);
    void ClosePolygon(bool keepMask);
    TPoint ToBitmap(int x, int y) const;
    TPoint ClampToImageArea(int x, int y) const;
    TPoint ClampToBitmap(TPoint p) const;
    bool SelectionModes() const;
    void StartLeftDrag(const TPoint& p, Qt::KeyboardModifiers modifiers);
    bool StartMoveIfInside(const TPoint& p);
    void StartLayerDrag(const TPoint& p);
    void DragTo(const TPoint& raw, Qt::KeyboardModifiers modifiers);
    bool AutoScroll(const TPoint& raw);
    bool FilterWaitsForRest() const;
    void LoadDelays();
    void HoldFilterForDrag();
    void RestoreFilterAfterDrag();
    void DragGrip(const TPoint& p, bool alt);
    void DragMove(const TPoint& p);
    void DragRectangle(const TPoint& p, bool alt);
    void DragCircle(const TPoint& p, bool alt);
    void DragLayer(const TPoint& p, bool alt);
    void Hover(const TPoint& p, Qt::KeyboardModifiers modifiers);
    void ClickZoom(const TPoint& p, Qt::MouseButton button);
    void EndLeftDrag(const TPoint& p, Qt::KeyboardModifiers modifiers);
    void ReplaceDragPolygon(const std::vector<TPoint>& points);
    void SelectionChanging();

    TKVSelection selection_;
    TKVLayerList layers_;
    TKVMouseInteract mouseInteract_;
    TKVSelectionOptions selectionOptions_{kvsoAnimated, kvsoSizeable, kvsoMoveable, kvsoCanScroll};
    TKVMouseDrag drag_;
    QTimer selectionTimer_;
    QTimer autoScrollTimer_;
    int zoomFilterDelay_ = 0, selectionDelay_ = 0;
    TResampleFilter filterBeforeDrag_ = rfNone;
    bool filterHeld_ = false;  // a drag switched the filter off and restores it on release
    std::vector<std::unique_ptr<TMemoryStream>> savedSelections_;
    int cursor_ = 1785;
    bool enableAlpha_ = false;
    int seenWidth_ = -1, seenHeight_ = -1;
};
