// The thumbnail view's entries, layout, scrolling and playback.
#include "imaging/view/KestovaMView.h"

#include <QScrollBar>
#include <QWheelEvent>
#include <QTimerEvent>
#include <charconv>
#include <mutex>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVVirtualImageList.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/proc/KestovaProc.h"
#include "imaging/view/KVThumbLoader.h"
#include "imaging/view/KVThumbStore.h"
#include "imaging/view/KVTransitionEffects.h"
#include "imaging/view/KVWindowHelpers.h"
#include "imaging/view/KestovaMIO.h"
#include "platform/qt/QtBitmap.h"

namespace {

// No file path holds a NUL byte.
constexpr char FrameSeparator = '\0';
constexpr int PlayTimerMinimum = 10;
constexpr int ArrivalPollInterval = 15;  // ms
constexpr int MaxLayoutPasses = 9;

std::unique_ptr<TKVVirtualImageList> NewStore(const char* name) {
    return std::make_unique<TKVVirtualImageList>(name);
}

}  // namespace

std::string KVFrameName(const std::string& path, int frame) {
    return path + FrameSeparator + std::to_string(frame);
}

bool KVSplitFrameName(const std::string& name, std::string& path, int& frame) {
    const size_t at = name.find(FrameSeparator);
    if (at == std::string::npos) return false;
    path = name.substr(0, at);
    const char* first = name.data() + at + 1;
    const char* last = name.data() + name.size();
    const auto [end, error] = std::from_chars(first, last, frame);
    if (error != std::errc() || end != last || first == last) frame = 0;
    return true;
}

// The transition engine's way to the view: its frames are painted in place of the cells.
class TKestovaMView::TransitionHost : public TKVTransitionHost {
public:
    explicit TransitionHost(TKestovaMView& view) : view_(view) {}
    int ViewWidth() const override { return view_.clientWidth_; }
    int ViewHeight() const override { return view_.clientHeight_; }
    TColor Background() const override { return view_.Background(); }
    void ShowTransitionFrame(const TBitmap& frame) override {
        view_.transitionFrame_ = ToQImage(frame);
        view_.viewport()->repaint();
    }
    void LockPaint() override { view_.LockPaint(); }
    void UnlockPaintNoUpdate() override {
        view_.UnlockPaintNoUpdate();
        view_.transitionFrame_ = QImage();
    }
    void Update() override { view_.Update(); }

private:
    TKestovaMView& view_;
};

TKestovaMView::TKestovaMView(QWidget* parent)
    : QAbstractScrollArea(parent), store_(NewStore("ILIST")), cache_(NewStore("ICACHE")),
      io_(std::make_shared<TKestovaIO>()), transitionHost_(std::make_unique<TransitionHost>(*this)),
      transition_(std::make_unique<TKVTransitionEffects>(*transitionHost_)),
      loader_(std::make_unique<TKVThumbLoader>(*this)) {
    resize(180, 90);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    arrivalTimer_.setInterval(ArrivalPollInterval);
    connect(&arrivalTimer_, &QTimer::timeout, this, [this] { LoadsArrived(); });
    background_.color = Background();
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { ScrollBarMoved(Qt::Horizontal, value); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { ScrollBarMoved(Qt::Vertical, value); });
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { ScrollBarAction(Qt::Horizontal, action); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { ScrollBarAction(Qt::Vertical, action); });
    clientWidth_ = viewport()->width();
    clientHeight_ = viewport()->height();
}

TKestovaMView::~TKestovaMView() {
    destroying_ = true;
    DeselectNU();
    KillPlayTimer();
    loader_.reset();
    mio_.reset();
    proc_.reset();
    std::lock_guard lock(KVGlobalLock);
    frameIOs_.clear();
    entries_.clear();
    layout_.cells.clear();
}

// --- Entries

void TKestovaMView::SetChange(int kind, int index, int index2) {
    changeKind_ = kind;
    changeIndex_ = index;
    changeIndex2_ = index2;
}

void TKestovaMView::TakeFocusBack() { KVGiveFocusTo(this); }

void TKestovaMView::CallChangeHandlers() {
    TKVView::CallChangeHandlers(false);
    changeKind_ = 0;
}

int TKestovaMView::IndexOfSerial(uint64_t serial) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i]->Serial == serial) return int(i);
    return -1;
}

