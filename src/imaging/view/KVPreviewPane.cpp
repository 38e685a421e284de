#include "imaging/view/KVPreviewPane.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KVPreviewInfo.h"
#include "imaging/view/KVPreviewLoader.h"
#include "imaging/view/KestovaMIO.h"
#include "imaging/view/KestovaMView.h"
#include "imaging/view/KestovaView.h"

namespace {

constexpr int ThumbnailWidth = 100, ThumbnailHeight = 109, ThumbnailBorder = 4;
// The views' size at 96 dpi; the information below is as wide.
constexpr QSize ViewSize(220, 200);
constexpr int ProgressHeight = 19;

void SetupView(TKestovaView& view) {
    view.SetBackground(clWhite);
    view.SetBackgroundStyle(kvbsChessboard);
    view.SetChessboardPattern(12);
}

}  // namespace

TKVPreviewPane::TKVPreviewPane(TMsgLanguage language, TResampleFilter zoomFilter, bool showAllFrames,
                               QWidget* parent)
    : QWidget(parent),
      language_(language),
      showAllFrames_(showAllFrames),
      // The loader's reports come on its thread and are taken on this one, unless stale by then.
      loader_(
          [this](uint64_t generation, int percent) {
              QMetaObject::invokeMethod(this, [this, generation, percent] {
                  if (generation == loader_.Generation()) ReportProgress(percent);
              }, Qt::QueuedConnection);
          },
          [this](std::shared_ptr<TKVPreviewLoader::TResult> result) {
              QMetaObject::invokeMethod(this, [this, result] {
                  if (result->generation == loader_.Generation()) ShowLoaded(*result);
              }, Qt::QueuedConnection);
          }) {
    setObjectName("PicturePanel");
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    zoom_ = new QComboBox(this);
    zoom_->setObjectName("ZoomCombo");
    zoom_->setToolTip("Zoom");
    zoom_->addItem("Fit", 0);
    for (int percent : {25, 50, 75, 100, 125, 150, 175, 200, 300, 400})
        zoom_->addItem(QString::number(percent) + "%", percent);
    const QString previewWord = QString::fromStdString(KVGetMessageText(0, language));
    previewButton_ = new QToolButton(this);
    previewButton_->setObjectName("PreviewButton");
    previewButton_->setText(QStringLiteral("\u2922"));
    previewButton_->setToolTip(previewWord);
    previewButton_->setEnabled(false);
    playButton_ = new QToolButton(this);
    playButton_->setObjectName("PlayButton");
    playButton_->setText(QStringLiteral("\u25B6"));
    playButton_->setToolTip(QString::fromStdString(KVGetMessageText(87, language)));
    playButton_->setCheckable(true);
    playButton_->setEnabled(false);
    bar->addWidget(zoom_);
    bar->addWidget(previewButton_);
    bar->addWidget(playButton_);
    check_ = new QCheckBox(previewWord, this);
    check_->setObjectName("PreviewCheck");
    check_->setChecked(true);
    view_ = new TKestovaView(this);
    view_->setObjectName("KestovaView");
    // Room for the information's longest texts at the screen's resolution too.
    const QSize viewSize = ViewSize * (logicalDpiX() / 96.0);
    view_->setFixedSize(viewSize);
    SetupView(*view_);
    view_->SetAutoFit(true);
    view_->SetMouseInteract({miScroll});
    view_->SetZoomFilter(zoomFilter);
    view_->viewport()->installEventFilter(this);
    thumbnails_ = new TKestovaMView(this);
    thumbnails_->setObjectName("KestovaMView");
    thumbnails_->setFixedSize(viewSize);
    thumbnails_->MouseInteract = mmiScroll | mmiSelect;
    thumbnails_->SetScrollBars(ssHorizontal);
    thumbnails_->SetBackground(clWhite);
    thumbnails_->SetBackgroundStyle(kvbsChessboard);
    thumbnails_->SetChessboardStyle(12, false);
    thumbnails_->SetFillThumbnail(false);
    thumbnails_->SetStyle(kvmsFlat);
    SetFrameCellSize(ThumbnailWidth, ThumbnailHeight, ThumbnailBorder);
    thumbnails_->OnImageSelect = [this](int frame) {
        selectedFrame_ = frame;
        ShowFrameInfo(frame);
    };
    // The frames are read as they are drawn; the bar and the labels follow once the drawing is
    // done, since a progress bar repaints itself at once.
    thumbnails_->OnDrawProgress = [this](int percent, int) {
        QMetaObject::invokeMethod(this, [this, percent, shown = path_] {
            if (shown == path_) ReportProgress(percent);
        }, Qt::QueuedConnection);
    };
    thumbnails_->OnAllDisplayed = [this] {
        QMetaObject::invokeMethod(this, [this, shown = path_] {
            if (shown != path_ || thumbnails_->GetImageCount() == 0) return;
            loading_ = false;
            progress_->hide();
            if (thumbnails_->SelectedImage() >= 0) ShowFrameInfo(thumbnails_->SelectedImage());
        }, Qt::QueuedConnection);
    };
    thumbnails_->hide();
    progress_ = new QProgressBar(this);
    progress_->setObjectName("ProgressBar");
    progress_->setRange(0, 100);
    progress_->hide();
    layout->addLayout(bar);
    layout->addWidget(check_);
    layout->addWidget(view_);
    layout->addWidget(thumbnails_);
    for (const char* name : {"PicLabel1", "PicLabel2", "PicLabel3", "InfoLabel1", "InfoLabel2"}) {
        auto* label = new QLabel(this);
        label->setObjectName(name);
        label->setFixedWidth(viewSize.width());
        layout->addWidget(label);
        labels_.push_back(label);
    }
    layout->addStretch();
    connect(zoom_, &QComboBox::currentIndexChanged, this, [this] { ApplyPreviewZoom(); });
    connect(check_, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) return PreviewOff();
        // Unticking disabled the zoom and set 100%; the chosen zoom comes back with the preview.
        zoom_->setEnabled(true);
        ApplyPreviewZoom();
        ShowFile(path_);
    });
    connect(previewButton_, &QToolButton::clicked, this, [this] { OpenPreviewWindow(); });
    connect(playButton_, &QToolButton::toggled, this, [this](bool on) { Play(on); });
}

