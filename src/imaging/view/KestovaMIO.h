#pragma once
// The multi-image input/output component: one parameter record per picture of a thumbnail view,
// kept in step with the view's entries; acquired pages become new entries; the parameters
// preview for one picture or for all.
#include <QtContainerFwd>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVProgress.h"
#include "platform/Classes.h"

class QWidget;
class TIOParamsVals;
class TKestovaMView;
class TKVBitmap;
class TKVTWainParams;
class TKVView;
struct TKVChangeEntry;

class TKestovaMIO : public TObject {
public:
    TKestovaMIO();
    ~TKestovaMIO() override;
    TKestovaMIO(const TKestovaMIO&) = delete;
    TKestovaMIO& operator=(const TKestovaMIO&) = delete;

    TKestovaMView* AttachedMView() const { return view_; }
    // Records are added until there is one per entry of the view.
    void SetAttachedMView(TKestovaMView* view);
    // nullptr out of range.
    TIOParamsVals* GetParams(int index);
    int GetParamsCount() const { return int(params_.size()); }

    // Shows the parameters preview for picture `index`, or with index below 0 for picture 0 and
    // then gives every picture its settings; true when confirmed.
    bool DoPreviews(int index, uint16_t pages, QWidget* parent = nullptr);
    // An acquired page: inserted into the view at the acquisition index, which then advances.
    virtual void DoAcquireBitmap(TKVBitmap& bitmap, TIOParamsVals*& params);
    virtual void EndAcquire() { acquiring_ = false; }
    virtual void DoFinishWork();
    void RefreshAttachedMView();
    // Every page the selected scanner source gives, each inserted as an acquired page; false when
    // none arrived (the scanner settings then tell why).
    bool Acquire();
    TKVTWainParams& TWainParams() { return *twainParams_; }

    // Where the next acquired page goes; clamped to the view's entries when it arrives.
    int AcquireIndex = 0;
    bool Acquiring() const { return acquiring_; }
    unsigned PreviewsParams = 0;  // TIOPreviewsParam flags
    TMsgLanguage MsgLanguage = msSystem;
    bool SimplifiedParamsDialogs = true;
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;
    int DitherMode = 1;
    TKVProgressEvent OnProgress;
    std::function<void(TObject* sender, TKVBitmap& bitmap, bool& handled)> OnAcquireBitmap;
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
};
