#pragma once
// The picture open dialog: the platform's file dialog with a preview pane that loads the selected
// picture through the image library and shows its size, colours, resolution and file size.
#include <QPointer>
#include <QtContainerFwd>
#include <optional>
#include <string>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVResampleFilter.h"

class QFileDialog;
class QWidget;
class TIOParamsVals;
class TKestovaIO;
class TKestovaMIO;
class TKestovaMView;
class TKestovaView;

// The preview view's look: solid with a border, or a cropped or shadowed frame without one.
enum TKVDBorderStyle { kvpsDefault, kvpsCropped, kvpsCropShadow };

class TOpenKestovaDialog {
public:
    TOpenKestovaDialog();
    virtual ~TOpenKestovaDialog() = default;

    std::string Title;
    // The chosen file (the first of several); a path given before the run is selected at start.
    std::string FileName;
    // "Description|patterns|..." pairs; rebuilt from the format registry at every run when
    // AutoSetFilter is on.
    std::string Filter;
    bool AutoSetFilter = true;
    int FilterIndex = 1;  // 1-based
    bool AllowMultiSelect = false;
    TMsgLanguage MsgLanguage = msSystem;
    // Full paths of the chosen files after a confirmed run.
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

    const std::string& InitialDir() const { return initialDir_; }
    // A trailing "/" is dropped, except from the root itself.
    void SetInitialDir(const std::string& folder);

    // True when the user confirmed.
    virtual bool Execute(QWidget* parent = nullptr);

protected:
    bool Run(QWidget* parent, bool save, bool preview);
    // Places controls of a descendant's own into the dialog before it is shown.
    virtual void AddControls(QFileDialog& /*dialog*/, const QStringList& /*filters*/) {}

private:
    std::string initialDir_;
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
};
