#include "app/engine/Converter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "app/engine/AppFolders.h"
#include "app/engine/MakerInfo.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterPic.h"
#include "app/engine/PictureFiles.h"
#include "imaging/io/KestovaIO.h"
#include "pdf/PdfKalmora.h"
#include "platform/Prompter.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/SystemHelpers.h"
#include "tzlib/TextFormats.h"

namespace {

constexpr const char* CrLf = "\r\n";
constexpr size_t MaxQuestion = 255;
constexpr int MaxOpenedTogether = 10;
constexpr unsigned InformationIcon = 0x40;

int Round(double x) { return static_cast<int>(std::nearbyint(x)); }

std::string PdfNameOf(const std::string& fileName) {
    return std::filesystem::path(fileName).replace_extension(".pdf").string();
}

std::string FolderOf(const std::string& fileName) { return std::filesystem::path(fileName).parent_path().string(); }

// Scanned pages live in the program's temporary folder, which goes when the program ends, and
// pictures at internet addresses have no folder here: their documents go to the folder the user takes
// pictures from, or the home folder.
bool HasOwnFolder(const std::string& fileName) { return !IsInternetAddress(fileName) && !IsInTempFolder(fileName); }

std::string FolderOfDocuments() {
    if (!PicDirectory.empty() && !IsInTempFolder(PicDirectory)) return PicDirectory;
    const char* home = std::getenv("HOME");
    return home && *home ? home : ".";
}

std::string SinglePdfNameOf(const std::string& fileName) {
    const std::string pdfName = PdfNameOf(fileName);
    if (HasOwnFolder(fileName)) return pdfName;
    return (std::filesystem::path(FolderOfDocuments()) / std::filesystem::path(pdfName).filename()).string();
}

}  // namespace

std::string ProposeBookName(const std::string& folder) {
    for (int n = 1;; ++n) {
        const std::string name = AddBackslash(folder) + "Book" + std::to_string(n) + ".pdf";
        if (!FileExists(name)) return name;
    }
}

std::string DefaultPaperSizeName() {
    const int code = GetDefaultPaperSize();
    return code > 0 && code < PaperSizeCount ? PaperSizes[code].name : "A4";
}

TConverter::TConverter(TConverterHost& host) : host_(host), pdf_(std::make_unique<TPdfKalmora>()) {
    InstallPictureFiles();
    GeneratedPdfs.SetCaseSensitive(true);
    pdf_->SetProducer(ProducerText);
    // Pictures keep their aspect ratio, centred in their cells.
    pdf_->SetSmartStretchDraw(true);
    pdf_->ProcessMessages = [this] { host_.ProcessMessages(); };
    SetDefaults();
}

TConverter::~TConverter() { ClearPics(); }

void TConverter::SetDefaults() {
    SetAuthor(GetMailSenderName());
    BottomMargin = LeftMargin = RightMargin = TopMargin = 100;
    Mode = cmSingle;
    Orientation = boPortrait;
    PaperSizeName = DefaultPaperSizeName();
    CustomPaperWidth = CustomPaperHeight = 0;
    PicDatesFont = TFont();
    PicDatesFont.Name = "Arial";
    PicDatesFont.Size = 10;
    PicDatesFont.Color = clBlack;
    PicDatesPos = cpHidden;
    PicNamesFont = PicDatesFont;
    PicNamesPos = cpUnder;
    PicResolution = 96;
    PicsPerPage = 1;
    Metric = true;
    Overwrite = DeleteSources = false;
    Title.clear();
    Subject.clear();
    OwnerPassword.clear();
    UserPassword.clear();
}

TKestovaIO& TConverter::IO() {
    TKestovaIO* io = runIO_ ? runIO_ : host_.ViewIO();
    if (!io) RaiseBrelvantError(2, "TConverter.IO");
    return *io;
}

TConverterPic* TConverter::GetPic(int index) const { return static_cast<TConverterPic*>(Pics.Objects(index)); }

void TConverter::DeletePic(int index) {
    TConverterPic* pic = GetPic(index);
    if (CurrentPic == pic) CurrentPic = nullptr;
    Pics.Delete(index);
    delete pic;
}

void TConverter::ClearPics() {
    CurrentPic = nullptr;
    FreeListObjects(Pics);
}

void TConverter::SetAuthor(const std::string& author) { pdf_->SetAuthor(author); }

const std::string& TConverter::GetAuthor() const { return pdf_->Author(); }

int TConverter::DisplayToTenths(double x) const { return Round(Metric ? x * 100 : x * 254); }

