#pragma once
// The thumbnail view: an ordered list of pictures shown as cells of a grid (or one at a time),
// scrolled, selected with mouse and keys and played as an animation. Pictures named by file are
// loaded when their cells come into view, at once or by a pool of background loads.
#include <QAbstractScrollArea>
#include <QFont>
#include <QImage>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVCoreUtils.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVResampleFilter.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/view/KVScrollStyle.h"
#include "imaging/view/KVTransitionTypes.h"
#include "imaging/view/KVThumbGrid.h"
#include "imaging/view/KVViewBackground.h"

class TIOParamsVals;
class QPainter;
class TKestovaIO;
class TKestovaMIO;
class TKestovaProc;
class TKVBitmap;
class TKVThumbLoader;
class TKVTransitionEffects;
class TKVVirtualImageList;
struct TKVStoreRule;
struct TKVVirtualEntry;

// Names frame `frame` of the file at `path`. The separator is a byte no file path can hold, so a
// file whose name looks like a frame reference still loads as that file.
std::string KVFrameName(const std::string& path, int frame);
// False for a plain file name; a frame number that is not a decimal integer gives frame 0.
bool KVSplitFrameName(const std::string& name, std::string& path, int& frame);

// One caption of a cell: 0 top, 1 bottom, 2 info.
struct TKVMText {
    std::u16string Caption;
    QFont Font;
    TColor Color = clWindowText;
    TColor Background = clBtnFace;
    uint8_t Position = 0;
    // 0 cut at its end, 1 cut at its start, other values never cut.
    uint8_t Truncate = 1;
};

struct TKVMEntry {
    uint64_t Serial = 0;  // never reused: background loads find their entry by it
    TKVVirtualEntry* Image = nullptr;
    TKVVirtualEntry* Cached = nullptr;  // the last drawn thumbnail
    TColor Background = clBtnFace;
    std::string FileName;
    int32_t ID = -1;
    int32_t Delay = 0;  // milliseconds during playback
    TKVMText Captions[3];
    TRect DrawnRect;  // where the picture lies in the drawn thumbnail
    bool LoadFailed = false;  // a background load failed; the main thread stores the placeholder
    std::unique_ptr<TIOParamsVals> ArrivedParams;  // of a background load, for the component
};

enum TKVStoreType { kvtNormal, kvtThumb };
enum TKVDisplayMode { mdGrid, mdSingle };
enum TKVMViewStyle { kvmsFlat, kvmsBevel };
enum TKVSelectionStyle { kvssAround, kvssFilled };
enum TKVMMouseInteractItem { mmiScroll = 1, mmiSelect = 2 };
enum TKVMultiSelectionOption { kvmoRegion = 1, kvmoSelectOnMouseUp = 2 };
enum TKVMKeyInteractItem { mkiMoveSelected = 1 };

struct TKVVSoftShadow {
    bool Enabled = false;
    double Radius = 3.0;
    int OffsetX = 3, OffsetY = 3;
};

class TKestovaMView : public QAbstractScrollArea, public TKVView {
public:
    explicit TKestovaMView(QWidget* parent = nullptr);
    ~TKestovaMView() override;

    // Pictures of the view keep their own resolutions.
    void SetDpiX(int) override {}
    void SetDpiY(int) override {}
    void TakeFocusBack() override;