void TKestovaMView::InsertImage(int index) {
    SetPlaying(false);
    auto entry = std::make_unique<TKVMEntry>();
    entry->Background = Background();
    for (int i = 0; i < 3; ++i) {
        entry->Captions[i].Font = font();
        entry->Captions[i].Background = Background();
        entry->Captions[i].Position = uint8_t(i);
    }
    // A negative index inserts at the front, never before the list.
    const int at = std::clamp(index, 0, GetImageCount());
    {
        std::lock_guard lock(KVGlobalLock);
        entry->Serial = nextSerial_++;
        entries_.insert(entries_.begin() + at, std::move(entry));
        ++listChanges_;
        layout_.cells.insert(layout_.cells.begin() + at, TKVCellPlace{});
    }
    SetChange(1, at);
    CallChangeHandlers();
    UpdateLayout(false);
}

void TKestovaMView::RemovePicture(TKVMEntry& entry) {
    DropPicture(entry);
    ReleaseCachedDrawingOf(entry);
}

void TKestovaMView::DropPicture(TKVMEntry& entry) {
    if (!entry.Image) return;
    // The store frees a lent picture with its entry.
    if (heldEntry_ == entry.Image) {
        heldPicture_ = nullptr;
        heldEntry_ = nullptr;
    }
    store_->Delete(entry.Image);
    entry.Image = nullptr;
}

void TKestovaMView::ReleaseCachedDrawingOf(TKVMEntry& entry) {
    if (!entry.Cached) return;
    cache_->Delete(entry.Cached);
    entry.Cached = nullptr;
}

bool TKestovaMView::DeleteImage(int index) {
    SetPlaying(false);
    if (index < 0 || index >= GetImageCount()) return false;
    const int oldSelection = selected_;
    DeselectNU();
    {
        std::lock_guard lock(KVGlobalLock);
        RemovePicture(*entries_[size_t(index)]);
        entries_.erase(entries_.begin() + index);
        ++listChanges_;
        layout_.cells.erase(layout_.cells.begin() + index);
    }
    int selection = oldSelection;
    if (oldSelection == index && index == GetImageCount())
        selection = GetImageCount() - 1;
    else if (index < oldSelection)
        --selection;
    DoSelectImage(selection);
    SetChange(2, index);
    CallChangeHandlers();
    return true;
}

void TKestovaMView::MoveImage(int from, int to) {
    const int count = GetImageCount();
    if (from < 0 || from >= count || to < 0 || from == to) return;
    SetPlaying(false);
    DeselectNU();
    {
        std::lock_guard lock(KVGlobalLock);
        auto entry = std::move(entries_[size_t(from)]);
        entries_.erase(entries_.begin() + from);
        entries_.insert(entries_.begin() + std::min(to, count - 1), std::move(entry));
        ++listChanges_;
    }
    SetChange(3, from, to);
    CallChangeHandlers();
    UpdateLayout(false);
}

void TKestovaMView::SwapImages(int a, int b) {
    const int count = GetImageCount();
    if (a < 0 || b < 0 || a >= count || b >= count || a == b) return;
    SetPlaying(false);
    DeselectNU();
    {
        std::lock_guard lock(KVGlobalLock);
        std::swap(entries_[size_t(a)], entries_[size_t(b)]);
        ++listChanges_;
    }
    SetChange(4, a, b);
    CallChangeHandlers();
    UpdateLayout(false);
}

void TKestovaMView::Clear() {
    Deselect();
    StopLoading();
    while (GetImageCount() > 0) DeleteImage(GetImageCount() - 1);
    {
        std::lock_guard lock(KVGlobalLock);
        store_ = NewStore("ILIST");
        store_->SetMaxMapped(imageCacheSize_);
        cache_ = NewStore("ICACHE");
        frameIOs_.clear();
    }
    Update();
}

void TKestovaMView::StorePicture(TKVMEntry& entry, TKVBitmap& bitmap) {
    RemovePicture(entry);
    std::unique_ptr<TKVBitmap> stored = KVReducedForStore(bitmap, StoreRule());
    // The store keeps rows without a palette.
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    if (!stored && format != kv1Bit && format != kv24RGB) {
        stored = std::make_unique<TKVBitmap>();
        stored->Assign(&bitmap);
        stored->ConvertPixelFormat(kv24RGB);
    }
    entry.Image = store_->AddBitmap(stored ? *stored : bitmap);
    if (!entry.Image) return;
    entry.Image->SourceWidth = bitmap.GetWidth();
    entry.Image->SourceHeight = bitmap.GetHeight();
}

