#pragma once
// Pictures saved as PDF pages by the image library's own small PDF 1.4 writer: each picture is a
// page showing it scaled to fit, in the page's top left corner.
#include <memory>

struct TKVFormatDriver;
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;
class TKVPDFDocument;

struct TKVPDFDocumentDeleter {
    void operator()(TKVPDFDocument* document) const;
};
using TKVPDFDocumentPtr = std::unique_ptr<TKVPDFDocument, TKVPDFDocumentDeleter>;

TKVPDFDocumentPtr CreatePDFDocument();
// By PdfCompression: 1-bit pictures 0 none, 1 run-length, 2 Group 4, 3 and 4 Group 3 2-D, 5 LZW;
// colour pictures 4 JPEG, 5 LZW, any other none. Failures set the abort flag.
void AddPDFImagePage(TKVPDFDocument& document, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
// Adds the page tree and the information dictionary and writes the whole file; raises
// EWriteError on a short write.
void FinishPDFDocument(TKVPDFDocument& document, TStream& stream, TIOParamsVals& params);
// One picture, one page; failures set the abort flag and write nothing.
void WritePDFStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);

// The registry's record of the format, which is written only.
extern const TKVFormatDriver KVPdfDriver;
