#include "PdfKalmora.h"

#include <sys/stat.h>
#include <unistd.h>
#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "platform/CodePages.h"
#include "platform/Files.h"
#include "platform/Locale.h"
#include "platform/Paths.h"
#include "platform/Prompter.h"

const TPaperSize PaperSizes[PaperSizeCount] = {
    {"Custom", 0, 0},
    {"Letter", 2159, 2794},
    {"LetterSmall", 2159, 2794},
    {"Tabloid", 2794, 4318},
    {"Ledger", 4318, 2794},
    {"Legal", 2159, 3556},
    {"Statement", 1270, 2159},
    {"Executive", 1842, 2667},
    {"A3", 2970, 4200},
    {"A4", 2100, 2970},
    {"A4 Small", 2100, 2970},
    {"A5", 1480, 2100},
    {"B4", 2500, 3540},
    {"B5", 1820, 2570},
    {"Folio", 2159, 3302},
    {"Quarto", 2150, 2750},
    {"10 x 14 in", 2540, 3556},
    {"11 x 17 in", 2794, 4318},
    {"Note", 2159, 2794},
    {"Envelope #9", 984, 2254},
    {"Envelope #10", 1048, 2413},
    {"Envelope #11", 1043, 2635},
    {"Envelope #12", 1207, 2794},
    {"Envelope #14", 1270, 2921},
    {"C size sheet", 4318, 5588},
    {"D size sheet", 5588, 8636},
    {"E size sheet", 8636, 11176},
    {"DL", 1100, 2200},
    {"C5", 1620, 2290},
    {"C3", 3240, 4580},
    {"C4", 2290, 3240},
    {"C6", 1140, 1620},
    {"C65", 1140, 2290},
    {"B4", 2500, 3530},
    {"B5", 1760, 2500},
    {"B6", 1760, 1250},
    {"Envelope Italy", 1100, 2300},
    {"Monarch", 984, 1905},
    {"Envelope Personal", 921, 1651},
    {"US Standard Fanfold", 3778, 2794},
    {"German Standard Fanfold", 2159, 3048},
    {"German Legal Fanfold", 2159, 3302},
};

namespace {

constexpr int LetterIndex = 1;
constexpr int A4Index = 9;

int Rounded(double value) { return static_cast<int>(std::nearbyint(value)); }

bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// The table's first paper of the size, in whole millimetres; 0 when none.
int PaperIndexOfSize(int widthMm, int heightMm) {
    for (int i = 1; i < PaperSizeCount; ++i)
        if (Rounded(PaperSizes[i].width / 10.0) == widthMm && Rounded(PaperSizes[i].height / 10.0) == heightMm)
            return i;
    return 0;
}

}  // namespace

TPdfKalmora::TPdfKalmora() : canvas_(std::make_unique<TPdfCanvas>(*this)), ansiCodePage_(::AnsiCodePage()) {
    symbolFaces_.SetSorted(true);
    for (const char* face : {"Symbol", "Wingdings", "Webdings"}) symbolFaces_.Add(face);
    ResetDocument();
    SetDefaultPaper();
    for (const char* face : {"Arial", "Courier New", "Symbol", "Times New Roman"}) nonEmbeddedFonts_.Add(face);
}

TPdfKalmora::~TPdfKalmora() {
    try {
        Abort();
    } catch (...) {
    }
}

void TPdfKalmora::SetDefaultPaper() {
    int widthMm = 0, heightMm = 0;
    int index = A4Index;
    if (LocalePaperSize(widthMm, heightMm)) {
        // A paper the table does not know falls back to A4.
        if (const int known = PaperIndexOfSize(widthMm, heightMm)) index = known;
    } else if (LocaleMeasurementSystem() == 1) {
        index = LetterIndex;
    }
    SetPaperSize(index);
}

TPdfInformation TPdfKalmora::Information() const {
    return {title_, author_, subject_, keywords_, producer_.empty() ? AboutText : producer_};
}

bool TPdfKalmora::NotifyNewPage(TObject* sender) {
    if (!OnNewPage) return false;
    OnNewPage(sender);
    return true;
}

void TPdfKalmora::LetMessagesRun() {
    if (ProcessMessages) ProcessMessages();
}

void TPdfKalmora::AbandonAfterError() noexcept {
    try {
        Abort();
    } catch (...) {
    }
}

void TPdfKalmora::CheckClosed(const std::string& property) {
    if (open_) throw EPdfError(SCantModifyWhenOpened, property);
}

