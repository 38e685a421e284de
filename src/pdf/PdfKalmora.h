#pragma once
// The PDF document component: properties of the document, and its life from BeginDoc through
// pages to EndDoc or Abort. One PDF 1.3 file at a time, written forward in one pass to a
// temporary file beside the target that EndDoc renames over it.
#include <functional>
#include <memory>
#include <string>

#include "PdfCanvas.h"
#include "PdfDocumentState.h"
#include "PdfErrors.h"
#include "PdfImage.h"
#include "PdfSecurity.h"
#include "platform/Classes.h"

class TAtomicFile;

enum TLengthUnit { luTenth, luPoint };
enum TPrinterOrientation { poPortrait, poLandscape };

struct TPaperSize {
    const char* name;
    int width, height;  // tenths of a millimetre, portrait
};
inline constexpr int PaperSizeCount = 42;
// Indexed by the platform's paper code; 0 is "Custom".
extern const TPaperSize PaperSizes[PaperSizeCount];

class TPdfKalmora : public TObject, public TPdfDocumentState {
public:
    static constexpr const char* AboutText = "Brelvant PDF Kalmora version 3.02";

    TPdfKalmora();
    ~TPdfKalmora() override;
    TPdfKalmora(const TPdfKalmora&) = delete;
    TPdfKalmora& operator=(const TPdfKalmora&) = delete;

    std::string About() const { return AboutText; }
    const std::string& Author() const { return author_; }
    void SetAuthor(const std::string& value);
    bool EmbedFonts() const override { return embedFonts_; }
    void SetEmbedFonts(bool value);
    const std::string& FileName() const override { return fileName_; }
    void SetFileName(const std::string& value);
    TPdfCompressMode ImageCompressMode() const override { return compressMode_; }
    void SetImageCompressMode(TPdfCompressMode value) { compressMode_ = value; }
    int JpegQuality() const override { return jpegQuality_; }
    void SetJpegQuality(int value);
    const std::string& Keywords() const { return keywords_; }
    void SetKeywords(const std::string& value);
    TLengthUnit LengthUnit() const { return lengthUnit_; }
    void SetLengthUnit(TLengthUnit value);
    TStringList& NonEmbeddedFonts() { return nonEmbeddedFonts_; }
    const TStringList& NonEmbeddedFonts() const override { return nonEmbeddedFonts_; }
    void SetNonEmbeddedFonts(const TStringList& fonts);
    TPrinterOrientation Orientation() const { return orientation_; }
    void SetOrientation(TPrinterOrientation value);
    int PageHeight() const override { return pageHeight_; }
    void SetPageHeight(int value);
    int PageWidth() const override { return pageWidth_; }
    void SetPageWidth(int value);
    int PaperSize() const { return paperIndex_; }
    void SetPaperSize(int index);
    const std::string& PaperSizeName() const { return paperSizeName_; }
    void SetPaperSizeName(const std::string& value);
    const std::string& Producer() const { return producer_; }
    void SetProducer(const std::string& value);
    bool SmartStretchDraw() const override { return smartStretchDraw_; }
    void SetSmartStretchDraw(bool value) { smartStretchDraw_ = value; }
    const std::string& Subject() const { return subject_; }
    void SetSubject(const std::string& value);
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& value);
    // Where downloaded pictures go; empty means the system's temporary folder.
    const std::string& TempFolder() const override { return tempFolder_; }
    void SetTempFolder(const std::string& folder) { tempFolder_ = folder; }
    bool WantShow() const { return wantShow_; }
    void SetWantShow(bool value) { wantShow_ = value; }

    std::function<void(TObject* sender)> OnAbort, OnEnd, OnNewPage, OnStart;
    // The application's message pump, run once at each page start.
    std::function<void()> ProcessMessages;

    TPdfCanvas& Canvas() { return *canvas_; }
    bool Printing() const override { return open_; }
    bool Aborted() const override { return aborted_; }

    void BeginDoc();
    void NewPage() override;
    void EndDoc();
    void Abort();
    // Opens the written file with the desktop's program for it.
    void ShowDocument();
    // For the next document only; refused while a document is open.
    void SetOwnerPassword(const std::string& password);
    void SetUserPassword(const std::string& password, bool print, bool copy, bool annotate, bool modify);

    // Length unit conversions: unit to points, tenths of a millimetre to unit, screen pixels to unit.
    double UnitToPoints() const override { return unitToPoints_; }
    double TenthsToUnit() const { return tenthsToUnit_; }
    double PixelsToUnit() const override { return pixelsToUnit_; }
    // The 8-bit code page of document text; from the locale.
    int AnsiCodePage() const override { return ansiCodePage_; }
    const TStringList& SymbolFaces() const override { return symbolFaces_; }
    const TPdfSecurity& Security() const override { return security_; }
    // Identifies the open document; its trailer carries it.
    const std::string& FileIdentifier() const override { return fileIdentifier_; }

    TPdfInformation Information() const override;
    bool NotifyNewPage(TObject* sender) override;
    void LetMessagesRun() override;

protected:
    void AbandonAfterError() noexcept override;

private:
    void CheckClosed(const std::string& property);
    void ResetDocument();
    void SetDefaultPaper();

    std::unique_ptr<TPdfCanvas> canvas_;
    std::unique_ptr<TAtomicFile> file_;
    std::string author_, fileName_, keywords_, producer_, subject_, title_;
    std::string paperSizeName_;
    std::string tempFolder_;
    bool embedFonts_ = false;
    TPdfCompressMode compressMode_ = cpJpeg;
    int jpegQuality_ = 90;
    TLengthUnit lengthUnit_ = luTenth;
    TPrinterOrientation orientation_ = poPortrait;
    TPrinterOrientation savedOrientation_ = poPortrait;
    int pageWidth_ = 0, pageHeight_ = 0, paperIndex_ = 0;
    bool smartStretchDraw_ = true;
    bool wantShow_ = false;
    bool open_ = false;
    bool aborted_ = false;
    TStringList nonEmbeddedFonts_;
    TStringList symbolFaces_;
    double unitToPoints_ = 72.0 / 254, tenthsToUnit_ = 1, pixelsToUnit_ = 254.0 / ScreenPixelsPerInch;
    int ansiCodePage_;
    std::string ownerPassword_, userPassword_;
    TPdfPermissions permissions_;
    TPdfSecurity security_;
    std::string fileIdentifier_;
};
