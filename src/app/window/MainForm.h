#pragma once
// The main window: the source list with its tool bar, the picture preview, the PDF output
// options of both modes and the conversion buttons. Every control carries its name, so that
// tests and the rules below find it. It hosts the conversion engine.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/CommandLine.h"
#include "app/engine/ConverterHost.h"
#include "app/window/SourceListRules.h"

class QGroupBox;
class QLabel;
class QLayout;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class TConverter;
class TConverterPic;
class TElidedLabel;
class TKestovaView;
class TOpenKestovaDialog;

class TMainForm : public QWidget, public TConverterHost {
public:
    explicit TMainForm(const TCommandLine& command = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    TConverter& Converter() { return *converter_; }
    // Enables the commands that make sense for the list's selection and size; false while a
    // conversion runs.
    void EnableControls(bool enabled);
    // The count text, and the hint over an empty list.
    void UpdatePicCount();
    // Shows the engine's options in the controls.
    void RefreshOptions();

    // --- The source list
    // Adds the picture, asking which frames to take of a multi-frame file when the program was
    // started without arguments; raises when the file cannot be added.
    void AddPicture(const std::string& fileName, int frameIndex);
    TConverterPic* GetSelectedPic() const;
    // The preview and information of the selected picture; a picture that fails is removed.
    void ShowPicInfo(bool fileChanged, bool frameChanged);
    // Files accepted by extension are added; folders and other files are skipped.
    void AddDroppedFiles(const std::vector<std::string>& paths);
    // The accepted files of the folder, not its sub-folders, in listing order.
    void AddFolder(const std::string& folder);
    void SortPics(TSortKey key, bool descending);
    // The multi-frame question: whether to take the frames (extractCount -1: every
    // extractStep-th, 0 none, n the first n). A plain question stands in until the multi-frame
    // dialog comes.
    std::function<void(TConverterPic& pic, int& extractCount, int& extractStep)> AskFrames;

    void btSourceAddFileClick();
    void btSourceAddDirClick();
    void btSourceScanClick();
    void btSourceMoveFirstClick();
    void btSourceMoveUpClick();
    void btSourceMoveDownClick();
    void btSourceMoveLastClick();
    void btSourceRemovePicClick();
    void btSourceRemoveAllClick();
    void btMakePdfClick();

    // The make-PDF button's frame around the engine's run: the list and its commands are off and
    // the selection is away meanwhile; afterwards, also after an error (shown in a box), both
    // come back. A close asked for during the run aborts it and closes the window afterwards.
    void RunConversion(const std::function<void()>& makePdf);

    // --- What the engine asks of its window
    void BeginProgress(int maximum) override;
    void SetProgress(int position) override;
    void EndProgress() override;
    bool AbortRequested() override { return abortRequested_; }
    void ProcessMessages() override;
    TKestovaIO* ViewIO() override;

    TKestovaView* View() const { return view_; }
    QListWidget* SourceList() const { return lbSource_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool Converting() const;
    QWidget* BuildSourcePanel();
    QWidget* BuildViewerPanel();
    QWidget* BuildOptions();
    QWidget* BuildModeOptions();
    QLayout* BuildButtons();
    void ConnectOptions();
    void ReadCommandLine(const TCommandLine& command);
    QToolButton* AddToolButton(const char* name, const char* hint, int icon);
    // The list shows the engine's pictures row for row. Each change touches only the rows it
    // changes, so that adding n pictures costs n; the selection is set without its click handling.
    void AddNewRows();  // rows for the pictures beyond the list's end
    void RemoveRow(int index);
    void RebuildList();
    void SelectRow(int selected);
    void MoveSelected(int to);
    void SelectAndRefresh(int index);
    void ShowFileInfo(TConverterPic& pic);
    void ShowFrameInfo(TConverterPic& pic);
    void FrameTyped();
    std::string LengthText(int pixels) const;
    // Saves the settings and removes the temporary folder, once.
    void ShutDown();

    std::unique_ptr<TConverter> converter_;
    std::unique_ptr<TOpenKestovaDialog> openDialog_;
    bool startedWithArguments_ = false;
    bool shutDown_ = false;
    bool scannerSelected_ = false;
    QWidget* tbSource_ = nullptr;
    QListWidget* lbSource_ = nullptr;
    QLabel* pnSourceLabel_ = nullptr;
    QLabel* laSourceCount_ = nullptr;
    QWidget* pnViewer_ = nullptr;
    TKestovaView* view_ = nullptr;
    QWidget* pnViewerFrame_ = nullptr;
    TElidedLabel* laSourceFileName_ = nullptr;
    TElidedLabel* laSourceFileSize_ = nullptr;
    TElidedLabel* laSourceFileDate_ = nullptr;
    TElidedLabel* laSourcePicColors_ = nullptr;
    TElidedLabel* laSourcePicDim_ = nullptr;
    QGroupBox* gbPdfOptions_ = nullptr;
    QStackedWidget* nbModeOptions_ = nullptr;
    QGroupBox* gbSingleOptions_ = nullptr;
    QGroupBox* gbBookOptions_ = nullptr;
    QPushButton* btMakePdf_ = nullptr;
    QPushButton* btClose_ = nullptr;
    QWidget* pnProgress_ = nullptr;
    QProgressBar* pbProgress_ = nullptr;
    bool abortRequested_ = false;
    bool closeAfterRun_ = false;
};