void TPdfKalmora::SetAuthor(const std::string& value) {
    Guarded([&] {
        CheckClosed("Author");
        author_ = value;
    });
}

void TPdfKalmora::SetEmbedFonts(bool value) {
    Guarded([&] {
        CheckClosed("EmbedFonts");
        embedFonts_ = value;
    });
}

void TPdfKalmora::SetFileName(const std::string& value) {
    Guarded([&] {
        CheckClosed("FileName");
        fileName_ = value;
    });
}

void TPdfKalmora::SetKeywords(const std::string& value) {
    Guarded([&] {
        CheckClosed("Keywords");
        keywords_ = value;
    });
}

void TPdfKalmora::SetProducer(const std::string& value) {
    Guarded([&] {
        CheckClosed("Producer");
        producer_ = value;
    });
}

void TPdfKalmora::SetSubject(const std::string& value) {
    Guarded([&] {
        CheckClosed("Subject");
        subject_ = value;
    });
}

void TPdfKalmora::SetTitle(const std::string& value) {
    Guarded([&] {
        CheckClosed("Title");
        title_ = value;
    });
}

void TPdfKalmora::SetJpegQuality(int value) {
    Guarded([&] {
        if (value < 1 || value > 100) throw EPdfError(SInvalidValue, "JpegQuality");
        jpegQuality_ = value;
    });
}

void TPdfKalmora::SetLengthUnit(TLengthUnit value) {
    Guarded([&] {
        CheckClosed("LengthUnit");
        if (value == lengthUnit_) return;
        const double factor = value == luTenth ? 254.0 / 72 : 72.0 / 254;
        pageWidth_ = Rounded(pageWidth_ * factor);
        pageHeight_ = Rounded(pageHeight_ * factor);
        lengthUnit_ = value;
        unitToPoints_ = value == luTenth ? 72.0 / 254 : 1;
        tenthsToUnit_ = value == luTenth ? 1 : 72.0 / 254;
        pixelsToUnit_ = (value == luTenth ? 254.0 : 72.0) / canvas_->ScreenDpi();
    });
}

void TPdfKalmora::SetNonEmbeddedFonts(const TStringList& fonts) {
    nonEmbeddedFonts_.Clear();
    for (int i = 0; i < fonts.Count(); ++i) nonEmbeddedFonts_.Add(fonts.Strings(i));
}

void TPdfKalmora::SetOrientation(TPrinterOrientation value) {
    Guarded([&] {
        CheckClosed("Orientation (use NewSection method)");
        if (value == orientation_) return;
        std::swap(pageWidth_, pageHeight_);
        orientation_ = value;
    });
}

void TPdfKalmora::SetPageHeight(int value) {
    Guarded([&] {
        CheckClosed("PageHeight (use NewSection method)");
        pageHeight_ = value;
        paperIndex_ = 0;
        paperSizeName_ = PaperSizes[0].name;
    });
}

void TPdfKalmora::SetPageWidth(int value) {
    Guarded([&] {
        CheckClosed("PageWidth (use NewSection method)");
        pageWidth_ = value;
        paperIndex_ = 0;
        paperSizeName_ = PaperSizes[0].name;
    });
}

void TPdfKalmora::SetPaperSize(int index) {
    Guarded([&] {
        CheckClosed("PaperSize (use NewSection method)");
        if (index < 0 || index >= PaperSizeCount) throw EPdfError(SInvalidPropertyValue, "PaperSize");
        paperIndex_ = index;
        paperSizeName_ = PaperSizes[index].name;
        pageWidth_ = Rounded(PaperSizes[index].width * tenthsToUnit_);
        pageHeight_ = Rounded(PaperSizes[index].height * tenthsToUnit_);
        if (orientation_ == poLandscape) std::swap(pageWidth_, pageHeight_);
    });
}

void TPdfKalmora::SetPaperSizeName(const std::string& value) {
    Guarded([&] {
        CheckClosed("PaperSizeName (use NewSection method)");
        for (int i = 1; i < PaperSizeCount; ++i)
            if (::strcasecmp(PaperSizes[i].name, value.c_str()) == 0) return SetPaperSize(i);
        throw EPdfError(SInvalidPropertyValue, "PaperSizeName");
    });
}