void TKVPreviewPane::SetFrameCellSize(int width, int height, int border) {
    thumbnails_->LockPaint();
    thumbnails_->SetThumbWidth(width);
    thumbnails_->SetThumbHeight(height);
    thumbnails_->SetHorizBorder(border);
    thumbnails_->SetVertBorder(border);
    thumbnails_->UnlockPaint();
}

void TKVPreviewPane::SetAlwaysAnimate(bool on) {
    alwaysAnimate_ = on;
    playButton_->setVisible(!on);
}

void TKVPreviewPane::SetBorderStyle(TKVDBorderStyle style) {
    static constexpr TKVBackgroundStyle backgrounds[] = {kvbsSolid, kvbsCropped, kvbsCropShadow};
    view_->setFrameShape(style == kvpsDefault ? QFrame::StyledPanel : QFrame::NoFrame);
    view_->SetBackgroundStyle(backgrounds[style]);
}

void TKVPreviewPane::SetExtended(bool on) {
    zoom_->setVisible(on);
    for (QLabel* label : labels_) label->setVisible(on);
}

void TKVPreviewPane::SetAdjustDPI(bool autoAdjust, bool filtered) {
    autoAdjustDPI_ = autoAdjust;
    filteredAdjustDPI_ = filtered;
    thumbnails_->GetMIO()->AutoAdjustDPI = autoAdjust;
    thumbnails_->GetMIO()->FilteredAdjustDPI = filtered;
}

