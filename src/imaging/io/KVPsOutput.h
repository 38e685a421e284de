#pragma once
// Pictures saved as PostScript level 2 documents, one picture per page scaled to fit. A document
// grows page by page: the page count in the header has a fixed width and is rewritten for each
// page, and the trailer goes after the last page.
#include <cstdint>
#include <memory>

struct TKVFormatDriver;
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

struct TKVPSDocument {
    int64_t pagesLine = 0;  // where the "%%Pages:" line starts
    int64_t end = 0;        // after the last page: where the next page or the trailer goes
};

std::unique_ptr<TKVPSDocument> WritePSHeader(TStream& stream, TIOParamsVals& params);
// By PsCompression: 1-bit pictures 0 run-length, 1 Group 4, 2 Group 3 2-D; colour pictures 3
// JPEG, any other run-length. Failures set the abort flag and add no page.
void AddPSPage(TKVPSDocument& document, TStream& stream, TKVBitmap& bitmap, TKVProgressRec& progress, TIOParamsVals& params);
// Writes the trailer at the end and frees the document; nothing for an absent one.
void WritePSTrailer(std::unique_ptr<TKVPSDocument> document, TStream& stream);
// Header, one page, trailer; a failure sets the abort flag and writes nothing.
void WritePSStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);

// The registry's record of the format, which is written only.
extern const TKVFormatDriver KVPsDriver;