    // --- Entries
    int GetImageCount() const { return int(entries_.size()); }
    void InsertImage(int index);
    bool DeleteImage(int index);
    // Moves the entry at `from` to `to` (appended when past the end); exchanges two entries.
    void MoveImage(int from, int to);
    void SwapImages(int a, int b);
    void Clear();
    void SetImage(int index, TKVBitmap* bitmap);
    void SetImageTBitmap(int index, TBitmap* bitmap);
    void SetImageFileName(int index, const std::string& name);
    std::string GetImageFileName(int index) const;
    void SetImageID(int index, int32_t id);
    void SetImageDelayTime(int index, int milliseconds);
    int GetImageDelayTime(int index) const;
    void SetImageOriginalWidth(int index, int value);
    void SetImageOriginalHeight(int index, int value);
    int GetImageOriginalWidth(int index);
    int GetImageOriginalHeight(int index);
    TKVMText* ImageCaption(int index, int position);
    int GetImageRow(int index) const;
    int GetImageCol(int index) const;
    bool HasPicture(int index);
    bool HasCachedDrawing(int index);
    // Loads the picture when missing; a copy of it, nullptr when there is none.
    std::unique_ptr<TKVBitmap> GetBitmap(int index);
    // One entry for each frame of the file.
    void FillFromFile(const std::string& fileName);
    TKestovaMIO* GetMIO();
    TKestovaProc* GetProc();
    int GetChangeKind() const { return changeKind_; }
    int GetChangeIndex() const { return changeIndex_; }
    int GetChangeIndex2() const { return changeIndex2_; }
    void CallChangeHandlers();

    // --- Layout and position
    void Update() override;
    void UpdateLayout(bool releaseCache);
    int ViewX() const { return viewX_; }
    int ViewY() const { return viewY_; }
    void SetViewX(int x) { SetViewXY(x, viewY_); }
    void SetViewY(int y) { SetViewXY(viewX_, y); }
    void SetViewXY(int x, int y);
    void GetMaxViewXY(int& maxX, int& maxY) const;
    int ImageAtPos(int x, int y) const;
    int ImageAtGridPos(int row, int col) const { return col + row * Columns(); }
    // 2 wholly inside the client area, 1 partly, 0 not at all or out of range.
    int GetImageVisibility(int index) const;
    bool IsEntryVisible(int index) const;
    // The cell's place in layout coordinates; (0, 0) out of range.
    TKVCellPlace CellOf(int index) const;
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    int Columns() const;
    TKVThumbMetrics Metrics() const;

    // --- Settings; the setters update the view. Cell sizes and borders are bounded by
    // KVThumbSizeLimit.
    void SetThumbWidth(int value);
    void SetThumbHeight(int value);
    int ThumbWidth() const { return thumbWidth_; }
    int ThumbHeight() const { return thumbHeight_; }
    void SetHorizBorder(int value);
    void SetVertBorder(int value);
    int HorizBorder() const { return horizBorder_; }
    int VertBorder() const { return vertBorder_; }
    void SetBottomGap(int value);
    void SetUpperGap(int value);
    void SetGridWidth(int value);
    int GridWidth() const { return gridWidth_; }
    void SetDisplayMode(TKVDisplayMode mode);
    TKVDisplayMode DisplayMode() const { return displayMode_; }
    void SetStoreType(TKVStoreType type);
    TKVStoreType StoreType() const { return storeType_; }
    void SetStyle(TKVMViewStyle style);
    void SetSelectionStyle(TKVSelectionStyle style);
    void SetSelectionWidth(int value);
    void SetSelectionColor(TColor color);
    void SetThumbnailsBackground(TColor color);
    void SetThumbnailsBorderWidth(int value);
    void SetThumbnailsBorderColor(TColor color);
    void SetThumbnailsInternalBorder(bool on);
    void SetThumbnailsInternalBorderColor(TColor color);
    void SetBackground(TColor color) override;
    void SetBackgroundStyle(TKVBackgroundStyle style);
    void SetThumbnailsBackgroundStyle(TKVBackgroundStyle style);
    void SetWallPaper(const QImage& picture);
    void SetWallPaperStyle(TKVWallPaperStyle style);
    void SetChessboardStyle(int size, bool variant);
    // Frames drawn over selected and other cells; the picture goes into pictureArea of the frame.
    // Both must be given for either to be drawn.
    void SetThumbnailOverlays(const QImage& selected, const QImage& other, const QRect& pictureArea);
    void SetFillThumbnail(bool value);
    void SetEnableMultiSelect(bool value);
    bool EnableMultiSelect() const { return enableMultiSelect_; }
    void SetDrawImageBackground(bool value);
    void SetVisibleSelection(bool value);
    void SetThreadPoolSize(int value);
    int ThreadPoolSize() const { return threadPoolSize_; }
    void SetImageCacheSize(int value);
    void SetEnableAlphaChannel(bool value);
    void SetScrollBars(TScrollStyle value);
    // Turning it on resets both bars to their full range and shows them until the next Update.
    void SetFlatScrollBars(bool value);
    bool FlatScrollBars() const { return flatScrollBars_; }
    unsigned MouseInteract = mmiSelect;
    unsigned KeyInteract = mkiMoveSelected;
    unsigned MultiSelectionOptions = 0;
    bool RemoveCorrupted = false;
    bool EnlargeSmallImages = true;
    TResampleFilter ThumbnailFilter = rfFastLinear;
    TResampleFilter DrawFilter = rfNone;
    int RoundCorners = 0;  // 0 square, else corners of radius min(cell sides) / RoundCorners
    bool ApplyOrientation = false;
    bool UseEmbeddedThumbnails = true;
    bool CacheDrawnThumbnails = true;
    bool ShowCaptions = true;
    TKVVSoftShadow SoftShadow;
    int LookAhead = 0;
    int ReleaseDistance = 15;
    bool PlayLoop = true;
    // Kept for the host, which runs transitions on the view through TransitionEffects(); the view
    // starts none itself.
    TKVTransitionType TransitionEffect = kvttNone;
    int TransitionDuration = 1000;  // ms
    TKVTransitionEffects& TransitionEffects() { return *transition_; }
    // Steps of the scroll bars' arrows and pages in pixels (-1: a cell with its border, and the
    // client extent), and whether dragging a bar's thumb scrolls before it is let go.
    TKVScrollBarParams HorzScrollBar, VertScrollBar;

