#include "imaging/view/KestovaView.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBlend.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/proc/KestovaProc.h"
#include "imaging/view/KVIOPreviews.h"
#include "imaging/view/KVTransitionEffects.h"
#include "imaging/view/KVWindowHelpers.h"
#include "imaging/view/KVViewCursors.h"
#include "platform/qt/QtBitmap.h"

namespace {

// A component's capture reaches the view the component belongs to without the caller's help.
const bool captureFactoryInstalled = [] {
    SetCaptureFactory([](TKVView* view) {
        auto capture = std::make_shared<TKVCapture>();
        if (auto* kestova = dynamic_cast<TKestovaView*>(view)) kestova->ConnectCapture(*capture);
        return capture;
    });
    return true;
}();

// The input/output component's parameters preview is a window, so the view library shows it.
const bool previewsDialogInstalled = [] {
    SetPreviewsDialog(ShowIOPreviews);
    return true;
}();

}  // namespace

// The transition engine's way to the view: its frames are painted in place of the picture.
class TKestovaView::TransitionHost : public TKVTransitionHost {
public:
    explicit TransitionHost(TKestovaView& view) : view_(view) {}
    int ViewWidth() const override { return view_.ViewWidth(); }
    int ViewHeight() const override { return view_.ViewHeight(); }
    TColor Background() const override { return view_.Background(); }
    void ShowTransitionFrame(const TBitmap& frame) override {
        view_.transitionFrame_ = ToQImage(frame);
        view_.viewport()->repaint();
    }
    void LockPaint() override { view_.LockPaint(); }
    void UnlockPaintNoUpdate() override { view_.UnlockPaintNoUpdate(); }
    void Update() override { view_.Update(); }

private:
    TKestovaView& view_;
};

TKestovaView::TKestovaView(QWidget* parent)
    : QAbstractScrollArea(parent),
      own_(std::make_unique<TKVBitmap>()),
      transitionHost_(std::make_unique<TransitionHost>(*this)),
      transition_(std::make_unique<TKVTransitionEffects>(*transitionHost_)) {
    ++updateLock_;
    bitmap_ = own_.get();
    bitmap_->Allocate(0, 0, kv24RGB);
    SetDPI(DefaultDpiX, DefaultDpiY);
    setFrameShape(QFrame::StyledPanel);
    setFocusPolicy(Qt::StrongFocus);
    // The back buffer covers every pixel, so Qt need not clear the viewport first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    for (Qt::Orientation o : {Qt::Horizontal, Qt::Vertical}) {
        QScrollBar* bar = o == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
        connect(bar, &QScrollBar::valueChanged, this, [this, o](int value) { ScrollBarMoved(o, value); });
    }
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    resize(105, 105);
    InitSelectionAndLayers();
    ReleaseUpdate();
}

// The processing component leaves the view before the image goes; the base tells the others.
TKestovaView::~TKestovaView() {
    // Its worker would otherwise post to a freed view.
    if (TKVCapture* capture = TKVCapture::FromHandle(capture_)) capture->Disconnect();
    // Background loads write into this view's image and post to it.
    if (io_) io_->WaitThreads(true);
    proc_.reset();
}

TBitmap* TKestovaView::GetTBitmap() { return LegacyBitmap ? bitmap_->GetTBitmap() : nullptr; }

void TKestovaView::AttachBitmap(TKVBitmap* bitmap) {
    if (bitmap) {
        own_.reset();
        bitmap_ = bitmap;
    } else {
        own_ = std::make_unique<TKVBitmap>();
        bitmap_ = own_.get();
    }
    // The attached components take the new bitmap through their handlers, the view's own again
    // too, since the caller's may go.
    CallChangeHandlers();
    if (bitmap) Update();
}

void TKestovaView::Clear() {
    bitmap_->Fill(ColorToRGB(Background()));
    ImageChange(false);
    Update();
}

void TKestovaView::Blank() {
    transition_->Stop();
    bitmap_->Allocate(1, 1, kv24RGB);
    Clear();
}

bool TKestovaView::IsBlank() { return bitmap_->GetWidth() < 2 && bitmap_->GetHeight() < 2; }

