#pragma once
// The multi-image input/output component: one parameter record per picture of a thumbnail view,
// kept in step with the view's entries; acquired pages become new entries; the parameters
// preview for one picture or for all.
#include <QtContainerFwd>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/core/KVProgress.h"
#include "imaging/io/KVIOSettings.h"
#include "platform/Classes.h"

class QWidget;
class TIOParamsVals;
class TKestovaMView;
class TKVBitmap;
class TKVTWainParams;
class TKVView;
class TKVWia;
struct TKVChangeEntry;

class TKestovaMIO : public TObject, public TKVPreviewSettings {
public:
    TKestovaMIO();
    ~TKestovaMIO() override;
    TKestovaMIO(const TKestovaMIO&) = delete;
    TKestovaMIO& operator=(const TKestovaMIO&) = delete;

    TKestovaMView* AttachedMView() const { return view_; }
    // Records are added until there is one per entry of the view.
    void SetAttachedMView(TKestovaMView* view);
    // The attached view is going (opRemove): it is forgotten.
    virtual void Notification(TObject* component, TOperation operation);
    // nullptr out of range.
    TIOParamsVals* GetParams(int index);
    int GetParamsCount() const { return int(params_.size()); }

    // Shows the parameters preview for picture `index`, or with index below 0 for picture 0 and
    // then gives every picture its settings; true when confirmed.
    bool DoPreviews(int index, uint16_t pages, QWidget* parent = nullptr);
    // An acquired page: inserted into the view at the acquisition index, which then advances.
    // params may come in as the page's own record from the scanner: the new entry's record takes
    // its size, resolution and sample layout before AutoAdjustDPI resamples the page by them. On
    // return params is the new entry's record.
    virtual void DoAcquireBitmap(TKVBitmap& bitmap, TIOParamsVals*& params);
    virtual void EndAcquire() { acquiring_ = false; }
    virtual void DoFinishWork();
    void RefreshAttachedMView();
    // Every page the selected scanner source gives, each inserted as an acquired page; false when
    // none arrived (the scanner settings then tell why).
    bool Acquire();
    TKVTWainParams& TWainParams() { return *twainParams_; }
    // The WIA object, made on first use with the component as its owner.
    virtual TKVWia* GetWia();

    // Where the next acquired page goes; clamped to the view's entries when it arrives.
    int AcquireIndex = 0;
    bool Acquiring() const { return acquiring_; }
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;
    TKVProgressEvent OnProgress;
    TKVAcquireBitmapEvent OnAcquireBitmap;
    std::function<void(TObject* sender)> OnFinishWork;

private:
    void ViewChanged(TKVView* view, bool destroying);
    void Detach();
    void InsertParams(int index);
    void DeleteParams(int index);
    void MoveParams(int from, int to);
    void SwapParams(int a, int b);
    void CopyParamsToAll();

    TKestovaMView* view_ = nullptr;
    TKVChangeEntry* handler_ = nullptr;
    std::vector<std::unique_ptr<TIOParamsVals>> params_;
    bool acquiring_ = false;
    std::unique_ptr<TKVTWainParams> twainParams_;
    std::unique_ptr<TKVWia> wia_;
};
