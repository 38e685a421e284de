// The main window's source list: adding pictures by files, folders, drops and scans, editing and
// sorting the list, and the preview of the selected picture with its information.
#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterPic.h"
#include "app/window/ElidedLabel.h"
#include "app/window/MainForm.h"
#include "app/engine/MessageCatalogue.h"
#include "app/engine/ReadablePicture.h"
#include "imaging/acquire/KVTWainParams.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KVOpenSaveDlg.h"
#include "imaging/view/KestovaView.h"
#include "platform/Classes.h"
#include "tzlib/DateTime.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/TextFormats.h"
#include "tzlib/qt/FolderDialog.h"

namespace {

bool IsSourceFile(const std::string& fileName) {
    TPicKind kind;
    return FindPicKind(fileName, kind);
}

std::string WithReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + "\n" + reason;
}

}  // namespace

void TMainForm::AddNewRows() {
    const QSignalBlocker quiet(lbSource_);
    const TStringList& pics = converter_->Pics;
    if (lbSource_->count() == pics.Count()) return;
    for (int i = lbSource_->count(); i < pics.Count(); ++i) lbSource_->addItem(QString::fromStdString(pics.Strings(i)));
    // The new rows are shown as they come. Scrolling to them also lays them out now: a list left
    // to lay out its rows later paints none while pictures are being added.
    lbSource_->scrollToBottom();
}

void TMainForm::RemoveRow(int index) {
    const QSignalBlocker quiet(lbSource_);
    delete lbSource_->takeItem(index);
}

void TMainForm::RebuildList() {
    const QSignalBlocker quiet(lbSource_);
    lbSource_->clear();
    AddNewRows();
}

void TMainForm::SelectRow(int selected) {
    const QSignalBlocker quiet(lbSource_);
    lbSource_->setCurrentRow(selected < lbSource_->count() ? selected : -1);
}

void TMainForm::SelectAndRefresh(int index) {
    SelectRow(index);
    ShowPicInfo(true, true);
    RefreshOptions();
}

TConverterPic* TMainForm::GetSelectedPic() const {
    const int selected = lbSource_->currentRow();
    return selected >= 0 && selected < converter_->Pics.Count() ? converter_->GetPic(selected) : nullptr;
}

void TMainForm::AddPicture(const std::string& fileName, int frameIndex) {
    TConverter& c = *converter_;
    TConverterPic* pic = AddReadablePicture(c, fileName, frameIndex);
    const auto removeLast = [&c] { c.DeletePic(c.Pics.Count() - 1); };
    if (pic->FrameCount > 1 && frameIndex <= 0 && !startedWithArguments_ && AskFrames) {
        int count = 0, step = 1;
        AskFrames(*pic, count, step);
        const std::vector<int> frames = FramesToAdd(count, step, pic->FrameCount);
        if (frames.empty()) {
            removeLast();
        } else {
            EnableControls(false);
            try {
                for (size_t i = 1; i < frames.size(); ++i) {
                    TConverterPic::AddFrame(*pic, frames[i]);
                    AddNewRows();
                    SelectRow(-1);
                    UpdatePicCount();
                }
            } catch (...) {
                EnableControls(true);
                throw;
            }
            EnableControls(true);
        }
    }
    AddNewRows();
    UpdatePicCount();
    if (!IsInTempFolder(fileName)) PicDirectory = ParentFolder(fileName);
}

void TMainForm::AddDroppedFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        if (IsSourceFile(path) && FileExists(path)) Guarded([&] { AddPicture(path, -1); });
    SelectAndRefresh(lbSource_->count() - 1);
}

void TMainForm::AddFolder(const std::string& folder) {
    TStringList files;
    ListFilesByMask(folder, "*.*", "", false, files);
    for (int i = 0; i < files.Count(); ++i)
        if (IsSourceFile(files.Strings(i))) Guarded([&] { AddPicture(files.Strings(i), -1); });
}

void TMainForm::btSourceAddFileClick() {
    openDialog_->FileName.clear();
    openDialog_->SetInitialDir(PicDirectory);
    if (!openDialog_->Execute(this)) return;
    std::vector<std::string> files = openDialog_->Files;
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return CompareUpperTexts(a, b, 1) < 0;
    });
    std::erase_if(files, [](const std::string& file) { return !IsSourceFile(file); });
    if (files.size() == 1)
        Guarded([&] { AddPicture(files.front(), openDialog_->SelectedFrame); });
    else
        for (const std::string& file : files) Guarded([&] { AddPicture(file, -1); });
    SelectAndRefresh(lbSource_->count() - 1);
}