TKVStoreRule TKestovaMView::StoreRule() const {
    return {storeType_ == kvtThumb, thumbWidth_, thumbHeight_, EnlargeSmallImages, ThumbnailFilter};
}

void TKestovaMView::SetImage(int index, TKVBitmap* bitmap) {
    if (!bitmap) return;
    if (index >= 0 && index < GetImageCount()) {
        std::lock_guard lock(KVGlobalLock);
        StorePicture(*entries_[size_t(index)], *bitmap);
    }
    if (index == selected_) {
        ReleaseHeldSelection();
        CallChangeHandlers();
    }
    viewport()->update();
}

void TKestovaMView::SetImageTBitmap(int index, TBitmap* bitmap) {
    if (!bitmap) return;
    TKVBitmap wrapped;
    wrapped.EncapsulateTBitmap(bitmap, false);
    SetImage(index, &wrapped);
}

void TKestovaMView::SetImageFileName(int index, const std::string& name) {
    if (index < 0 || index >= GetImageCount()) return;
    std::lock_guard lock(KVGlobalLock);
    entries_[size_t(index)]->FileName = name;
    entries_[size_t(index)]->ID = -1;
}

std::string TKestovaMView::GetImageFileName(int index) const {
    if (index < 0 || index >= GetImageCount()) return {};
    return entries_[size_t(index)]->FileName;
}

void TKestovaMView::SetImageID(int index, int32_t id) {
    if (index < 0 || index >= GetImageCount()) return;
    std::lock_guard lock(KVGlobalLock);
    entries_[size_t(index)]->ID = id;
}

void TKestovaMView::SetImageDelayTime(int index, int milliseconds) {
    if (index >= 0 && index < GetImageCount()) entries_[size_t(index)]->Delay = milliseconds;
}

int TKestovaMView::GetImageDelayTime(int index) const {
    return index >= 0 && index < GetImageCount() ? entries_[size_t(index)]->Delay : 0;
}

void TKestovaMView::SetImageOriginalWidth(int index, int value) {
    std::lock_guard lock(KVGlobalLock);
    if (index >= 0 && index < GetImageCount() && entries_[size_t(index)]->Image)
        entries_[size_t(index)]->Image->SourceWidth = value;
}

void TKestovaMView::SetImageOriginalHeight(int index, int value) {
    std::lock_guard lock(KVGlobalLock);
    if (index >= 0 && index < GetImageCount() && entries_[size_t(index)]->Image)
        entries_[size_t(index)]->Image->SourceHeight = value;
}

int TKestovaMView::GetImageOriginalWidth(int index) {
    std::lock_guard lock(KVGlobalLock);
    if (index < 0 || index >= GetImageCount() || !entries_[size_t(index)]->Image) return 0;
    return entries_[size_t(index)]->Image->SourceWidth;
}

int TKestovaMView::GetImageOriginalHeight(int index) {
    std::lock_guard lock(KVGlobalLock);
    if (index < 0 || index >= GetImageCount() || !entries_[size_t(index)]->Image) return 0;
    return entries_[size_t(index)]->Image->SourceHeight;
}

TKVMText* TKestovaMView::ImageCaption(int index, int position) {
    if (index < 0 || index >= GetImageCount() || position < 0 || position > 2) return nullptr;
    return &entries_[size_t(index)]->Captions[position];
}

int TKestovaMView::GetImageRow(int index) const { return CellOf(index).row; }
int TKestovaMView::GetImageCol(int index) const { return CellOf(index).col; }

TKVCellPlace TKestovaMView::CellOf(int index) const {
    if (index < 0 || size_t(index) >= layout_.cells.size()) return {};
    return layout_.cells[size_t(index)];
}

bool TKestovaMView::HasPicture(int index) {
    std::lock_guard lock(KVGlobalLock);
    return index >= 0 && index < GetImageCount() && entries_[size_t(index)]->Image;
}

