#pragma once
// The picture open and save dialogs: the platform's file dialog with a preview pane that loads the
// selected picture through the image library and shows its size, colours, resolution and file size.
#include <QPointer>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVResampleFilter.h"
#include "imaging/view/KVMouseInteract.h"

class QFileDialog;
class QWidget;
class TIOParamsVals;
class TKestovaIO;
class TKestovaMIO;
class TKestovaMView;
class TKestovaView;
class TKVPreviewPane;

// The preview view's look: solid with a border, or a cropped or shadowed frame without one.
enum TKVDBorderStyle { kvpsDefault, kvpsCropped, kvpsCropShadow };

// The file dialog's options. The dialog honours: ofReadOnly and ofHideReadOnly (the read-only
// check box of the open dialog and its answer), ofOverwritePrompt, ofAllowMultiSelect,
// ofExtensionDifferent (an answer: the chosen name's extension is not the default one),
// ofPathMustExist, ofFileMustExist, ofCreatePrompt, ofNoReadOnlyReturn and ofNoDereferenceLinks.
// The others are kept as settings: the dialog never changes the working folder (ofNoChangeDir),
// never test-creates a file (ofNoTestFileCreate), can always be resized (ofEnableSizing), and has
// no help, network button, share check, short names or old style.
enum TOpenOption {
    ofReadOnly,
    ofOverwritePrompt,
    ofHideReadOnly,
    ofNoChangeDir,
    ofShowHelp,
    ofNoValidate,
    ofAllowMultiSelect,
    ofExtensionDifferent,
    ofPathMustExist,
    ofFileMustExist,
    ofCreatePrompt,
    ofShareAware,
    ofNoReadOnlyReturn,
    ofNoTestFileCreate,
    ofNoNetworkButton,
    ofNoLongNames,
    ofOldStyleDialog,
    ofNoDereferenceLinks,
    ofEnableIncludeNotify,
    ofEnableSizing
};
using TOpenOptions = TKVSet<TOpenOption>;

// What both dialogs share: their language, their look and the notifications of their window.
class TKVCommonDialog {
public:
    virtual ~TKVCommonDialog() = default;
    // True when the user confirmed.
    virtual bool Execute(QWidget* parent = nullptr) = 0;

    TMsgLanguage MsgLanguage = msSystem;
    // No help system here: kept for the caller.
    int HelpContext = 0;
    // The dialog's side bar of places.
    bool ShowPlacesBar = true;
    // The file's format and sizes below the picture's own information.
    bool ExtendedDialog = true;
    // The dialog is shown, with its pane in place; it is closed, before Execute returns.
    std::function<void()> OnShow;
    std::function<void()> OnClose;

protected:
    virtual void DialogShown();
    virtual void DialogClosed();
};

class TOpenKestovaDialog : public TKVCommonDialog {
public:
    TOpenKestovaDialog();

    std::string Title;
    // The chosen file (the first of several); a path given before the run is selected at start.
    // While the dialog is shown, the file selected or typed in it, as of the last notification.
    std::string FileName;
    // "Description|patterns|..." pairs; rebuilt from the format registry at every run when
    // AutoSetFilter is on.
    std::string Filter;
    bool AutoSetFilter = true;
    // 1-based; while the dialog is shown, the entry chosen in it.
    int FilterIndex = 1;
    TOpenOptions Options{ofHideReadOnly};
    // Given, without its dot, to a typed name that has no extension; empty: the first extension of
    // the chosen filter entry. Choosing another entry makes that entry's the default.
    std::string DefaultExt;
    // Full paths of the chosen files after a confirmed run; while OnCanClose runs, those proposed.
    std::vector<std::string> Files;
    // The frame last picked among the preview's thumbnails of a multi-frame file; 0 when none was.
    int SelectedFrame = 0;
    // The preview view's.
    TResampleFilter ZoomFilter = rfFastLinear;
    // A multi-frame file is previewed as thumbnails of its frames.
    bool ShowAllFrames = true;
    // Animated GIF and AVI files play as soon as they are previewed; implies ShowAllFrames.
    bool AlwaysAnimate = false;
    // Unset, the preview keeps its chessboard with a border.
    std::optional<TKVDBorderStyle> PreviewBorderStyle;
    // Given to the preview's loads: pictures are resampled to the screen's resolution.
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;

    // The user confirmed the files in Files; setting false keeps the dialog open.
    std::function<void(bool& canClose)> OnCanClose;
    std::function<void()> OnFolderChange;
    std::function<void()> OnSelectionChange;
    std::function<void()> OnTypeChange;

    const std::string& InitialDir() const { return initialDir_; }
    // A trailing "/" is dropped, except from the root itself.
    void SetInitialDir(const std::string& folder);

    bool Execute(QWidget* parent = nullptr) override;

protected:
    bool Run(QWidget* parent, bool save, bool preview);
    // Places controls of a descendant's own into the dialog before it is shown.
    virtual void AddControls(QFileDialog& /*dialog*/, const QStringList& /*filters*/) {}
    virtual bool CanCloseQuery();
    // The preview, then OnSelectionChange.
    virtual void SelectionChanged();
    virtual void FolderChanged();
    virtual void TypeChanged();
    void DialogClosed() override;

private:
    // FileName and FilterIndex as the shown dialog has them.
    void TakeLiveState();
    // The first extension of a filter entry, without its dot.
    std::string EntryExtension(int index) const;

    std::string initialDir_;
    QPointer<QFileDialog> shown_;
    QPointer<TKVPreviewPane> pane_;
    QStringList filters_;  // those of the shown dialog
    int liveType_ = 0;     // the entry chosen in it
};

// The picture save dialog: the writable formats; a name typed without extension gets the chosen
// format's, and choosing another format changes the typed name's extension. The Advanced button
// edits the attached component's save parameters for the format of the typed name.
class TSaveKestovaDialog : public TOpenKestovaDialog {
public:
    TSaveKestovaDialog();
    bool ShowPreview = true;
    bool ShowAdvanced = true;
    // The component whose parameters the Advanced button edits and a cancelled run restores (of
    // the first frame, for a multi-image one). A view's own component is used; a null one is
    // ignored; the language of a component (not of a view) is taken over.
    void SetAttachedKestovaIO(TKestovaIO* io);
    void SetAttachedKestovaIO(TKestovaMIO* mio);
    void SetAttachedKestovaIO(TKestovaView* view);
    void SetAttachedKestovaIO(TKestovaMView* view);
    // False at once, showing nothing, when the attached multi-image component holds no frame.
    bool Execute(QWidget* parent = nullptr) override;

protected:
    void AddControls(QFileDialog& dialog, const QStringList& filters) override;
    void TypeChanged() override;

private:
    void Attach(TKestovaIO* io, TKestovaMIO* mio, QObject* view);
    // Null when nothing is attached or the view it belonged to is gone.
    TKestovaIO* AttachedIO() const;
    TKestovaMIO* AttachedMIO() const;
    TIOParamsVals* AttachedParams() const;

    TKestovaIO* io_ = nullptr;
    TKestovaMIO* mio_ = nullptr;
    bool ofView_ = false;
    QPointer<QObject> view_;
    std::function<void()> updateAdvanced_;  // while the dialog is shown
};