void TKestovaView::ImageChange(bool blendAlpha) {
    if (blendAlpha && bitmap_->GetPixelFormat() == kv24RGB && bitmap_->GetHasAlphaChannel()) {
        const TColor bg = ColorToRGB(Background());
        const int r = GetRValue(bg), g = GetGValue(bg), b = GetBValue(bg);
        TKVBitmap& alpha = *bitmap_->GetAlphaChannel();
        for (int y = 0; y < bitmap_->GetHeight(); ++y) {
            // The file location keeps one row in memory at a time: copy the alpha row first.
            const std::vector<uint8_t> a(alpha.GetScanline(y), alpha.GetScanline(y) + bitmap_->GetWidth());
            auto* row = reinterpret_cast<TKVRGB*>(bitmap_->GetScanline(y));
            for (int x = 0; x < bitmap_->GetWidth(); ++x) {
                row[x].b = KVBlendOpacity(row[x].b, b, a[x]);
                row[x].g = KVBlendOpacity(row[x].g, g, a[x]);
                row[x].r = KVBlendOpacity(row[x].r, r, a[x]);
            }
        }
    }
    bitmap_->RemoveAlphaChannel();
    dirty_ = true;
}

void TKestovaView::DoImageChange() {
    if (OnImageChange) OnImageChange();
}

void TKestovaView::PostImageChange(int dpiX, int dpiY) {
    QMetaObject::invokeMethod(this, [this, dpiX, dpiY] {
        SetDPI(dpiX, dpiY);
        Update();
        DoImageChange();
    }, Qt::QueuedConnection);
}

void TKestovaView::TakeFocusBack() { KVGiveFocusTo(this); }

void TKestovaView::SetBackground(TColor color) {
    TKVView::SetBackground(color);
    background_.color = color;
    Update();
    DoImageChange();
}

TKestovaProc* TKestovaView::GetProc() {
    if (!proc_) {
        proc_ = std::make_unique<TKestovaProc>();
        proc_->SetAttachedKestova(this);
    }
    return proc_.get();
}

TKestovaIO* TKestovaView::GetIO() {
    if (!io_) {
        io_ = std::make_unique<TKestovaIO>();
        io_->SetAttachedKestova(this);
    }
    return io_.get();
}

void TKestovaView::ConnectCapture(TKVCapture& capture) {
    capture_ = capture.Handle();
    capture.SetNotify([this](TKVCaptureMessage message, TKVCaptureHandle handle) {
        QMetaObject::invokeMethod(this, [this, message, handle] { CaptureMessage(message, handle); },
                                  Qt::QueuedConnection);
    });
}

void TKestovaView::CaptureMessage(TKVCaptureMessage message, TKVCaptureHandle handle) {
    TKVCapture* capture = TKVCapture::FromHandle(handle);
    if (!capture || !capture->IsConnected()) return;
    if (message == kvcmGraphEvent) {
        if (OnDShowEvent) OnDShowEvent();
        return;
    }
    if (!capture->GetSample(*bitmap_)) return;
    ImageChange(false);
    Update();
    if (OnDShowNewFrame) OnDShowNewFrame();
}

// From the frame and the bars in place rather than the viewport, which a hidden widget lays out
// only when it is shown.
int TKestovaView::ViewWidth() const {
    const bool bar = verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn;
    return std::max(contentsRect().width() - (bar ? verticalScrollBar()->sizeHint().width() : 0), 0);
}
int TKestovaView::ViewHeight() const {
    const bool bar = horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn;
    return std::max(contentsRect().height() - (bar ? horizontalScrollBar()->sizeHint().height() : 0), 0);
}

void TKestovaView::ReleaseUpdate() {
    if (updateLock_ > 0 && --updateLock_ == 0) Update();
}

void TKestovaView::SetZoom(double zoom) {
    if (zoom <= 0 || zoom == port_.zoom) return;
    LoadDelays();
    port_.ApplyZoom(zoom);
    Update();
    NotifyViewChange(1);
}

void TKestovaView::SetOrigin(int x, int y) {
    if (x == port_.x.origin && y == port_.y.origin) return;
    int maxX, maxY;
    port_.GetMaxOrigin(maxX, maxY);
    x = std::clamp(x, 0, maxX);
    y = std::clamp(y, 0, maxY);
    if (x == port_.x.origin && y == port_.y.origin) return;
    LoadDelays();
    port_.x.origin = x;
    port_.y.origin = y;
    port_.Recompute();
    dirty_ = true;
    viewport()->update();
    NotifyViewChange(0);
    ShowOriginOnBars();
}