    // --- Selection and input
    int SelectedImage() const { return selected_; }
    void SetSelectedImage(int index);
    bool IsSelected(int index) const;
    const std::vector<int>& MultiSelectedImages() const { return multiSelected_; }
    void Deselect();
    void DeselectNU();
    void DoSelectImage(int index);
    void SelectAtPos(int x, int y, Qt::KeyboardModifiers modifiers);
    void MoveSelection(TKVThumbMove move);
    // The selected entry's picture, held until the selection changes; nullptr without one.
    TKVBitmap* GetKVBitmap() override;
    // The same picture as the class library's bitmap.
    TBitmap* GetTBitmap() override;

    // --- Playback
    bool Playing() const { return playing_; }
    void SetPlaying(bool value);
    int FrameIndex() const { return frameIndex_; }
    // One step of the animation; the timer runs it, tests may too.
    void PlayStep();
    // The interval of the running step timer in milliseconds, 0 when none runs.
    int PlayInterval() const { return playTimer_ ? playInterval_ : 0; }

    // --- Painting
    void LockPaint() { ++paintLock_; }
    void UnlockPaint();
    void UnlockPaintNoUpdate() { paintLock_ = std::max(paintLock_ - 1, 0); }
    // Composes the whole client area.
    virtual void PaintToBackBuffer(QImage& buffer);
    // The back buffer of the last paint.
    const QImage& BackBuffer() const { return backBuffer_; }
    // Renders the client area now, as a paint would.
    QImage Render();

    // --- Loading
    bool QueueLoad(int index);
    bool LoadImageNow(int index);
    // Cancels every queued and running load and waits until each has ended.
    virtual void StopLoading();
    // Loads running or queued; for tests and the benchmark.
    int PendingLoads();
    void ReleaseCachedDrawing(int index);
    void ReleaseAllCachedDrawings();
    // Fills the bitmap with the placeholder of a picture that could not be loaded.
    virtual void DoWrongImage(TKVBitmap& bitmap, int index);

