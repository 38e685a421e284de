#pragma once
// The picture open dialog: the platform's file dialog with a preview pane that loads the selected
// picture through the image library and shows its size, colours, resolution and file size.
#include <string>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVResampleFilter.h"

class QWidget;

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

    const std::string& InitialDir() const { return initialDir_; }
    // A trailing "/" is dropped, except from the root itself.
    void SetInitialDir(const std::string& folder);

    // True when the user confirmed.
    virtual bool Execute(QWidget* parent = nullptr);

protected:
    bool Run(QWidget* parent, bool save, bool preview);

private:
    std::string initialDir_;
};

// The picture save dialog: the writable formats; a name typed without extension gets the chosen
// format's, and choosing another format changes the typed name's extension.
class TSaveKestovaDialog : public TOpenKestovaDialog {
public:
    TSaveKestovaDialog();
    bool ShowPreview = true;
    bool Execute(QWidget* parent = nullptr) override;
};