void TKestovaView::FitMargins(int& mx, int& my) const {
    if (background_.style == kvbsCropped) {
        mx = my = KVEdgeWidth;
    } else if (background_.style == kvbsCropShadow) {
        mx = my = KVShadowWidth;
    } else {
        mx = my = frameWidth();
    }
}

double TKestovaView::GetFitZoom() const {
    int mx, my;
    FitMargins(mx, my);
    return port_.GetFitZoom(mx, my);
}

void TKestovaView::FitToClient() {
    if (bitmap_->GetWidth() <= 0 || bitmap_->GetHeight() <= 0) return;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SetZoom(GetFitZoom());
}

void TKestovaView::ZoomAround(int x, int y, double zoom, bool centred) {
    const int bx = ClientToBitmapX(x), by = ClientToBitmapY(y);
    SetZoom(zoom);
    int ox, oy;
    port_.OriginForZoomAround(bx, by, x, y, centred, ox, oy);
    SetOrigin(ox, oy);
}

void TKestovaView::SetCenter(bool center) {
    if (port_.center == center) return;
    port_.center = center;
    Update();
}
void TKestovaView::SetAutoFit(bool on) {
    autoFit_ = on;
    Update();
}
void TKestovaView::SetAutoStretch(bool on) {
    autoStretch_ = on;
    Update();
}
void TKestovaView::SetAutoShrink(bool on) {
    autoShrink_ = on;
    Update();
}
void TKestovaView::SetBackgroundStyle(TKVBackgroundStyle style) {
    background_.style = style;
    Update();
}
void TKestovaView::SetGradientEndColor(TColor color) {
    background_.gradientEnd = color;
    Update();
}
void TKestovaView::SetZoomFilter(TResampleFilter filter) {
    if (filter == zoomFilter_) return;
    zoomFilter_ = filter;
    Update();
}
void TKestovaView::SetWallPaper(const QImage& wallPaper) {
    background_.wallPaper = wallPaper;
    Update();
}
void TKestovaView::SetWallPaperStyle(TKVWallPaperStyle style) {
    if (style == background_.wallPaperStyle) return;
    background_.wallPaperStyle = style;
    Update();
}
void TKestovaView::SetDrawVersion(bool on) {
    drawVersion_ = on;
    Update();
}

namespace {
constexpr const char* KestovaVersionNumber = "1.0.0";
constexpr const char* KestovaReleaseDate = "12/10/2026";
}  // namespace

std::string TKestovaView::KestovaVersion() { return KestovaVersionNumber; }

void TKestovaView::SetScrollBars(TScrollStyle style) {
    scrollBars_ = style;
    Update();
}

void TKestovaView::SetFlatScrollBars(bool on) {
    if (on == flatScrollBars_) return;
    flatScrollBars_ = on;
    Update();
}

void TKestovaView::AutomaticFit() {
    if (!(autoFit_ || autoStretch_ || autoShrink_) || port_.x.bitmapSize <= 0 || port_.y.bitmapSize <= 0) return;
    int mx, my;
    FitMargins(mx, my);
    int availMx = mx, availMy = my;
    if (background_.style != kvbsCropped && background_.style != kvbsCropShadow) {
        availMx = (width() - ViewWidth()) / 2;
        availMy = (height() - ViewHeight()) / 2;
    }
    port_.zoom = port_.AutoFitZoom(ViewWidth() - 2 * availMx, ViewHeight() - 2 * availMy, autoStretch_ || autoFit_,
                                   autoShrink_ || autoFit_, mx, my);
    NotifyViewChange(1);
    // A fitted picture does not move under the user: nothing waits for it to rest.
    zoomFilterDelay_ = selectionDelay_ = 0;
    UpdateSelectionTimer();
}