void TPdfKalmora::SetOwnerPassword(const std::string& password) {
    Guarded([&] {
        if (open_) throw EPdfError(SCantInvokeWhenPrinting, "SetOwnerPassword");
        ownerPassword_ = password;
    });
}

void TPdfKalmora::SetUserPassword(const std::string& password, bool print, bool copy, bool annotate, bool modify) {
    Guarded([&] {
        if (open_) throw EPdfError(SCantInvokeWhenPrinting, "SetUserPassword");
        userPassword_ = password;
        permissions_ = {print, modify, copy, annotate};
    });
}

namespace {

// A password's bytes: the 8-bit text when the code page holds it, else its UTF-8 bytes, so no
// character is lost to a replacement.
std::string PasswordBytes(const std::string& password, int codePage) {
    try {
        return Utf8ToCodePage(password, codePage);
    } catch (const ECodePageError&) {
        return password;
    }
}

// "name (reason)": the system's own words for why the file cannot be written.
std::string WithSystemReason(const std::string& fileName, int error) {
    return error ? fileName + " (" + std::strerror(error) + ")" : fileName;
}

}  // namespace

void TPdfKalmora::BeginDoc() {
    Guarded([&] {
        if (open_) throw EPdfError(SAlreadyOpen);
        if (pageHeight_ == 0) throw EPdfError(SInvalidPropertyValue, "PageHeight");
        if (pageWidth_ == 0) throw EPdfError(SInvalidPropertyValue, "PageWidth");
        aborted_ = false;
        if (fileName_.empty()) fileName_ = "File.pdf";
        if (fileName_.find('/') == std::string::npos) fileName_ = ExecutableFolder() + "/" + fileName_;
        // The old file is replaced only by EndDoc; one that could not be replaced is refused now.
        struct stat info;
        if (::stat(fileName_.c_str(), &info) == 0) {
            if (!S_ISREG(info.st_mode)) throw EPdfError(SFileLocked, fileName_);
            if (::access(fileName_.c_str(), W_OK) != 0) throw EPdfError(SCantOpenFile, WithSystemReason(fileName_, errno));
        }
        try {
            file_ = std::make_unique<TAtomicFile>(fileName_);
        } catch (const EFCreateError& error) {
            throw EPdfError(SCantOpenFile, WithSystemReason(fileName_, error.SystemError));
        }
        open_ = true;
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        fileIdentifier_ = MakeFileIdentifier(fileName_, now);
        security_.SetUp(PasswordBytes(ownerPassword_, ansiCodePage_), PasswordBytes(userPassword_, ansiCodePage_),
                        permissions_, fileIdentifier_);
        canvas_->BeginDocument(&file_->Stream());
        savedOrientation_ = orientation_;
        if (OnStart) OnStart(this);
        NewPage();
    });
}

void TPdfKalmora::NewPage() {
    Guarded([&] {
        if (aborted_) return;
        if (!open_) throw EPdfError(SNotOpened);
        if (canvas_->PageCount() > 0) canvas_->EndPage();
        canvas_->StartPage();
    });
}

void TPdfKalmora::EndDoc() {
    Guarded([&] {
        if (!open_) return;
        canvas_->EndDocument();
        // A document whose output was switched off has nothing to replace the old file with.
        if (canvas_->EnableOutput()) {
            try {
                file_->Commit();
            } catch (const EStreamError& error) {
                throw EPdfError(SWriteError, error.SystemError ? std::strerror(error.SystemError) : "");
            }
        }
        file_.reset();
        if (OnEnd) OnEnd(this);
        const bool show = wantShow_ && canvas_->EnableOutput();
        ResetDocument();
        orientation_ = savedOrientation_;
        if (show) ShowDocument();
    });
}

void TPdfKalmora::Abort() {
    if (!open_) return;
    file_.reset();
    aborted_ = true;
    try {
        if (OnAbort) OnAbort(this);
    } catch (...) {
        ResetDocument();
        orientation_ = savedOrientation_;
        throw;
    }
    ResetDocument();
    orientation_ = savedOrientation_;
}

void TPdfKalmora::ShowDocument() {
    Guarded([&] {
        if (!FileExists(fileName_)) throw EPdfError(SFileNotFound, fileName_);
        Prompter().OpenDocument(fileName_);
    });
}

void TPdfKalmora::ResetDocument() {
    ownerPassword_.clear();
    userPassword_.clear();
    permissions_ = TPdfPermissions();
    security_.Clear();
    canvas_->Reset();
    open_ = false;
}