void TKVPreviewPane::Clear() {
    loader_.Cancel();
    loading_ = false;
    playButton_->setChecked(false);
    playButton_->setEnabled(false);
    previewButton_->setEnabled(false);
    thumbnails_->Clear();
    thumbnails_->hide();
    view_->show();
    view_->Blank();
    frameCount_ = 0;
    progress_->hide();
    ShowInfo(nullptr);
}

void TKVPreviewPane::PreviewOff() {
    Clear();
    view_->SetAutoFit(false);
    view_->SetZoom(100);
    zoom_->setEnabled(false);
}

void TKVPreviewPane::StartProgress(QWidget* target) {
    progress_->setParent(target);
    progress_->setGeometry(0, std::max(target->height() - ProgressHeight, 0) / 2, target->width(), ProgressHeight);
    progress_->show();
    progress_->raise();
    progress_->setValue(0);
}

// A frame may be read in several passes that each count from 0; the bar does not run back for them.
void TKVPreviewPane::ReportProgress(int percent) {
    if (progress_->isHidden()) return;
    progress_->setValue(std::max(percent, progress_->value()));
}

void TKVPreviewPane::ShowFile(const QString& path) {
    Clear();
    path_ = path;
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile()) return;
    try {
        const std::string name = path.toStdString();
        if (!check_->isChecked()) {
            TKestovaIO& io = *view_->GetIO();
            io.ParamsFromFile(name);
            if (io.AbortFlag || io.Params().FileType == kvftNone) return;
            frameCount_ = 1;
            const TKVPreviewInfo info = KVPreviewInfoTexts(io.Params(), file.size(), 1, language_);
            return ShowInfo(&info);
        }
        // The frames are counted here, from the headers alone; the pixels come from the loader.
        const int frames = GetFileFrameCount(name);
        fileFrames_ = frames;
        // A video is shown as its frames whatever their number.
        if (showAllFrames_ && (frames > 1 || (frames == 1 && KVIsVideoFile(name)))) return ShowFrames(name);
        StartProgress(view_);
        loading_ = true;
        loader_.Load({name, view_->ViewWidth(), view_->ViewHeight(), autoAdjustDPI_, filteredAdjustDPI_});
    } catch (const std::exception&) {
        Clear();
    }
}

void TKVPreviewPane::ShowLoaded(TKVPreviewLoader::TResult& result) {
    loading_ = false;
    progress_->hide();
    if (!result.loaded) return Clear();
    ShowSinglePicture(result);
}

void TKVPreviewPane::ShowSinglePicture(TKVPreviewLoader::TResult& result) {
    view_->GetIO()->Params().Assign(*result.params);
    view_->GetKVBitmap()->Assign(result.picture.get());
    view_->Update();
    frameCount_ = std::max(fileFrames_, 1);
    const TKVPreviewInfo info = KVPreviewInfoTexts(*result.params, QFileInfo(path_).size(), frameCount_, language_);
    ShowInfo(&info);
    ApplyPreviewZoom();
    previewButton_->setEnabled(true);
}

void TKVPreviewPane::ShowFrames(const std::string& path) {
    view_->hide();
    thumbnails_->show();
    loading_ = true;
    thumbnails_->FillFromFile(path);
    StartProgress(thumbnails_);
    frameCount_ = thumbnails_->GetImageCount();
    if (frameCount_ < 1) return Clear();
    thumbnails_->MoveSelection(kvmFirst);
    selectedFrame_ = 0;
    ShowFrameInfo(0);
    playButton_->setEnabled(frameCount_ > 1);
    previewButton_->setEnabled(true);
    const QString suffix = QFileInfo(path_).suffix().toLower();
    if (alwaysAnimate_ && frameCount_ > 1 && (suffix == "gif" || suffix == "avi")) playButton_->setChecked(true);
}

