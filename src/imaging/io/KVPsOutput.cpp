#include "imaging/io/KVPsOutput.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVEncoders.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVFormatDriver.h"
#include "imaging/io/KVJpegFilter.h"
#include "platform/Classes.h"

namespace {

constexpr int pagesLineLength = 15;  // "%%Pages: " and a count of six characters

void Line(std::string& out, const std::string& text) { out += text + "\r\n"; }

std::string PageCountField(int count) {
    std::string field = std::to_string(count);
    field.resize(std::max<size_t>(field.size(), 6), ' ');
    return field;
}

// Day and month names in English whatever the locale.
std::string CreationDate() {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", days[t.tm_wday], months[t.tm_mon], t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}

void WriteAt(TStream& stream, int64_t position, const std::string& text) {
    stream.SetPosition(position);
    stream.WriteBuffer(text.data(), int64_t(text.size()));
}

std::string Ascii85(const std::vector<uint8_t>& bytes) {
    std::string text;
    int lineCount = 0;
    KVASCII85Encode(bytes.data(), int64_t(bytes.size()), text, lineCount);
    return text;
}

std::string RunLengthAscii85(const uint8_t* bytes, int64_t length) {
    std::vector<uint8_t> coded;
    KVRunLengthEncode(bytes, length, coded);
    return Ascii85(coded);
}

// The picture's data and the lines that read it.
struct TPageData {
    std::vector<std::string> source;
    std::string samplesLine, imageOperator, encoded;
};

TPageData OneBitData(TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    TPageData data;
    data.imageOperator = "image";
    if (params.PsCompression == 1 || params.PsCompression == 2) {
        const bool groupFour = params.PsCompression == 1;
        data.source = {"currentfile /ASCII85Decode filter << /K " + std::string(groupFour ? "-1" : "1") +
                       " /BlackIs1 true /Columns " + std::to_string(bitmap.GetWidth()) + " /Rows " +
                       std::to_string(bitmap.GetHeight()) +
                       " /EndOfLine false /Uncompressed true /EncodedByteAlign false /EndOfBlock false >> /CCITTFaxDecode filter"};
        data.encoded = Ascii85(FaxCodedRows(bitmap, groupFour, progress));
        return data;
    }
    data.source = {"currentfile /ASCII85Decode filter /RunLengthDecode filter"};
    const int64_t rowBytes = (int64_t(bitmap.GetWidth()) + 7) / 8;
    std::vector<uint8_t> packed;
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < bitmap.GetHeight() && !progress.Aborted(); ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        packed.insert(packed.end(), row, row + rowBytes);
        progress.Report(y);
    }
    data.encoded = RunLengthAscii85(packed.data(), int64_t(packed.size()));
    return data;
}

TPageData ColourData(TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    TPageData data;
    data.imageOperator = "colorimage";
    const int width = bitmap.GetWidth();
    if (params.PsCompression == 3) {
        data.source = {"currentfile /ASCII85Decode filter << >> /DCTDecode filter"};
        data.samplesLine = "false 3";
        TMemoryStream jpeg;
        WriteJPEGStream(jpeg, bitmap, params, progress);
        data.encoded = Ascii85(jpeg.Bytes());
        return data;
    }
    // Every row gives three blocks, red, green and blue, each read by its own procedure.
    const std::string w = std::to_string(width);
    data.source = {"/rstr " + w + " string def", "/gstr " + w + " string def", "/bstr " + w + " string def",
                   "{currentfile /ASCII85Decode filter /RunLengthDecode filter rstr readstring pop}",
                   "{currentfile /ASCII85Decode filter /RunLengthDecode filter gstr readstring pop}",
                   "{currentfile /ASCII85Decode filter /RunLengthDecode filter bstr readstring pop}"};
    data.samplesLine = "true 3";
    std::vector<uint8_t> planes[3];
    for (auto& plane : planes) plane.resize(size_t(width));
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < bitmap.GetHeight() && !progress.Aborted(); ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        for (size_t x = 0; x < size_t(width); ++x) {
            planes[0][x] = row[3 * x + 2];
            planes[1][x] = row[3 * x + 1];
            planes[2][x] = row[3 * x];
        }
        for (const auto& plane : planes) data.encoded += RunLengthAscii85(plane.data(), width);
        progress.Report(y);
    }
    return data;
}