void TMainForm::btSourceAddDirClick() {
    const int remembered = lbSource_->currentRow() + 1;
    TTzFolderDialog dialog;
    dialog.Title = "Select a folder";
    dialog.Directory = PicDirectory;
    if (!dialog.Execute(this)) return;
    AddFolder(dialog.Directory);
    SelectAndRefresh(remembered < lbSource_->count() ? remembered : -1);
}

void TMainForm::btSourceScanClick() {
    TKestovaIO& io = *view_->GetIO();
    const TKVTWainParams* scanner = io.GetTWainParams();
    // A cancel in the scanner's dialogs is no failure: nothing is said and nothing added.
    const auto report = [&] {
        if (!scanner || scanner->LastError != TWRC_CANCEL)
            ShowErrorCode(0, WithReason("Image acquisition failed", io.AcquireErrorText()));
    };
    if (!scannerSelected_) {
        scannerSelected_ = io.SelectAcquireSource(0);
        // No choice made says nothing; no scanner to choose from, or a choice that failed, says why.
        if (!scannerSelected_ && scanner && scanner->LastError != 0) report();
        if (!scannerSelected_) return;
    }
    if (!io.Acquire(0)) return report();
    std::string name;
    for (int n = 1; FileExists(name = TempFolder + "Pic" + std::to_string(n) + ".bmp"); ++n) {
    }
    io.SaveToFile(name);
    AddPicture(name, -1);
    SelectAndRefresh(lbSource_->count() - 1);
}

void TMainForm::MoveSelected(int to) {
    TStringList& pics = converter_->Pics;
    const int from = lbSource_->currentRow();
    const std::string text = pics.Strings(from);
    TObject* pic = pics.Objects(from);
    pics.Delete(from);
    pics.InsertObject(to, text, pic);
    {
        const QSignalBlocker quiet(lbSource_);
        lbSource_->insertItem(to, lbSource_->takeItem(from));
    }
    SelectRow(to);
    ShowPicInfo(false, false);
}

void TMainForm::btSourceMoveFirstClick() {
    if (lbSource_->currentRow() > 0) MoveSelected(0);
}
void TMainForm::btSourceMoveUpClick() {
    if (lbSource_->currentRow() > 0) MoveSelected(lbSource_->currentRow() - 1);
}
// Without a selection there is nothing to move.
void TMainForm::btSourceMoveDownClick() {
    const int selected = lbSource_->currentRow();
    if (selected >= 0 && selected < lbSource_->count() - 1) MoveSelected(selected + 1);
}
void TMainForm::btSourceMoveLastClick() {
    const int selected = lbSource_->currentRow();
    if (selected >= 0 && selected < lbSource_->count() - 1) MoveSelected(lbSource_->count() - 1);
}

void TMainForm::btSourceRemovePicClick() {
    const int selected = lbSource_->currentRow();
    if (selected < 0) return;
    converter_->DeletePic(selected);
    RemoveRow(selected);
    SelectAndRefresh(std::min(selected, converter_->Pics.Count() - 1));
}

void TMainForm::btSourceRemoveAllClick() {
    converter_->ClearPics();
    RebuildList();
    SelectAndRefresh(-1);
}

void TMainForm::SortPics(TSortKey key, bool descending) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestore {
        ~TRestore() { QApplication::restoreOverrideCursor(); }
    } restore;
    TStringList& pics = converter_->Pics;
    std::vector<TSortEntry> entries;
    std::vector<std::pair<std::string, TObject*>> items;
    for (int i = 0; i < pics.Count(); ++i) {
        const TConverterPic& pic = *converter_->GetPic(i);
        std::error_code error;
        const auto age = std::filesystem::last_write_time(pic.FileName, error).time_since_epoch().count();
        const auto size = std::filesystem::file_size(pic.FileName, error);
        entries.push_back({pic.FileName, pic.FrameIndex, error ? 0 : int64_t(age), error ? 0 : int64_t(size), i});
    }
    SortSources(entries, key, descending);
    for (const TSortEntry& entry : entries) items.emplace_back(pics.Strings(entry.position), pics.Objects(entry.position));
    while (pics.Count() > 0) pics.Delete(pics.Count() - 1);
    for (const auto& [text, pic] : items) pics.AddObject(text, pic);
    RebuildList();
    SelectRow(pics.Count() > 0 ? 0 : -1);
    ShowPicInfo(true, true);
}