void TKestovaView::Update() {
    if (updateLock_ > 0) return;
    inUpdate_ = true;
    UpdateLayerBitmaps();
    port_.x.outerSize = width();
    port_.y.outerSize = height();
    port_.x.clientSize = ViewWidth();
    port_.y.clientSize = ViewHeight();
    AutomaticFit();
    FollowBitmapSize();
    const QSize before(ViewWidth(), ViewHeight());
    UpdateScrollBars();
    if (QSize(ViewWidth(), ViewHeight()) != before) {
        // A bar came or went: fit again into the client area it left.
        port_.x.clientSize = ViewWidth();
        port_.y.clientSize = ViewHeight();
        AutomaticFit();
        UpdateScrollBars();
    }
    port_.Recompute();
    dirty_ = true;
    viewport()->update();
    inUpdate_ = false;
}

void TKestovaView::UpdateScrollBars() {
    port_.ComputeZoomedSize();
    if (port_.ClampOrigin()) NotifyViewChange(0);
    int maxX, maxY;
    port_.GetMaxOrigin(maxX, maxY);
    settingBars_ = true;
    const auto setBar = [&](QScrollBar* bar, bool allowed, int client, int max, int origin, bool horizontal) {
        const bool shown = allowed && max >= 1;
        const auto policy = shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
        horizontal ? setHorizontalScrollBarPolicy(policy) : setVerticalScrollBarPolicy(policy);
        if (!shown) return;
        const double scale = KVScrollScale(client, max);
        const int page = static_cast<int>(client / scale);
        bar->setRange(0, 65535 - page + 1);
        bar->setPageStep(page);
        bar->setValue(static_cast<int>(origin / scale));
    };
    setBar(horizontalScrollBar(), scrollBars_ == ssHorizontal || scrollBars_ == ssBoth, ViewWidth(), maxX,
           port_.x.origin, true);
    setBar(verticalScrollBar(), scrollBars_ == ssVertical || scrollBars_ == ssBoth, ViewHeight(), maxY,
           port_.y.origin, false);
    horizontalScrollBar()->setTracking(HorzScrollBar.Tracking);
    verticalScrollBar()->setTracking(VertScrollBar.Tracking);
    horizontalScrollBar()->setSingleStep(std::max(
        1, int(KVScrollLineStep(port_.Factor(), HorzScrollBar.LineStep) / KVScrollScale(ViewWidth(), maxX))));
    verticalScrollBar()->setSingleStep(std::max(
        1, int(KVScrollLineStep(port_.Factor(), VertScrollBar.LineStep) / KVScrollScale(ViewHeight(), maxY))));
    settingBars_ = false;
}

void TKestovaView::ShowOriginOnBars() {
    int maxX, maxY;
    port_.GetMaxOrigin(maxX, maxY);
    settingBars_ = true;
    if (maxX > 0) horizontalScrollBar()->setValue(int(port_.x.origin / KVScrollScale(ViewWidth(), maxX)));
    if (maxY > 0) verticalScrollBar()->setValue(int(port_.y.origin / KVScrollScale(ViewHeight(), maxY)));
    settingBars_ = false;
}

void TKestovaView::ScrollBarMoved(Qt::Orientation orientation, int value) {
    if (settingBars_) return;
    int maxX, maxY;
    port_.GetMaxOrigin(maxX, maxY);
    if (orientation == Qt::Horizontal)
        SetOriginX(static_cast<int>(value * KVScrollScale(ViewWidth(), maxX)));
    else
        SetOriginY(static_cast<int>(value * KVScrollScale(ViewHeight(), maxY)));
}

void TKestovaView::NotifyViewChange(int change) {
    if (OnViewChange) OnViewChange(change);
}

void TKestovaView::RenderBackBuffer() {
    if (backBuffer_.size() != viewport()->size()) backBuffer_ = QImage(viewport()->size(), QImage::Format_RGB32);
    PaintToBackBuffer(backBuffer_);
}

void TKestovaView::PaintVersion(QPainter& painter) {
    const QString line = QStringLiteral("Kestova Version %1 - %2").arg(KestovaVersionNumber, KestovaReleaseDate);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    QRect box = painter.fontMetrics().boundingRect(line);
    box.moveBottomRight(viewport()->rect().bottomRight());
    painter.fillRect(box, Qt::white);
    painter.setPen(Qt::black);
    painter.drawText(box, Qt::AlignRight | Qt::AlignBottom, line);
}