std::string PageText(int page, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const bool oneBit = bitmap.GetPixelFormat() == kv1Bit;
    params.BitsPerSample = oneBit ? 1 : 8;
    params.SamplesPerPixel = oneBit ? 1 : 3;
    StartProgress(progress, height);
    const TPageData data = oneBit ? OneBitData(bitmap, params, progress) : ColourData(bitmap, params, progress);
    const double scale = std::min(double(params.PsPaperHeight) / height, double(params.PsPaperWidth) / width);
    const int shownWidth = std::max(1, int(std::trunc(width * scale)));
    const int shownHeight = std::max(1, int(std::trunc(height * scale)));
    std::string out;
    Line(out, "%%Page: " + std::to_string(page) + " " + std::to_string(page));
    Line(out, "0 " + std::to_string(params.PsPaperHeight) + " translate");
    Line(out, std::to_string(shownWidth) + " -" + std::to_string(shownHeight) + " scale");
    Line(out, std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(params.BitsPerSample));
    Line(out, "[ " + std::to_string(width) + " 0 0 " + std::to_string(height) + " 0 0 ]");
    for (const std::string& line : data.source) Line(out, line);
    if (!data.samplesLine.empty()) Line(out, data.samplesLine);
    // The count covers every byte of the data, all blocks of all rows.
    Line(out, "%%BeginData:      " + std::to_string(data.encoded.size()) + " ASCII Bytes");
    Line(out, data.imageOperator);
    out += data.encoded;
    Line(out, "%%EndData");
    Line(out, "showpage");
    return out;
}

int ReadPageCount(TStream& stream, int64_t pagesLine) {
    char text[pagesLineLength] = {};
    stream.SetPosition(pagesLine);
    if (stream.Read(text, pagesLineLength) != pagesLineLength) return 1;
    std::string count(text + 9, 5);
    const size_t first = count.find_first_not_of(' ');
    if (first == std::string::npos) return 1;
    count = count.substr(first, count.find_last_not_of(' ') + 1 - first);
    int value = 0;
    const auto result = std::from_chars(count.data(), count.data() + count.size(), value);
    return result.ec == std::errc() && result.ptr == count.data() + count.size() ? value : 1;
}

}  // namespace

std::unique_ptr<TKVPSDocument> WritePSHeader(TStream& stream, TIOParamsVals& params) {
    auto document = std::make_unique<TKVPSDocument>();
    const int64_t start = stream.Position();
    std::string out;
    Line(out, "%!PS-Adobe-3.0");
    Line(out, "%%Creator: Kestova by Velmoric");
    Line(out, "%%Title: " + params.PsTitle);
    Line(out, "%%CreationDate: " + CreationDate());
    Line(out, "%%DocumentData: Clean7Bit");
    Line(out, "%%LanguageLevel: 2");
    document->pagesLine = start + int64_t(out.size());
    Line(out, "%%Pages: " + PageCountField(0));
    Line(out, "%%BoundingBox: 0 0 " + std::to_string(params.PsPaperWidth - 1) + " " + std::to_string(params.PsPaperHeight - 1));
    for (const char* text : {"%%EndComments", "%%BeginProlog", "10 dict begin", "%%EndProlog"}) Line(out, text);
    WriteAt(stream, start, out);
    document->end = start + int64_t(out.size());
    return document;
}

void AddPSPage(TKVPSDocument& document, TStream& stream, TKVBitmap& bitmap, TKVProgressRec& progress, TIOParamsVals& params) {
    RunDriver(progress, [&] {
        if (bitmap.IsEmpty()) throw EInvalidGraphic("no picture to write");
        const int count = ReadPageCount(stream, document.pagesLine) + 1;
        std::string page;
        if (bitmap.GetPixelFormat() == kv1Bit || bitmap.GetPixelFormat() == kv24RGB) {
            page = PageText(count, bitmap, params, progress);
        } else {
            TKVBitmap copy;
            copy.Assign(&bitmap);
            copy.ConvertPixelFormat(kv24RGB);
            page = PageText(count, copy, params, progress);
        }
        if (progress.Aborted()) return;
        WriteAt(stream, document.pagesLine, "%%Pages: " + PageCountField(count));
        WriteAt(stream, document.end, page);
        document.end += int64_t(page.size());
    });
}

void WritePSTrailer(std::unique_ptr<TKVPSDocument> document, TStream& stream) {
    if (!document) return;
    std::string out;
    for (const char* text : {"%%Trailer", "end", "%%EOF"}) Line(out, text);
    WriteAt(stream, document->end, out);
}

void WritePSStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    // Built in memory first, so that a failed page leaves no header behind.
    TMemoryStream document;
    RunDriver(progress, [&] {
        std::unique_ptr<TKVPSDocument> handle = WritePSHeader(document, params);
        AddPSPage(*handle, document, bitmap, progress, params);
        if (progress.Aborted()) return;
        WritePSTrailer(std::move(handle), document);
        stream.WriteBuffer(document.Bytes().data(), int64_t(document.Bytes().size()));
    });
}

const TKVFormatDriver KVPsDriver{.FileType = kvftPS, .Write = WritePSStream};