bool TKestovaMView::HasCachedDrawing(int index) {
    std::lock_guard lock(KVGlobalLock);
    return index >= 0 && index < GetImageCount() && entries_[size_t(index)]->Cached;
}

std::unique_ptr<TKVBitmap> TKestovaMView::GetBitmap(int index) {
    if (!HasPicture(index)) LoadImageNow(index);
    std::lock_guard lock(KVGlobalLock);
    if (index < 0 || index >= GetImageCount()) return nullptr;
    TKVVirtualEntry* image = entries_[size_t(index)]->Image;
    if (!image) return nullptr;
    auto copy = std::make_unique<TKVBitmap>();
    store_->LoadEntryToBitmap(image, *copy);
    return copy;
}

void TKestovaMView::FillFromFile(const std::string& fileName) {
    Clear();
    const int count = GetFileFrameCount(fileName);
    LockPaint();
    for (int n = 0; n < count; ++n) {
        InsertImage(n);
        SetImageFileName(n, KVFrameName(fileName, n));
    }
    UnlockPaint();
}

TKestovaMIO* TKestovaMView::GetMIO() {
    if (!mio_) {
        mio_ = std::make_unique<TKestovaMIO>();
        mio_->OnProgress = OnProgress;
        mio_->SetAttachedMView(this);
    }
    return mio_.get();
}

TKestovaProc* TKestovaMView::GetProc() {
    if (!proc_) {
        proc_ = std::make_unique<TKestovaProc>();
        proc_->OnProgress = OnProgress;
    }
    return proc_.get();
}

void TKestovaMView::SetOnProgress(TKVProgressEvent event) {
    OnProgress = std::move(event);
    if (mio_) mio_->OnProgress = OnProgress;
    if (proc_) proc_->OnProgress = OnProgress;
}

// --- Layout and position

int TKestovaMView::Columns() const { return KVThumbColumns(Metrics(), clientWidth_); }

TKVThumbMetrics TKestovaMView::Metrics() const {
    return {thumbWidth_, thumbHeight_, horizBorder_, vertBorder_, gridWidth_, displayMode_ == mdSingle};
}

void TKestovaMView::ComputeLayout() {
    TKVGridLayout layout = KVComputeThumbLayout(Metrics(), Columns(), GetImageCount());
    std::lock_guard lock(KVGlobalLock);
    layout_ = std::move(layout);
}

void TKestovaMView::Update() { UpdateLayout(true); }

void TKestovaMView::UpdateLayout(bool releaseCache) {
    if (paintLock_ > 0 || updating_ || destroying_) return;
    updating_ = true;
    if (releaseCache) ReleaseAllCachedDrawings();
    ComputeLayout();
    // Showing or hiding a bar changes the client size, which may change the columns in turn.
    for (int pass = 0; pass < MaxLayoutPasses; ++pass) {
        const QSize before = viewport()->size();
        ShowScrollBars();
        clientWidth_ = viewport()->width();
        clientHeight_ = viewport()->height();
        if (viewport()->size() == before) break;
        ComputeLayout();
    }
    CallChangeHandlers();
    updating_ = false;
    viewport()->update();
}

void TKestovaMView::ShowScrollBars() {
    int maxX, maxY;
    GetMaxViewXY(maxX, maxY);
    if (viewX_ > maxX || viewY_ > maxY) {
        viewX_ = std::min<int>(viewX_, maxX);
        viewY_ = std::min<int>(viewY_, maxY);
        FireViewChange(0);
    }
    settingBars_ = true;
    const auto setBar = [this](QScrollBar* bar, bool chosen, int maximum, int client, int origin, bool tracking,
                               double& scale, Qt::Orientation orientation) {
        if (!chosen) return;
        const Qt::ScrollBarPolicy policy = maximum < 1 ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn;
        if (maximum >= 1) {
            scale = (client + maximum - 1) / 65536.0;
            bar->setRange(0, 65535);
            bar->setPageStep(int(client / scale));
            bar->setValue(int(origin / scale));
            bar->setTracking(tracking);
        }
        if (orientation == Qt::Horizontal)
            setHorizontalScrollBarPolicy(policy);
        else
            setVerticalScrollBarPolicy(policy);
    };
    setBar(horizontalScrollBar(), scrollBars_ == ssHorizontal || scrollBars_ == ssBoth, maxX, clientWidth_, viewX_,
           HorzScrollBar.Tracking, scaleX_, Qt::Horizontal);
    setBar(verticalScrollBar(), scrollBars_ == ssVertical || scrollBars_ == ssBoth, maxY, clientHeight_, viewY_,
           VertScrollBar.Tracking, scaleY_, Qt::Vertical);
    settingBars_ = false;
}

