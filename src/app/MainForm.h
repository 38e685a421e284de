#pragma once
// The main window: the source list with its tool bar, the picture preview, the PDF output
// options of both modes and the conversion buttons. Every control carries its name, so that
// tests and the rules below find it.
#include <QWidget>
#include <functional>

class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class TKestovaView;

class TMainForm : public QWidget {
public:
    explicit TMainForm(QWidget* parent = nullptr);

    // Enables the commands that make sense for the list's selection and size; false while a
    // conversion runs.
    void EnableControls(bool enabled);
    // The count text, and the hint over an empty list.
    void UpdatePicCount();
    // Single mode shows its page and names the button after the list's size; Book mode its own.
    void ShowModePage(bool book);

    // List editing; each keeps the moved item selected.
    void btSourceMoveFirstClick();
    void btSourceMoveUpClick();
    void btSourceMoveDownClick();
    void btSourceMoveLastClick();

    // The make-PDF button's frame around the engine's run: the list and its commands are off and
    // the selection is away meanwhile; afterwards, also after an error (shown in a box), both
    // come back. A close asked for during the run aborts it and closes the window afterwards.
    void RunConversion(const std::function<void()>& makePdf);

    // During a conversion the close button aborts.
    void BeginProgress(int maximum);
    void EndProgress();
    bool AbortRequested() const { return abortRequested_; }

    TKestovaView* View() const { return view_; }
    QListWidget* SourceList() const { return lbSource_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool Converting() const;
    void BuildSourcePanel();
    void BuildViewerPanel();
    void BuildOptions();
    void BuildButtons();
    void MoveSelected(int to);
    QToolButton* AddToolButton(const char* name, const char* hint, int icon);

    QWidget* tbSource_ = nullptr;
    QListWidget* lbSource_ = nullptr;
    QLabel* pnSourceLabel_ = nullptr;
    QLabel* laSourceCount_ = nullptr;
    QWidget* pnViewer_ = nullptr;
    TKestovaView* view_ = nullptr;
    QWidget* pnViewerFrame_ = nullptr;
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
