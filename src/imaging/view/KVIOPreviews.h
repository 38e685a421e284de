#pragma once
// The save parameters of one format, chosen while watching the picture as it comes back from a
// trial save. Trial saves go to memory; the parameter record changes only by OK or Apply.
#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVIOSettings.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class TIOParamsVals;
class TKVBitmap;
class QComboBox;
class TKestovaIO;
class TKestovaView;

// Page flags: every page, the page of the record's file type, and the formats' own (ppJPEG ...).
enum : uint16_t { ppAll = 1, ppFileType = 2 };

class TfIOPreviews : public QDialog {
public:
    // The picture is shown as it is (24-bit unless 1-bit); the record is the caller's.
    TfIOPreviews(TIOParamsVals& params, TKVBitmap& picture, QWidget* parent = nullptr);
    ~TfIOPreviews() override;

    // False when nothing would be shown: flags exactly ppFileType for a type without a page.
    bool SelectPages(uint16_t pages);
    // The component's settings: lock and Apply options, simplified pages, captions, font, and the
    // dither mode by which the picture's colours are reduced to black and white.
    void TakeSettings(const TKVPreviewSettings& settings);
    void LocalizeCaptions(TMsgLanguage language);
    bool InitialLockPreview = false;
    void SetApplyVisible(bool visible);
    // Only each format's main choice: quality, compression and colours, or rate.
    void SetSimplified(bool simplified);
    // Positions in inches or in centimetres; the selectable units add a choice between them.
    void SetMeasureUnit(TKVDialogsMeasureUnit unit);
    bool Metric() const { return metric_; }
    // The simplified form's height in sixteenths of a screen inch.
    int SimplifiedHeightSixteenths = 60;

    // Recomputes the result: the picture saved to memory with the working values and read back,
    // or, for the formats other than JPEG and JPEG 2000, only counted and shown as a copy of the
    // picture reduced to the chosen colours.
    void Preview();
    // The working values of the active page into the record, with its file type.
    void Apply();
    // The file type of the active page.
    int ActiveFileType() const;
    // The bytes of the last trial save.
    int64_t CompressedSize() const { return compressedSize_; }
    TKestovaView* Result() const { return result_; }
    // Chooses a palette colour; the palette dialog by default. False when cancelled.
    std::function<bool(const uint8_t* palette, int count, int& colour)> ChoosePaletteColour;

    QTabWidget* PageControl1;
    QCheckBox* chkLockPreview;
    QPushButton* btOk;
    QPushButton* btCancel;
    QPushButton* btPreview;
    QPushButton* btApply;
    QProgressBar* ProgressBar1;

    struct TPage;
    struct TThumbStyle;

protected:
    void showEvent(QShowEvent* event) override;

private:
    TPage& AddPage(int fileType, const char* caption);
    void BuildPages();
    void PageChanged();
    void Changed();
    void FillControls();
    // The lengths in the unit chosen, their captions saying which.
    void ShowUnit();
    void CaptionLengths();
    // The sizes drawn for 96 dpi, at the dpi of the dialog's screen.
    void FitToScreen();
    TPage* ActivePage() const;
    // The result as a copy of the picture reduced to the colours chosen; false when it cannot be made.
    bool ShowColourChoice(const TIOParamsVals& chosen, int fileType);
    // Picks a palette colour of the result into colour; false when cancelled.
    bool PickColour(uint8_t (&bgr)[3]);

    TIOParamsVals& params_;
    TKVBitmap& picture_;
    std::unique_ptr<TIOParamsVals> working_;
    std::vector<std::unique_ptr<TPage>> pages_;
    uint16_t pageFlags_ = 0;
    bool busy_ = true;  // blocks change handling while controls are filled
    int64_t compressedSize_ = 0;
    TKestovaView* source_;
    TKestovaView* result_;
    QLabel* laSource_;
    QLabel* laResult_;
    QString caption_;  // the localised one, back once a result can be shown again
    QComboBox* tiffColours_ = nullptr;  // its list is shorter in the simplified page
    bool simplified_ = false;
    struct TLength {
        QLabel* label;
        int inchWord, plainWord;
    };
    std::vector<TLength> lengths_;
    TKVDialogsMeasureUnit measureUnit_ = kvduInches;
    bool metric_ = false;
    QComboBox* units_;
    QLabel* unitsLabel_;
    TMsgLanguage language_ = msEnglish;
    std::vector<QWidget*> colourPanels_;
    TThumbStyle* thumbStyle_;
};

// The component's dialog (TKestovaIO::DoPreviews, which the view library makes show it): the
// work bitmap with the component's settings, over the window that is active; true when confirmed.
bool ShowIOPreviews(TKestovaIO& io, uint16_t pages);