    // --- Events, fired for user actions only where noted
    std::function<void(int change)> OnViewChange;  // user actions
    std::function<void(int index)> OnImageSelect;  // user actions
    std::function<void(int index)> OnImageDeselect;  // user actions
    std::function<void(int32_t id, TBitmap*& bitmap)> OnImageIDRequest;
    std::function<void(int32_t id, TKVBitmap*& bitmap)> OnImageIDRequestEx;
    std::function<void(int index, int left, int top, QPainter& painter)> OnBeforeImageDraw;
    std::function<void(int index, int left, int top, QImage& dest, QRect& thumbRect)> OnBeforeImageDrawEx;
    std::function<void(int index, int left, int top, QPainter& painter)> OnImageDraw;
    std::function<void(int percent, int index)> OnDrawProgress;
    std::function<void(TKVBitmap& bitmap, int index, bool& handled)> OnWrongImage;
    std::function<void()> OnAllDisplayed;
    TKVProgressEvent OnIOProgress;
    // Passed to the multi-image component and the processing component.
    void SetOnProgress(TKVProgressEvent event);
    const TKVProgressEvent& GetOnProgress() const { return OnProgress; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    friend class TKVThumbLoader;

    void ComputeLayout();
    void SetChange(int kind, int index, int index2 = 0);
    void ShowScrollBars();
    void ScrollBarMoved(Qt::Orientation orientation, int value);
    void ScrollBarAction(Qt::Orientation orientation, int action);
    void FireViewChange(int change);
    void FireImageSelect(int index);
    void FireImageDeselect(int index);
    void RemovePicture(TKVMEntry& entry);
    void ReleaseCachedDrawingOf(TKVMEntry& entry);
    void ReleaseHeldSelection();
    int IndexOfSerial(uint64_t serial) const;
    // The store steps of SetImage, under the library's lock; no handlers.
    void StorePicture(TKVMEntry& entry, TKVBitmap& bitmap);
    // The entry's picture leaves the store; its drawing stays cached.
    void DropPicture(TKVMEntry& entry);
    TKVStoreRule StoreRule() const;
    void SetLoadParams(TKestovaIO& io, const TKVMEntry& entry) const;
    // Under the lock, on any thread: the picture of a load and what the load found out.
    void TakeLoadResult(TKVMEntry& entry, TKestovaIO& io, TKVBitmap& bitmap);
    // Takes the lock itself; the multi-image component is reached outside it.
    void ApplyArrivedParams(int index);
    std::shared_ptr<TKestovaIO> FrameIO(const std::string& path);
    void LoadFileFrame(TKestovaIO& io, const std::string& path, int frame, int& delay);
    bool IsReloadable(const TKVMEntry& entry) const;
    // Background loads that arrived or failed since: their parameters and placeholders. The loads
    // only raise a flag, which the main thread takes up at the next paint or tick of its timer, so
    // that no load touches a Qt object.
    void ApplyArrivals();
    void LoadsArrived();
    void KillPlayTimer();

    // Drawing (KestovaMViewDraw.cpp)
    void DrawEntry(QImage& buffer, TKVMEntry& entry, int index, bool selected);
    void DrawStoredPicture(QPainter& painter, TKVMEntry& entry, int cw, int ah, int x0, int y0, int upper,
                           int rounding, QRect& placed);
    void DrawCachedPicture(QPainter& painter, TKVMEntry& entry, int cw, int ah, int x0, int y0, int upper,
                           QRect& placed);
    bool EntrySelected(int index) const;
    void LookAheadAndRelease(int firstVisible, int lastVisible);

    // Input (KestovaMViewInput.cpp)
    void RangeFromAnchor(int anchor, int x, int y);
    void DragSelect(int x, int y);
    bool KeyMove(int key);

    std::vector<std::unique_ptr<TKVMEntry>> entries_;
    uint64_t nextSerial_ = 1;
    // Counts insertions, deletions and moves: whoever ran a host's event compares it before and
    // after, since the event may have changed the list under it.
    uint64_t listChanges_ = 0;
    std::unique_ptr<TKVVirtualImageList> store_, cache_;
    TKVGridLayout layout_;
    QImage backBuffer_;
    std::atomic<int> viewX_{0}, viewY_{0};
    std::atomic<int> clientWidth_{0}, clientHeight_{0};
    double scaleX_ = 1.0, scaleY_ = 1.0;
    int changeKind_ = 0, changeIndex_ = 0, changeIndex2_ = 0;
    TKVProgressEvent OnProgress;

    int thumbWidth_ = 100, thumbHeight_ = 100, horizBorder_ = 4, vertBorder_ = 4;
    int bottomGap_ = 0, upperGap_ = 0, gridWidth_ = 0;
    TKVDisplayMode displayMode_ = mdGrid;
    TKVStoreType storeType_ = kvtNormal;
    TKVMViewStyle style_ = kvmsBevel;
    TKVSelectionStyle selectionStyle_ = kvssAround;
    int selectionWidth_ = 3;
    TColor selectionColor_ = 0x0000FF;
    TColor thumbsBackground_ = clBtnFace;
    int thumbsBorderWidth_ = 0;
    TColor thumbsBorderColor_ = clBtnFace;
    bool internalBorder_ = false;
    TColor internalBorderColor_ = clBlack;
    TKVBackground background_;
    TKVBackgroundStyle thumbsBackgroundStyle_ = kvbsSolid;
    QImage overlaySelected_, overlayOther_;
    QRect overlayArea_;
    bool fillThumbnail_ = true;
    bool enableMultiSelect_ = false;
    bool drawImageBackground_ = false;
    bool visibleSelection_ = true;
    std::atomic<int> threadPoolSize_{5};
    int imageCacheSize_ = 10;
    bool enableAlpha_ = true;
    TScrollStyle scrollBars_ = ssBoth;
    bool flatScrollBars_ = false;

    int selected_ = -1;
    std::vector<int> multiSelected_;
    TKVBitmap* heldPicture_ = nullptr;
    TKVVirtualEntry* heldEntry_ = nullptr;
    int rangeAnchor_ = -1;
    QPoint pressPos_;
    int pressViewX_ = 0, pressViewY_ = 0;
    int pressedEntry_ = -1, lastDragged_ = -1;
    bool buttonDown_ = false, rangeDone_ = false, selectionChanged_ = false, doubleClick_ = false;
    int userInput_ = 0;
    bool addToSelection_ = false, rangeMode_ = false;

    int paintLock_ = 0;
    bool updating_ = false;
    bool settingBars_ = false;
    bool destroying_ = false;
    bool allDisplayed_ = false;

    bool playing_ = false;
    int frameIndex_ = 0;
    int playTimer_ = 0;
    bool stepping_ = false;
    int playInterval_ = 0;
    TKVDisplayMode savedMode_ = mdGrid;
    int savedSelection_ = -1;

    // Shared with a load at once, which keeps its component whatever a host's event clears.
    std::shared_ptr<TKestovaIO> io_;
    // One component per file whose frames are named, kept open until Clear.
    struct TFrameIO {
        std::string Path;
        std::shared_ptr<TKestovaIO> IO;
    };
    std::vector<std::unique_ptr<TFrameIO>> frameIOs_;
    std::unique_ptr<TKestovaMIO> mio_;
    std::unique_ptr<TKestovaProc> proc_;
    std::atomic<bool> arrived_{false};
    QTimer arrivalTimer_;
    class TransitionHost;
    std::unique_ptr<TransitionHost> transitionHost_;
    std::unique_ptr<TKVTransitionEffects> transition_;
    QImage transitionFrame_;  // shown while a transition holds the paint lock
    // Last: its threads stop before anything they use goes.
    std::unique_ptr<TKVThumbLoader> loader_;
};