void TKVPreviewPane::ShowFrameInfo(int frame) {
    if (KVIsVideoFile(path_.toStdString())) return ShowVideoFrameInfo(frame);
    TKestovaIO& io = *view_->GetIO();
    io.Params().SetImageIndex(frame);
    io.ParamsFromFile(path_.toStdString());
    if (io.AbortFlag) return ShowInfo(nullptr);
    const TKVPreviewInfo info = KVPreviewInfoTexts(io.Params(), QFileInfo(path_).size(), frameCount_, language_);
    ShowInfo(&info);
}

void TKVPreviewPane::ShowVideoFrameInfo(int frame) {
    const std::string path = path_.toStdString();
    TKestovaIO io;
    TKVBitmap bitmap;
    io.AttachBitmap(&bitmap);
    if (io.OpenMediaFile(path) > frame) io.LoadMediaFrame(frame);
    if (io.AbortFlag) return ShowInfo(nullptr);
    TKVPreviewInfo info = KVPreviewInfoTexts(io.Params(), QFileInfo(path_).size(), frameCount_, language_);
    info.info1 = KVVideoDescription(path, language_);
    ShowInfo(&info);
}

bool TKVPreviewPane::LoadFrame(TKestovaView& view, int frame, int width, int height) {
    TKestovaIO& io = *view.GetIO();
    io.Params().JpegScale = 0;
    io.Params().Width = width;
    io.Params().Height = height;
    io.Params().SetImageIndex(frame);
    io.LoadFromFile(path_.toStdString());
    if (io.AbortFlag || io.Params().FileType == kvftNone) {
        view.Blank();
        return false;
    }
    view.Update();
    return true;
}

void TKVPreviewPane::ShowInfo(const TKVPreviewInfo* info) {
    const std::string texts[] = {info ? info->pic1 : "", info ? info->pic2 : "", info ? info->pic3 : "",
                                 info ? info->info1 : "", info ? info->info2 : ""};
    for (size_t i = 0; i < labels_.size(); ++i) labels_[i]->setText(QString::fromStdString(texts[i]));
}

void TKVPreviewPane::ApplyPreviewZoom() {
    const int percent = zoom_->currentData().toInt();
    view_->SetAutoFit(percent == 0);
    if (percent > 0) view_->SetZoom(percent);
}

// Playing shows the frames one after another, each filling the thumbnail view.
void TKVPreviewPane::Play(bool on) {
    previewButton_->setEnabled(!on && frameCount_ > 0);
    if (on) {
        const int edge = thumbnails_->frameWidth();
        SetFrameCellSize(thumbnails_->width() - 2 * edge, thumbnails_->height() - 2 * edge, 0);
    } else {
        SetFrameCellSize(ThumbnailWidth, ThumbnailHeight, ThumbnailBorder);
    }
    thumbnails_->SetPlaying(on);
}

void TKVPreviewPane::OpenPreviewWindow() {
    if (path_.isEmpty() || frameCount_ < 1) return;
    QDialog form(this, Qt::Tool);
    form.setObjectName("PreviewForm");
    form.setWindowTitle(path_);
    form.setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(&form);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new TKestovaView(&form);
    view->setObjectName("KestovaView");
    SetupView(*view);
    // Where the picture is seen at its own size, the mouse zooms it and drags it.
    view->SetMouseInteract({miZoom, miScroll});
    layout->addWidget(view);
    try {
        if (thumbnails_->isVisible()) {
            if (!LoadFrame(*view, selectedFrame_, 0, 0)) return;
        } else {
            view->GetKVBitmap()->AssignImage(*view_->GetKVBitmap());
            view->Update();
        }
    } catch (const std::exception&) {
        return;
    }
    const QSize screen = form.screen() ? form.screen()->availableSize() : QSize(1024, 768);
    const auto side = [](int picture, int available) {
        return picture <= 100 ? 100 : std::min(picture, available);
    };
    form.resize(side(view->GetKVBitmap()->GetWidth(), screen.width()),
                side(view->GetKVBitmap()->GetHeight(), screen.height()));
    form.exec();
}

bool TKVPreviewPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        OpenPreviewWindow();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
