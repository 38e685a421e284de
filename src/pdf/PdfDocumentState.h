#pragma once
// What the canvas sees of its document: the settings it draws with, whether a document is open,
// and what it may ask of the document (a new page, the page-start notice, abandoning after an
// error). The document component implements it.
#include <string>

#include "PdfImage.h"

class TObject;
class TPdfSecurity;
class TStringList;

// The entries of the information dictionary.
struct TPdfInformation {
    std::string Title, Author, Subject, Keywords, Producer;
};

class TPdfDocumentState {
public:
    virtual ~TPdfDocumentState() = default;

    // Between BeginDoc and EndDoc or Abort.
    virtual bool Printing() const = 0;
    // Abort was called; drawing does nothing until the next BeginDoc.
    virtual bool Aborted() const = 0;

    virtual int PageWidth() const = 0;
    virtual int PageHeight() const = 0;
    virtual double UnitToPoints() const = 0;
    virtual double PixelsToUnit() const = 0;
    virtual int AnsiCodePage() const = 0;
    virtual TPdfCompressMode ImageCompressMode() const = 0;
    virtual int JpegQuality() const = 0;
    virtual bool SmartStretchDraw() const = 0;
    virtual bool EmbedFonts() const = 0;
    virtual const TStringList& NonEmbeddedFonts() const = 0;
    virtual const TStringList& SymbolFaces() const = 0;
    virtual const TPdfSecurity& Security() const = 0;
    virtual const std::string& FileName() const = 0;
    virtual const std::string& TempFolder() const = 0;
    virtual const std::string& FileIdentifier() const = 0;
    virtual TPdfInformation Information() const = 0;

    virtual void NewPage() = 0;
    // A page has started: the page event runs with the sender given, if there is one (true then),
    // and afterwards the application's pending messages.
    virtual bool NotifyNewPage(TObject* sender) = 0;
    virtual void LetMessagesRun() = 0;

    // Runs an operation of the writer; any error abandons the open document before it passes on.
    template <typename F>
    decltype(auto) Guarded(F&& operation) {
        try {
            return operation();
        } catch (...) {
            AbandonAfterError();
            throw;
        }
    }

protected:
    virtual void AbandonAfterError() noexcept = 0;
};
