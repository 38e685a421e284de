#pragma once
// The processing component: applies operations to one work bitmap (its own, an attached view's
// or an attached class-library bitmap's), keeps undo and redo records and tells the view or
// bitmap that the image changed.
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVPixelTypes.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVResampleFilter.h"
#include "platform/Graphics.h"

class TKVBitmap;
class TKVMask;
class TKVView;
struct TKVChangeEntry;
class TKVSelectionView;

// The preview dialogs' event; the component only stores it.
using TKVPreviewEvent = std::function<void(TObject* sender, TObject* previewForm)>;
enum TPRPreviewsParamsItems : uint8_t { prppDefaultLockPreview = 1 };
using TPRPreviewsParams = uint8_t;  // a set of TPRPreviewsParamsItems bits

// Undo record kinds.
constexpr int kvUndoImage = 1, kvUndoSelection = 2;

class TKestovaProc : public TObject {
public:
    TKestovaProc();
    ~TKestovaProc() override;
    TKestovaProc(const TKestovaProc&) = delete;
    TKestovaProc& operator=(const TKestovaProc&) = delete;

    TKVBitmap& WorkBitmap() { return *work_; }
    TKVView* AttachedKestova() const { return view_; }
    // nullptr returns to a bitmap of the component's own.
    void SetAttachedKestova(TKVView* view);
    // Stands for the class library's image control: the component works on its picture bitmap,
    // which stays the caller's. nullptr detaches it.
    TBitmap* AttachedTImage() const { return image_; }
    void SetAttachedTImage(TBitmap* picture);

    bool AutoUndo = true;
    TKVProgressEvent OnProgress;
    TKVPreviewEvent OnPreview;
    TPRPreviewsParams PreviewsParams = 0;
    TMsgLanguage MsgLanguage = msSystem;
    const TFont& PreviewFont() const { return previewFont_; }
    void SetPreviewFont(const TFont& font) { previewFont_.Assign(font); }
    // The attached view's, else the component's own.
    TColor Background() const;
    void SetBackground(TColor color);
    int UndoLimit() const { return undoLimit_; }
    // Values below 1 store 1.
    void SetUndoLimit(int limit) { undoLimit_ = limit < 1 ? 1 : limit; }
    TKVLocation UndoLocation() const { return undoLocation_; }
    void SetUndoLocation(TKVLocation location) { undoLocation_ = location; }

    // --- Undo and redo: records oldest first; applying one keeps it.
    int UndoCount() const { return int(undo_.size()); }
    int RedoCount() const { return int(redo_.size()); }
    const std::string& UndoCaption(int index) const { return undo_[size_t(index)].Caption; }
    const std::string& RedoCaption(int index) const { return redo_[size_t(index)].Caption; }
    virtual void SaveUndo(int kind);
    virtual void Undo() { UndoAt(0); }
    // index counts back from the newest record.
    virtual void UndoAt(int index);
    virtual void SaveRedo(int kind);
    virtual void DiscardLastRedo();
    virtual void Redo() { RedoAt(0); }
    virtual void RedoAt(int index);
    void SaveUndoCaptioned(const std::string& caption, int kind);

    // The area an operation works on: the selection's box (x2, y2 exclusive) with its mask and
    // polygon; false without a view selection.
    struct TWorkRegion {
        int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
        TKVMask* Mask = nullptr;
        const TPoint* Points = nullptr;
        int PointCount = 0;
    };
    virtual bool GetWorkRegion(TWorkRegion& region);

    // --- Operations
    void ConvertToGray();
    void ConvertTo(int numColors, bool threshold);
    // palette receives the colours used (numColors entries, or black and white below 3 colours).
    void ConvertToPalette(int numColors, TKVRGB* palette, bool threshold);
    // -1 for one side keeps the aspect ratio, 0 keeps the side, other negative values take the
    // absolute value.
    void Resample(int newWidth, int newHeight, TResampleFilter filter);
    void ResampleTo(TKVBitmap& dest, int newWidth, int newHeight, TResampleFilter filter);

private:
    struct Record {
        std::unique_ptr<TKVBitmap> Image;
        std::unique_ptr<TMemoryStream> Selection;
        std::string Caption;
    };
    using RecordList = std::vector<Record>;

    // The temporary copy of the selection's box that an operation runs on, copied back under the mask.
    struct ActiveRegion {
        TKVBitmap* Target = nullptr;
        std::unique_ptr<TKVBitmap> Box;
        TWorkRegion Region;
    };

    bool CheckFormat(std::initializer_list<TKVPixelFormat> formats);
    bool BeginWorkRegion(std::initializer_list<TKVPixelFormat> formats, const std::string& caption,
                         ActiveRegion& active);
    void EndWorkRegion(ActiveRegion& active);
    void SignalChange();
    void PushRecord(RecordList& list, int kind);
    void ApplyRecord(RecordList& list, int index);
    void ReduceColors(int numColors, TKVRGB* palette, bool threshold);
    bool ResampleInto(TKVBitmap& dest, int newWidth, int newHeight, TResampleFilter filter);
    void UseOwnWorkBitmap();
    void DetachView();
    void OnViewChange(TKVView* view, bool destroying);
    TKVSelectionView* SelectionView() const;

    std::unique_ptr<TKVBitmap> ownWork_;
    TKVBitmap* work_ = nullptr;
    TBitmap* attachedBitmap_ = nullptr;  // the class-library bitmap the work bitmap wraps
    TKVView* view_ = nullptr;
    TKVChangeEntry* changeEntry_ = nullptr;
    TBitmap* image_ = nullptr;
    TColor background_ = 0;
    TFont previewFont_;
    int undoLimit_ = 1;
    TKVLocation undoLocation_ = kvFile;
    RecordList undo_, redo_;
};