void TKestovaView::paintEvent(QPaintEvent*) {
    if (viewport()->width() <= 0 || viewport()->height() <= 0) return;
    // A failing repaint must never take the program down.
    try {
        if (paintLock_ > 0) {
            QPainter(viewport()).drawImage(0, 0, transitionFrame_);
            return;
        }
        if (dirty_ || backBuffer_.size() != viewport()->size()) {
            RenderBackBuffer();
            dirty_ = false;
        }
        QPainter painter(viewport());
        const bool border = selection_.Visible || drag_.rubberBand;
        if (border || OnDrawCanvas) {
            QImage shown = backBuffer_;
            if (OnDrawCanvas) {
                QPainter canvas(&shown);
                OnDrawCanvas(canvas, shown.rect());
            }
            if (border) DrawSelectionBorder(shown);
            painter.drawImage(0, 0, shown);
        } else {
            painter.drawImage(0, 0, backBuffer_);
        }
        if (OnPaint) OnPaint();
        if (drawVersion_) PaintVersion(painter);
    } catch (const std::exception&) {
    }
}

void TKestovaView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (inUpdate_) return;
    // The frames were made for the old size.
    transition_->Stop();
    Update();
}

void TKestovaView::wheelEvent(QWheelEvent* event) {
    const TKVMouseWheelParams& params = MouseWheelParams;
    const int delta = event->angleDelta().y();
    if (params.Action == kvwaNone || autoFit_ || delta == 0) return;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (params.Action == kvwaZoom) {
        double zoom = KVWheelZoom(port_.zoom, delta, params);
        const double old = port_.zoom;
        if (zoom > old && OnZoomIn) OnZoomIn(zoom);
        if (zoom < old && OnZoomOut) OnZoomOut(zoom);
        if (params.ZoomAtCursor)
            ZoomAround(int(event->position().x()), int(event->position().y()), zoom, false);
        else
            SetZoom(zoom);
        return;
    }
    int maxX, maxY;
    port_.GetMaxOrigin(maxX, maxY);
    const bool horizontal = ctrl || (maxX > 0 && maxY == 0);
    const int step = KVWheelScroll(port_.Factor(), horizontal ? ViewWidth() : ViewHeight(), delta, params);
    if (horizontal)
        SetOriginX(port_.x.origin + step);
    else
        SetOriginY(port_.y.origin + step);
}

// Keys are offered to OnSpecialKey before anything else sees them, Tab's move of the focus too.
bool TKestovaView::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress && OnSpecialKey) {
        bool handled = false;
        OnSpecialKey(static_cast<QKeyEvent*>(event)->key(), handled);
        if (handled) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TKestovaView::enterEvent(QEnterEvent* event) {
    QAbstractScrollArea::enterEvent(event);
    if (OnMouseEnter) OnMouseEnter();
}

void TKestovaView::leaveEvent(QEvent* event) {
    QAbstractScrollArea::leaveEvent(event);
    if (OnMouseLeave) OnMouseLeave();
}

void TKestovaView::keyPressEvent(QKeyEvent* event) {
    if (OnKeyDown) OnKeyDown(event->key(), event->modifiers());
    if (event->key() == Qt::Key_Shift && MultipleSelections) ShowCursor(KVAddModeCursor(cursor_));
    // The navigation keys belong to the view; what they do comes with its mouse and key handling.
    switch (event->key()) {
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_End:
        case Qt::Key_Home:
        case Qt::Key_Left:
        case Qt::Key_Up:
        case Qt::Key_Right:
        case Qt::Key_Down: event->accept(); return;
        default:
            if (OnKeyPress && !event->text().isEmpty()) OnKeyPress(event->text());
            QAbstractScrollArea::keyPressEvent(event);
    }
}

void TKestovaView::keyReleaseEvent(QKeyEvent* event) {
    if (OnKeyUp && !event->isAutoRepeat()) OnKeyUp(event->key(), event->modifiers());
    // Releasing Shift itself still reports it held.
    if (event->key() == Qt::Key_Shift || !(event->modifiers() & Qt::ShiftModifier)) ShowCursor(cursor_);
    QAbstractScrollArea::keyReleaseEvent(event);
}