void TConverter::ApplyBookPaper() {
    if (HasCustomPaper()) {
        if (!IsPaperSide(CustomPaperWidth) || !IsPaperSide(CustomPaperHeight)) RaiseBrelvantError(1003, "");
        // The sides are given in portrait; the orientation then turns them as it turns a named paper.
        pdf_->SetOrientation(poPortrait);
        pdf_->SetPageWidth(CustomPaperWidth);
        pdf_->SetPageHeight(CustomPaperHeight);
    } else {
        pdf_->SetPaperSizeName(PaperSizeName);
    }
    pdf_->SetOrientation(Orientation == boLandscape ? poLandscape : poPortrait);
}

void TConverter::CheckBookMargins() {
    ApplyBookPaper();
    if (LeftMargin + RightMargin >= pdf_->PageWidth() || TopMargin + BottomMargin >= pdf_->PageHeight())
        RaiseBrelvantError(0, "Invalid book margins");
}

void TConverter::ApplyPasswords() {
    // Set both every time, empty ones too, so that no password of an earlier document survives.
    pdf_->SetOwnerPassword(OwnerPassword);
    pdf_->SetUserPassword(OwnerPassword.empty() ? std::string() : UserPassword, true, false, false, true);
}

void TConverter::CheckAbort() {
    if (!host_.AbortRequested()) return;
    pdf_->Abort();
    RaiseBrelvantError(0, "PDF output aborted");
}

bool TConverter::MayWrite(const std::string& pdfName, bool alwaysAsk) {
    // A document of this run is never replaced without asking, whatever Overwrite says. (Only
    // single documents can be: a book is asked for before anything is written.)
    const bool producedInRun = singleSources_.contains(pdfName);
    if (!FileExists(pdfName) || (!alwaysAsk && Overwrite && !producedInRun)) return true;
    return AskYesNo(0, LeftCharacters("File exists: " + pdfName + CrLf + "Overwrite?", MaxQuestion));
}

void TConverter::MakePdf() {
    NotConverted.clear();
    if (Pics.Count() == 0) RaiseBrelvantError(0, "No pic selected");
    TBitmap bitmap;
    TKestovaIO io;
    io.AttachTBitmap(&bitmap);
    // Whatever happens, the window's progress ends and the view's input/output object is back.
    struct TRunScope {
        TConverter& c;
        ~TRunScope() {
            c.host_.EndProgress();
            c.runIO_ = nullptr;
            c.CurrentPic = nullptr;  // what it held went with the run's input/output object
        }
    } scope{*this};
    runIO_ = &io;
    CurrentPic = nullptr;
    PlacedSources.clear();
    GeneratedPdfs.Clear();
    incompleteSources_.clear();
    singleSources_.clear();
    if (Mode == cmBook)
        MakePdfBook();
    else
        MakeSinglePdfs();
    if (DeleteSources) DeletePlacedSources();
}

void TConverter::DeletePlacedSources() {
    for (const std::string& source : PlacedSources)
        if (!incompleteSources_.contains(source)) DeleteFileChecked(source);
}

void TConverter::SetSinglePageSize(const TConverterPic& pic) {
    // A picture too large for the largest page at the chosen resolution gets the resolution at
    // which it fits, so that it keeps all its pixels and its shape.
    const double dpi = std::max<double>(PicResolution, std::max(pic.Width, pic.Height) * 254.0 / MaxPaperSide);
    pdf_->SetPageWidth(std::clamp(Round(pic.Width * 254.0 / dpi), MinPaperSide, MaxPaperSide));
    pdf_->SetPageHeight(std::clamp(Round(pic.Height * 254.0 / dpi), MinPaperSide, MaxPaperSide));
}

void TConverter::MakeSinglePdf(TConverterPic& pic) {
    pic.EnsureLoaded();
    pdf_->SetOrientation(poPortrait);
    SetSinglePageSize(pic);
    ApplyPasswords();
    pdf_->BeginDoc();
    PlacePicture(pic, Rect(0, 0, pdf_->PageWidth(), pdf_->PageHeight()));
    pdf_->EndDoc();
}

