#pragma once
// What the core and the processing component ask of the image views. The views themselves are
// built on this elsewhere.
#include <functional>
#include <memory>
#include <vector>

#include "platform/Classes.h"
#include "platform/Graphics.h"

class TKVBitmap;
class TKVMask;
class TKVView;

// Called by a view after every change of its image (destroying false) and once when it is
// destroyed (destroying true), with the component that registered it.
using TKVViewChangeHandler = std::function<void(TObject* component, TKVView* view, bool destroying)>;
struct TKVChangeEntry {
    TKVViewChangeHandler Handler;
    TObject* Component;
};

// Base of the image views.
class TKVView : public TObject {
public:
    TKVView() = default;
    // Tells every registered component that the view is going.
    ~TKVView() override;
    TKVView(const TKVView&) = delete;
    TKVView& operator=(const TKVView&) = delete;

    // The resolution of the shown image in dots per inch; 0 is ignored.
    virtual void SetDpiX(int dpi) {
        if (dpi != 0) resolutionX_ = dpi;
    }
    virtual void SetDpiY(int dpi) {
        if (dpi != 0) resolutionY_ = dpi;
    }
    void SetDPI(int x, int y) {
        SetDpiX(x);
        SetDpiY(y);
    }
    // 0 until set.
    int ResolutionX() const { return resolutionX_; }
    int ResolutionY() const { return resolutionY_; }

    // The shown image as a class-library bitmap; nullptr when the view keeps a TKVBitmap or has none.
    virtual TBitmap* GetTBitmap() { return nullptr; }
    virtual TKVBitmap* GetKVBitmap() { return nullptr; }
    virtual TColor Background() const { return background_; }
    virtual void SetBackground(TColor color) { background_ = color; }
    // Repaints at once.
    virtual void Update() {}
    // The image-changed notification, after a component changed the image.
    virtual void DoImageChange() {}
    // From a thread other than the view's: the view takes the resolution, repaints and runs its
    // image-changed notification on its own thread later. A view without a thread of its own does
    // it at once.
    virtual void PostImageChange(int dpiX, int dpiY) {
        SetDpiX(dpiX);
        SetDpiY(dpiY);
        Update();
        DoImageChange();
    }

    // The returned entry stays the caller's key for RemoveChangeHandler.
    TKVChangeEntry* AddChangeHandler(TKVViewChangeHandler handler, TObject* component);
    // nullptr and entries not in the list are ignored.
    void RemoveChangeHandler(TKVChangeEntry* entry);
    void CallChangeHandlers(bool destroying = false);

    // The mouse pointer came into, or left, the view's window.
    std::function<void()> OnMouseEnter;
    std::function<void()> OnMouseLeave;

    // Gives the keyboard focus back to the view, after a dialog of another window took it. Safe
    // from any thread. A view without a window has nothing to give.
    virtual void TakeFocusBack() {}

private:
    TColor background_ = clBtnFace;
    int resolutionX_ = 0, resolutionY_ = 0;
    std::vector<std::unique_ptr<TKVChangeEntry>> handlers_;
};

// The selection of the single-image view, as the processing component reads and restores it.
class TKVSelectionView {
public:
    virtual ~TKVSelectionView() = default;
    virtual TKVMask* SelectionMask() = 0;
    virtual bool HasSelection() = 0;
    virtual const TPoint* GetPolySelPoints() = 0;
    virtual int GetPolySelCount() = 0;
    virtual void SaveSelectionToStream(TStream& stream) = 0;
    // Reads from the stream's position what SaveSelectionToStream wrote; false, changing
    // nothing, when the stream does not hold a sound selection.
    virtual bool LoadSelectionFromStream(TStream& stream) = 0;
};

// The library-wide resolution given to pictures that carry none; the view library may change it
// at start.
extern int DefaultDpiX, DefaultDpiY;

// The screen's logical pixels per inch, as the view library reads them at start; 96 without a
// display.
extern int KVScreenDpiX, KVScreenDpiY;