void TKestovaMView::ScrollBarMoved(Qt::Orientation orientation, int value) {
    if (settingBars_) return;
    // A bar that already stands for the origin leaves it, so that no rounding moves it.
    if (orientation == Qt::Horizontal) {
        if (value != int(viewX_ / scaleX_)) SetViewX(int(value * scaleX_));
    } else if (value != int(viewY_ / scaleY_)) {
        SetViewY(int(value * scaleY_));
    }
}

void TKestovaMView::ScrollBarAction(Qt::Orientation orientation, int action) {
    const bool horizontal = orientation == Qt::Horizontal;
    const TKVScrollBarParams& params = horizontal ? HorzScrollBar : VertScrollBar;
    const int line = params.LineStep != -1 ? params.LineStep
                     : horizontal          ? thumbWidth_ + horizBorder_
                                           : thumbHeight_ + vertBorder_;
    const int page = params.PageStep != -1 ? params.PageStep : horizontal ? clientWidth_.load() : clientHeight_.load();
    int maxX, maxY;
    GetMaxViewXY(maxX, maxY);
    const int origin = horizontal ? viewX_.load() : viewY_.load();
    int target;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub: target = origin - line; break;
        case QAbstractSlider::SliderSingleStepAdd: target = origin + line; break;
        case QAbstractSlider::SliderPageStepSub: target = origin - page; break;
        case QAbstractSlider::SliderPageStepAdd: target = origin + page; break;
        case QAbstractSlider::SliderToMinimum: target = 0; break;
        case QAbstractSlider::SliderToMaximum: target = horizontal ? maxX : maxY; break;
        default: return;  // the thumb's moves arrive as values
    }
    if (horizontal)
        SetViewX(target);
    else
        SetViewY(target);
    // The bar applies the position it stands at once this returns: the origin's, not its own step.
    QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
    bar->setSliderPosition(horizontal ? int(viewX_ / scaleX_) : int(viewY_ / scaleY_));
}

void TKestovaMView::SetViewXY(int x, int y) {
    int maxX, maxY;
    GetMaxViewXY(maxX, maxY);
    x = std::clamp(x, 0, maxX);
    y = std::clamp(y, 0, maxY);
    if (x == viewX_ && y == viewY_) return;
    viewX_ = x;
    viewY_ = y;
    viewport()->update();
    settingBars_ = true;
    if (scrollBars_ == ssHorizontal || scrollBars_ == ssBoth) horizontalScrollBar()->setValue(int(x / scaleX_));
    if (scrollBars_ == ssVertical || scrollBars_ == ssBoth) verticalScrollBar()->setValue(int(y / scaleY_));
    settingBars_ = false;
}

void TKestovaMView::GetMaxViewXY(int& maxX, int& maxY) const {
    maxX = std::max(layout_.width - clientWidth_, 0);
    maxY = std::max(layout_.height - clientHeight_, 0);
}

int TKestovaMView::ImageAtPos(int x, int y) const {
    return KVThumbAtPos(Metrics(), layout_, Columns(), viewX_, viewY_, x, y);
}

int TKestovaMView::GetImageVisibility(int index) const {
    if (index < 0 || index >= GetImageCount()) return 0;
    const TKVCellPlace cell = CellOf(index);
    const TRect rect{cell.x - viewX_, cell.y - viewY_, cell.x - viewX_ + thumbWidth_, cell.y - viewY_ + thumbHeight_};
    return KVRectOverlapKind(rect, TRect{0, 0, clientWidth_, clientHeight_});
}

bool TKestovaMView::IsEntryVisible(int index) const {
    if (index < 0 || size_t(index) >= layout_.cells.size()) return false;
    const TKVCellPlace& cell = layout_.cells[size_t(index)];
    const int left = cell.x - viewX_, top = cell.y - viewY_;
    return left <= clientWidth_ - 1 && left + thumbWidth_ - 1 >= 0 && top <= clientHeight_ - 1 &&
           top + thumbHeight_ - 1 >= 0;
}