void TConverter::MakeSinglePdfs() {
    host_.BeginProgress(Pics.Count() - 1);
    int written = 0;
    // Where documents of pictures without a folder of their own went, to be told.
    std::string elsewhere;
    for (int i = 0; i < Pics.Count(); ++i) {
        CheckAbort();
        host_.SetProgress(i);
        TConverterPic& pic = *GetPic(i);
        const std::string pdfName = SinglePdfNameOf(pic.FileName);
        pdf_->SetFileName(pdfName);
        if (!MayWrite(pdfName, false)) {
            incompleteSources_.insert(pic.FileName);
            NotConverted.push_back({pic.GetDisplayText(), pdfName + " exists and was not overwritten"});
            continue;
        }
        try {
            MakeSinglePdf(pic);
            // A document of the run that this one replaced with another picture is gone: its source stays.
            const TSourceFrame frame{pic.FileName, pic.FrameIndex};
            if (const auto earlier = singleSources_.find(pdfName); earlier == singleSources_.end())
                GeneratedPdfs.Add(pdfName);
            else if (earlier->second != frame)
                incompleteSources_.insert(earlier->second.first);
            singleSources_[pdfName] = frame;
            PlacedSources.insert(pic.FileName);
            if (!HasOwnFolder(pic.FileName)) elsewhere = FolderOf(pdfName);
            ++written;
        } catch (const Exception& e) {
            pdf_->Abort();
            incompleteSources_.insert(pic.FileName);
            NotConverted.push_back({pic.GetDisplayText(), e.what(), true});
            ShowExceptionBox(e);
        }
    }
    if (written == 0) return;
    const int shown = GeneratedPdfs.Count();
    const std::string text = written == 1 ? std::string("1 pic converted.") : std::to_string(written) + " pics converted.";
    ReportGenerated(elsewhere.empty() ? text : text + CrLf + "Written to " + elsewhere,
                    shown == 1                     ? "Want to see it?"
                    : shown <= MaxOpenedTogether ? "Want to see them?"
                                                   : "Want to see the first one?");
}

void TConverter::ReportGenerated(const std::string& text, const std::string& question) {
    // The run is over: its progress goes before the result is told.
    host_.EndProgress();
    if (!Prompter().PersonPresent()) {
        ShowMessageBox(text, InformationIcon);
        return;
    }
    if (AskYesNo(0, text + CrLf + question)) OpenGeneratedPdfs();
}

void TConverter::MakePdfBook() {
    CheckBookMargins();
    const std::string& first = GetPic(0)->FileName;
    const std::string folder = PicDirectory.empty() && HasOwnFolder(first) ? FolderOf(first) : FolderOfDocuments();
    std::optional<std::string> chosen =
        Prompter().SaveDialog("PDF book file name", ProposeBookName(folder), "PDF documents|*.pdf");
    if (!chosen || chosen->empty()) {
        NotConverted.push_back({"", "no book name was given: no book was written"});
        return;
    }
    // A name typed at a terminal is relative to the folder the program was started in.
    *chosen = std::filesystem::absolute(*chosen).lexically_normal().string();
    if (std::filesystem::path(*chosen).extension().empty()) *chosen += ".pdf";
    if (IsInTempFolder(*chosen))
        throw Exception(std::string("The program's temporary folder goes when the program ends and keeps no document.") +
                        CrLf + "No book was written: " + *chosen);
    if (!MayWrite(*chosen, true)) {
        NotConverted.push_back({*chosen, "exists and was not overwritten: no book was written"});
        return;
    }

    host_.BeginProgress(Pics.Count() - 1);
    // All pictures pass through one bitmap, so identity says nothing about equal images.
    pdf_->Canvas().AlwaysNewImage = true;
    pdf_->SetFileName(*chosen);
    ApplyPasswords();
    pdf_->SetTitle(Title);
    pdf_->SetSubject(Subject);
    try {
        BeginBook();
        int slot = -1;
        for (int i = 0; i < Pics.Count(); ++i) {
            CheckAbort();
            host_.SetProgress(i);
            if (++slot == PicsPerPage) {
                pdf_->NewPage();
                slot = 0;
            }
            TConverterPic& pic = *GetPic(i);
            try {
                pic.EnsureLoaded();
                PlacePicture(pic, GetCellRect(slot));
            } catch (const EAbort&) {
                throw;
            } catch (const Exception& e) {
                // Which picture ended the book, unless its message says so already.
                const std::string what = e.what();
                throw Exception(what.find(pic.FileName) == std::string::npos ? pic.GetDisplayText() + ": " + what : what);
            }
            PlacedSources.insert(pic.FileName);
        }
        pdf_->EndDoc();
    } catch (const EAbort&) {
        pdf_->Abort();
        throw;
    } catch (const Exception& e) {
        pdf_->Abort();
        NotConverted.push_back({*chosen, e.what(), true});
        throw Exception(e.Message() + CrLf + "No book was written: " + *chosen);
    } catch (...) {
        pdf_->Abort();
        throw;
    }
    GeneratedPdfs.Add(*chosen);
    const std::string text = "PDF book successfully generated!";
    ReportGenerated(HasOwnFolder(first) ? text : text + CrLf + "Written to " + *chosen, "Want to see it?");
}

void TConverter::OpenGeneratedPdfs() {
    const int count = GeneratedPdfs.Count();
    std::vector<std::string> opened;
    for (int i = 0; i < (count <= MaxOpenedTogether ? count : 1); ++i) opened.push_back(GeneratedPdfs.Strings(i));
    OpenDocuments(opened);
}