std::string TMainForm::LengthText(int pixels) const {
    const TConverter& c = *converter_;
    const double length = c.InchesToDisplay(double(pixels) / c.PicResolution);
    return FormatFloat(c.GetLengthFormat(), length) + (c.Metric ? " cm" : " \"");
}

void TMainForm::ShowFileInfo(TConverterPic& pic) {
    view_->Clear();
    pic.Open();
    laSourceFileName_->SetFullText(QString::fromStdString("File name: " + std::filesystem::path(pic.FileName).filename().string()));
    findChild<QLineEdit*>("eSourceFileFrameCount")->setText(QString::number(pic.FrameCount));
    laSourceFileSize_->SetFullText(QString::fromStdString("File size: " + FileSizeText(pic.FileName)));
    laSourceFileDate_->SetFullText(QString::fromStdString("File date: " + DateTimeToStr(GetFileDate(pic.FileName))));
    findChild<QScrollBar*>("sbSourceFrame")->setMaximum(std::max(pic.FrameCount - 1, 0));
    pnViewerFrame_->setVisible(pic.FrameCount > 1);
}

void TMainForm::ShowFrameInfo(TConverterPic& pic) {
    pic.LoadFrame();
    if (pic.Kind == pkJpeg) {
        // The engine only measures a JPEG; the preview decodes it at the view's size.
        TKestovaIO& io = *view_->GetIO();
        io.Params().JpegScale = 0;
        io.Params().Width = view_->ViewWidth();
        io.Params().Height = view_->ViewHeight();
        io.LoadFromFile(pic.FileName);
        io.Params().JpegScale = 1;
    }
    // The preview shows what the document will: a picture with alpha composed over white.
    if (TKVBitmap& shown = *view_->GetKVBitmap(); shown.GetHasAlphaChannel()) {
        ComposeOverBackground(shown, clWhite);
        shown.RemoveAlphaChannel();
    }
    view_->Update();
    laSourcePicColors_->SetFullText(QString::fromStdString(pic.GetColorModeText()));
    findChild<QLineEdit*>("eSourceFrame")->setText(QString::number(pic.FrameIndex + 1));
    findChild<QScrollBar*>("sbSourceFrame")->setValue(pic.FrameIndex);
}

void TMainForm::ShowPicInfo(bool fileChanged, bool frameChanged) {
    TConverterPic* pic = GetSelectedPic();
    if (!pic) {
        pnViewer_->hide();
        EnableControls(true);
        return;
    }
    pnViewer_->show();
    try {
        const QSignalBlocker quietFrame(findChild<QLineEdit*>("eSourceFrame"));
        const QSignalBlocker quietBar(findChild<QScrollBar*>("sbSourceFrame"));
        if (fileChanged) ShowFileInfo(*pic);
        if (frameChanged) ShowFrameInfo(*pic);
        laSourcePicDim_->SetFullText(
            converter_->Mode == cmSingle
                ? QString::fromStdString("Dimensions: " + LengthText(pic->Width) + " x " + LengthText(pic->Height))
                : QString());
    } catch (...) {
        // A picture that cannot be shown leaves the list.
        const int index = lbSource_->currentRow();
        converter_->DeletePic(index);
        RemoveRow(index);
        SelectRow(std::min(index, converter_->Pics.Count() - 1));
        pnViewer_->setVisible(GetSelectedPic() != nullptr);
        EnableControls(true);
        UpdatePicCount();
        throw;
    }
    EnableControls(true);
}

void TMainForm::FrameTyped() {
    TConverterPic* pic = GetSelectedPic();
    if (!pic) return;
    pic->SetFrameIndex(FrameIndexFromText(findChild<QLineEdit*>("eSourceFrame")->text().toStdString(), pic->FrameCount));
    const int row = lbSource_->currentRow();
    lbSource_->item(row)->setText(QString::fromStdString(converter_->Pics.Strings(row)));
    ShowPicInfo(false, true);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lbSource_->viewport() && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
        auto* drag = static_cast<QDropEvent*>(event);
        if (!drag->mimeData()->hasUrls() || Converting()) return false;
        drag->acceptProposedAction();
        return true;
    }
    if (watched == lbSource_->viewport() && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        std::vector<std::string> paths;
        for (const QUrl& url : drop->mimeData()->urls())
            if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
        drop->acceptProposedAction();
        AddDroppedFiles(paths);
        return true;
    }
    if (watched == lbSource_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Insert) return Guarded([this] { btSourceAddFileClick(); }), true;
        if (key == Qt::Key_Delete) return Guarded([this] { btSourceRemovePicClick(); }), true;
    }
    return QWidget::eventFilter(watched, event);
}
