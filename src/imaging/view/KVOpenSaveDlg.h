#pragma once
// The picture open dialog: the platform's file dialog with a preview pane that loads the selected
// picture through the image library and shows its size, colours, resolution and file size.
#include <QtContainerFwd>
#include <optional>
#include <string>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVResampleFilter.h"

class QFileDialog;
class QWidget;
class TKestovaIO;

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
    // Its parameters are edited by the Advanced button and restored when the dialog is cancelled.
    TKestovaIO* AttachedKestovaIO = nullptr;
    bool Execute(QWidget* parent = nullptr) override;

protected:
    void AddControls(QFileDialog& dialog, const QStringList& filters) override;
};