void TKestovaMView::SetScrollBars(TScrollStyle value) {
    scrollBars_ = value;
    if (value != ssHorizontal && value != ssBoth) setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (value != ssVertical && value != ssBoth) setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    UpdateLayout(false);
}

void TKestovaMView::SetFlatScrollBars(bool value) {
    if (value == flatScrollBars_) return;
    flatScrollBars_ = value;
    if (!value) return;
    settingBars_ = true;
    horizontalScrollBar()->setRange(0, 65535);
    verticalScrollBar()->setRange(0, 65535);
    settingBars_ = false;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TKestovaMView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    clientWidth_ = viewport()->width();
    clientHeight_ = viewport()->height();
    UpdateLayout(false);
}

void TKestovaMView::wheelEvent(QWheelEvent* event) {
    ++userInput_;
    const int delta = event->angleDelta().y();
    const int step = thumbHeight_ + vertBorder_;
    if (delta > 0) SetViewY(viewY_ - step);
    if (delta < 0) SetViewY(viewY_ + step);
    FireViewChange(0);
    --userInput_;
}

void TKestovaMView::enterEvent(QEnterEvent* event) {
    QAbstractScrollArea::enterEvent(event);
    if (OnMouseEnter) OnMouseEnter();
}

void TKestovaMView::leaveEvent(QEvent* event) {
    QAbstractScrollArea::leaveEvent(event);
    if (OnMouseLeave) OnMouseLeave();
}

void TKestovaMView::FireViewChange(int change) {
    if (userInput_ > 0 && OnViewChange) OnViewChange(change);
}

// --- Settings

namespace {

int BoundedCellSize(int value) { return std::clamp(value, 0, KVThumbSizeLimit); }

}  // namespace

void TKestovaMView::SetThumbWidth(int value) {
    {
        std::lock_guard lock(KVGlobalLock);
        thumbWidth_ = BoundedCellSize(value);
    }
    ReleaseAllCachedDrawings();
    Update();
}

void TKestovaMView::SetThumbHeight(int value) {
    {
        std::lock_guard lock(KVGlobalLock);
        thumbHeight_ = BoundedCellSize(value);
    }
    ReleaseAllCachedDrawings();
    Update();
}

void TKestovaMView::SetHorizBorder(int value) {
    horizBorder_ = BoundedCellSize(value);
    UpdateLayout(false);
}

void TKestovaMView::SetVertBorder(int value) {
    vertBorder_ = BoundedCellSize(value);
    UpdateLayout(false);
}

void TKestovaMView::SetBottomGap(int value) {
    bottomGap_ = value;
    Update();
}

void TKestovaMView::SetUpperGap(int value) {
    upperGap_ = value;
    Update();
}

void TKestovaMView::SetGridWidth(int value) {
    gridWidth_ = value;
    Update();
}

void TKestovaMView::SetDisplayMode(TKVDisplayMode mode) {
    if (playing_) {
        savedMode_ = mode;
        return;
    }
    displayMode_ = mode;
    Update();
}

void TKestovaMView::SetStoreType(TKVStoreType type) {
    {
        std::lock_guard lock(KVGlobalLock);
        storeType_ = type;
    }
    Update();
}

void TKestovaMView::SetStyle(TKVMViewStyle style) {
    if (style_ == style) return;
    style_ = style;
    Update();
}

void TKestovaMView::SetSelectionStyle(TKVSelectionStyle style) {
    if (selectionStyle_ == style) return;
    selectionStyle_ = style;
    Update();
}

void TKestovaMView::SetSelectionWidth(int value) {
    selectionWidth_ = value;
    Update();
}

void TKestovaMView::SetSelectionColor(TColor color) {
    selectionColor_ = color;
    Update();
}

void TKestovaMView::SetThumbnailsBackground(TColor color) {
    thumbsBackground_ = color;
    Update();
}

void TKestovaMView::SetThumbnailsBorderWidth(int value) {
    if (thumbsBorderWidth_ == value) return;
    thumbsBorderWidth_ = value;
    Update();
}

void TKestovaMView::SetThumbnailsBorderColor(TColor color) {
    if (thumbsBorderColor_ == color) return;
    thumbsBorderColor_ = color;
    Update();
}

