#pragma once
// What the two input/output components share: the settings they hand the parameters preview
// dialog, their events, and how an acquired page's record is taken over.
#include <cstdint>
#include <functional>

#include "imaging/core/KVMessages.h"
#include "platform/Graphics.h"

class TfIOPreviews;
class TIOParamsVals;
class TKVBitmap;

enum TIOPreviewsParam : unsigned { ioppDefaultLockPreview = 1, ioppApplyButton = 2 };
using TIOPreviewsParams = unsigned;  // a set of TIOPreviewsParam bits
enum TKVDialogsMeasureUnit : uint8_t { kvduInches, kvduCm, kvduSelectableDefInches, kvduSelectableDefCm };

// A handler that sets handled takes the place of the parameters preview dialog.
using TKVDoPreviewsEvent = std::function<void(TObject* sender, bool& handled)>;
// The dialog, set up and about to be shown.
using TKVIOPreviewEvent = std::function<void(TObject* sender, TfIOPreviews& previewForm)>;
// An acquired page before it is stored; a handler that sets handled keeps it from being stored.
using TKVAcquireBitmapEvent = std::function<void(TObject* sender, TKVBitmap& bitmap, bool& handled)>;

class TKVPreviewSettings {
public:
    virtual ~TKVPreviewSettings() = default;

    TIOPreviewsParams PreviewsParams = 0;
    TMsgLanguage MsgLanguage = msSystem;
    // Only each format's main choice.
    bool SimplifiedParamsDialogs = true;
    // For dialogs that measure; the parameters preview itself measures nothing.
    TKVDialogsMeasureUnit DialogsMeasureUnit = kvduInches;

    const TFont& PreviewFont() const { return previewFont_; }
    // Copied: the caller's font stays the caller's.
    void SetPreviewFont(const TFont& font) { previewFont_.Assign(font); }
    // Conversions to black and white: 0 ordered dither, 1 threshold at the weighted mean.
    int DitherMode() const { return ditherMode_; }
    virtual void SetDitherMode(int mode) { ditherMode_ = mode; }

private:
    TFont previewFont_;
    int ditherMode_ = 1;
};

// The size, resolution and sample layout the scanner gave a page, into the record that will
// describe the page once stored.
void KVTakeScannedParams(TIOParamsVals& record, const TIOParamsVals& scanned);
