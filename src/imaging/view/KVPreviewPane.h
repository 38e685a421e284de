#pragma once
// The open dialog's pane beside the file list: the selected picture previewed through the image
// library with its information, or the frames of a multi-frame file as thumbnails to pick from
// and play; a larger preview window on request.
#include <QString>
#include <QWidget>
#include <vector>

#include "imaging/core/KVMessages.h"
#include "imaging/core/KVResampleFilter.h"
#include "imaging/view/KVOpenSaveDlg.h"
#include "imaging/view/KVPreviewLoader.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QTimer;
class QToolButton;
class TKestovaMView;
class TKestovaView;
struct TKVPreviewInfo;

class TKVPreviewPane : public QWidget {
public:
    TKVPreviewPane(TMsgLanguage language, TResampleFilter zoomFilter, bool showAllFrames, QWidget* parent);

    // Animated GIF and AVI files start playing as soon as they are previewed; the Play button goes.
    void SetAlwaysAnimate(bool on);
    void SetBorderStyle(TKVDBorderStyle style);
    // Without the extended information, the pane shows neither the picture's texts nor the zoom.
    void SetExtended(bool on);
    // Given to the loads of the picture and of the frames.
    void SetAdjustDPI(bool autoAdjust, bool filtered);

    // Never raises: a file that cannot be shown empties the pane. The pixels are read in the
    // background; a later call replaces the file still being read.
    void ShowFile(const QString& path);
    // The file shown; empty when none is.
    const QString& Path() const { return path_; }
    // True while the pixels of the file shown are being read.
    bool IsLoading() const { return loading_; }
    // The frame last picked among the thumbnails; 0 until one is.
    int SelectedFrame() const { return selectedFrame_; }
    // The modal preview window of the current picture or frame.
    void OpenPreviewWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Clear();
    // Unticking Preview empties the pane; later selections show only the file information.
    void PreviewOff();
    // Lays the progress bar across `target` at 0.
    void StartProgress(QWidget* target);
    void ReportProgress(int percent);
    void ShowLoaded(TKVPreviewLoader::TResult& result);
    // The frames are drawn, and read, as their cells come into view.
    void ShowFrames(const std::string& path);
    void SetFrameCellSize(int width, int height, int border);
    void ShowSinglePicture(TKVPreviewLoader::TResult& result);
    void ShowInfo(const TKVPreviewInfo* info);
    void ShowFrameInfo(int frame);
    // The information of a frame of a video, read through the video itself.
    void ShowVideoFrameInfo(int frame);
    void ApplyPreviewZoom();
    void Play(bool on);
    // Loads frame `frame` of the current file into `view` at the given size (0: the file's own).
    bool LoadFrame(TKestovaView& view, int frame, int width, int height);

    TMsgLanguage language_;
    bool showAllFrames_;
    bool alwaysAnimate_ = false;
    QComboBox* zoom_;
    QCheckBox* check_;
    QToolButton* previewButton_;
    QToolButton* playButton_;
    TKestovaView* view_;
    TKestovaMView* thumbnails_;
    QProgressBar* progress_;
    std::vector<QLabel*> labels_;
    QString path_;
    int frameCount_ = 0;
    int selectedFrame_ = 0;
    bool loading_ = false;
    bool autoAdjustDPI_ = false, filteredAdjustDPI_ = false;
    int fileFrames_ = 0;  // as counted when the file was chosen
    // Last, so that its thread stops before the widgets it reports to go.
    TKVPreviewLoader loader_;
};