void TKestovaMView::SetThumbnailsInternalBorder(bool on) {
    if (internalBorder_ == on) return;
    internalBorder_ = on;
    Update();
}

void TKestovaMView::SetThumbnailsInternalBorderColor(TColor color) {
    if (internalBorderColor_ == color) return;
    internalBorderColor_ = color;
    Update();
}

void TKestovaMView::SetBackground(TColor color) {
    TKVView::SetBackground(color);
    background_.color = color;
    Update();
}

void TKestovaMView::SetBackgroundStyle(TKVBackgroundStyle style) {
    background_.style = style;
    Update();
}

void TKestovaMView::SetThumbnailsBackgroundStyle(TKVBackgroundStyle style) {
    thumbsBackgroundStyle_ = style;
    Update();
}

void TKestovaMView::SetWallPaper(const QImage& picture) {
    background_.wallPaper = picture;
    Update();
}

void TKestovaMView::SetWallPaperStyle(TKVWallPaperStyle style) {
    if (background_.wallPaperStyle == style) return;
    background_.wallPaperStyle = style;
    Update();
}

void TKestovaMView::SetChessboardStyle(int size, bool variant) {
    background_.chessboardSize = size;
    background_.chessboardVariant = variant;
    Update();
}

void TKestovaMView::SetThumbnailOverlays(const QImage& selected, const QImage& other, const QRect& pictureArea) {
    overlaySelected_ = selected;
    overlayOther_ = other;
    overlayArea_ = pictureArea;
    Update();
}

void TKestovaMView::SetFillThumbnail(bool value) {
    fillThumbnail_ = value;
    Update();
}

void TKestovaMView::SetEnableMultiSelect(bool value) {
    if (enableMultiSelect_ == value) return;
    enableMultiSelect_ = value;
    Update();
}

void TKestovaMView::SetDrawImageBackground(bool value) {
    drawImageBackground_ = value;
    Update();
}

void TKestovaMView::SetVisibleSelection(bool value) {
    visibleSelection_ = value;
    Update();
}

void TKestovaMView::SetThreadPoolSize(int value) {
    threadPoolSize_ = value;
    Update();
}

void TKestovaMView::SetImageCacheSize(int value) {
    {
        std::lock_guard lock(KVGlobalLock);
        imageCacheSize_ = value;
        store_->SetMaxMapped(value);
    }
    Update();
}

void TKestovaMView::SetEnableAlphaChannel(bool value) {
    enableAlpha_ = value;
    Update();
}

void TKestovaMView::UnlockPaint() {
    paintLock_ = std::max(paintLock_ - 1, 0);
    if (paintLock_ == 0) Update();
}

// --- Playback

void TKestovaMView::KillPlayTimer() {
    if (playTimer_) killTimer(playTimer_);
    playTimer_ = 0;
}

void TKestovaMView::SetPlaying(bool value) {
    if (value == playing_) return;
    if (value) {
        savedMode_ = displayMode_;
        savedSelection_ = selected_;
        Deselect();
        playing_ = true;
        PlayStep();
        return;
    }
    playing_ = false;
    PlayStep();
    displayMode_ = savedMode_;
    Update();
    SetSelectedImage(savedSelection_);
}

void TKestovaMView::PlayStep() {
    if (stepping_ || destroying_) return;
    stepping_ = true;
    KillPlayTimer();
    const int count = GetImageCount();
    if (playing_ && count > 0) {
        if (displayMode_ != mdSingle) {
            displayMode_ = mdSingle;
            Update();
        }
        frameIndex_ = std::clamp(frameIndex_, 0, count - 1);
        const int painted = frameIndex_;
        viewport()->repaint();
        bool ended = false;
        if (painted == count - 1) {
            frameIndex_ = 0;
            CallChangeHandlers();
            if (!PlayLoop) {
                playing_ = false;
                ended = true;
            }
        } else {
            ++frameIndex_;
        }
        if (!ended) {
            playInterval_ = std::max(entries_[size_t(painted)]->Delay, PlayTimerMinimum);
            playTimer_ = startTimer(playInterval_);
        }
    }
    stepping_ = false;
}

void TKestovaMView::timerEvent(QTimerEvent* event) {
    if (event->timerId() == playTimer_) PlayStep();
}
