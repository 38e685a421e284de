#include "imaging/io/KVJpegFilter.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVOrientation.h"
#include "imaging/core/KVPixelCodec.h"
#include "imaging/core/KVStreams.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVFormatDriver.h"
#include "imaging/io/KVExif.h"
#include "imaging/core/KVProgress.h"
#include "platform/JpegLayout.h"
#include "platform/JpegLibrary.h"
#include "platform/PictureLimits.h"

// Every library call runs inside Guarded, whose frame holds only plain data: the error manager's
// jump back skips no destructor, and the error continues as a C++ exception from there.

constexpr int BufferSize = 65536;

// The source manager on a stream; the raw decoder's layer names it too.
struct TKVJpegSource {
    jpeg_source_mgr pub;
    TStream* stream;
    std::atomic<bool>* abortFlag;
    bool startOfFile;
    // The stream ended while the library still wanted data.
    bool hitEnd;
    TKVRawJpegFillInput rawFill;  // the raw decoder's own refill, when set
    JOCTET buffer[BufferSize];
};

namespace {

struct TErrorManager {
    TJpegErrorManager jpeg;  // first: the library's pointer to it is a pointer to the whole
    std::atomic<bool>* abortFlag;
};

// The library's text for a message code, each printf placeholder standing as "?".
std::string LibraryMessage(const jpeg_error_mgr& error) {
    const int code = error.msg_code;
    const char* text = nullptr;
    if (code > 0 && code <= error.last_jpeg_message) text = error.jpeg_message_table[code];
    if (!text) return "Corrupted";
    std::string message;
    for (const char* p = text; *p; ++p) {
        if (*p != '%') {
            message += *p;
            continue;
        }
        if (p[1] == '%') {
            message += '%';
            ++p;
            continue;
        }
        while (p[1] && std::strchr("0123456789.-+ #l", p[1])) ++p;
        if (p[1]) ++p;
        message += '?';
    }
    return message;
}

// Warnings are only counted: the record reports them, nothing is printed.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level == -1) ++cinfo->err->num_warnings;
}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }
void ResetErrorManager(j_common_ptr cinfo) {
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

void InitErrorManager(TErrorManager& error, std::atomic<bool>* abortFlag) {
    InitJpegErrorManager(error.jpeg);
    error.jpeg.manager.emit_message = EmitMessage;
    error.jpeg.manager.output_message = OutputMessage;
    error.jpeg.manager.format_message = FormatMessage;
    error.jpeg.manager.reset_error_mgr = ResetErrorManager;
    error.abortFlag = abortFlag;
}

template <class Step>
void Guarded(TErrorManager& error, Step&& step) {
    if (setjmp(error.jpeg.jump)) {
        if (error.abortFlag) error.abortFlag->store(true);
        throw EKVJpegException(LibraryMessage(error.jpeg.manager));
    }
    step();
}

// --- Source manager on a stream

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<TKVJpegSource*>(cinfo->src)->startOfFile = true; }

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<TKVJpegSource*>(cinfo->src);
    int64_t got = 0;
    try {
        got = source->stream->Read(source->buffer, BufferSize);
    } catch (const std::exception&) {
        got = 0;
    }
    if (got <= 0) {
        if (source->startOfFile && source->abortFlag) source->abortFlag->store(true);
        source->hitEnd = true;
        // An end-of-image marker lets the library finish cleanly.
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        got = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = size_t(got);
    source->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* source = cinfo->src;
    while (count > long(source->bytes_in_buffer)) {
        count -= long(source->bytes_in_buffer);
        (*source->fill_input_buffer)(cinfo);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

boolean RawFillInputBuffer(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<TKVJpegSource*>(cinfo->src);
    source->rawFill(*source, *source->stream);
    return TRUE;
}

void InstallSource(jpeg_decompress_struct& cinfo, TKVJpegSource& source, TStream& stream) {
    source.pub.init_source = InitSource;
    source.pub.fill_input_buffer = FillInputBuffer;
    source.pub.skip_input_data = SkipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermSource;
    source.pub.next_input_byte = nullptr;
    source.pub.bytes_in_buffer = 0;
    source.stream = &stream;
    source.hitEnd = false;
    source.rawFill = nullptr;
    cinfo.src = &source.pub;
}

// --- Destination manager on a stream

struct TDestinationManager {
    jpeg_destination_mgr pub;
    TStream* stream;
    std::atomic<bool>* abortFlag;
    JOCTET buffer[BufferSize];
};

void WriteOut(TDestinationManager& destination, int64_t count) {
    int64_t written = 0;
    try {
        written = destination.stream->Write(destination.buffer, count);
    } catch (const std::exception&) {
        written = 0;
    }
    if (written < count && destination.abortFlag) destination.abortFlag->store(true);
}

void InitDestination(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = BufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
    WriteOut(*destination, BufferSize);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = BufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<TDestinationManager*>(cinfo->dest);
    const int64_t used = BufferSize - int64_t(destination->pub.free_in_buffer);
    if (used > 0) WriteOut(*destination, used);
}

// --- Marker scanning for the stream length and the profile chunks

// Walks the markers from the reader's position up to the end-of-image marker. Each APP2 segment
// goes to onApp2, which returns false to end the walk.
template <class OnApp2>
void ScanMarkers(TKVBufferedReadStream& reader, bool stopAtScan, OnApp2&& onApp2) {
    auto next = [&reader]() -> int {
        uint8_t byte;
        return reader.Read(&byte, 1) == 1 ? byte : -1;
    };
    for (;;) {
        int byte = next();
        if (byte < 0) return;
        if (byte != 0xFF) continue;
        int marker = next();
        while (marker == 0xFF) marker = next();  // fill bytes before a marker
        if (marker < 0 || marker == JpegMarker::EOI || (stopAtScan && marker == JpegMarker::SOS)) return;
        if (!JpegMarkerHasSegment(uint8_t(marker))) continue;
        const int high = next(), low = next();
        if (low < 0) return;
        const int length = high << 8 | low;
        if (length < 2) return;  // a length that does not count itself cannot be skipped
        if (marker == JpegMarker::APP2) {
            std::vector<uint8_t> segment(size_t(length - 2));
            if (reader.Read(segment.data(), int64_t(segment.size())) != int64_t(segment.size())) return;
            if (!onApp2(segment)) return;
        } else {
            reader.Seek(length - 2, TSeekOrigin::soCurrent);
        }
    }
}

// The chunks of a profile, in sequence order once all have come.
class TProfileChunks {
public:
    // Returns false once every chunk is there.
    bool Add(const std::vector<uint8_t>& segment) {
        static const char signature[] = "ICC_PROFILE";  // with its terminating zero: 12 bytes
        if (segment.size() < 14 || std::memcmp(segment.data(), signature, 12) != 0) return true;
        const int sequence = segment[12], count = segment[13];
        // Chunks are counted from 1; a chunk numbered 0, past its count, of another count or
        // seen before is ignored.
        if (sequence == 0 || count == 0 || sequence > count) return true;
        if (chunks_.empty()) chunks_.resize(size_t(count));
        if (size_t(count) != chunks_.size() || !chunks_[size_t(sequence - 1)].empty()) return true;
        chunks_[size_t(sequence - 1)].assign(segment.begin() + 14, segment.end());
        if (chunks_[size_t(sequence - 1)].empty()) return true;
        return ++found_ < count;
    }
    bool Complete() const { return !chunks_.empty() && found_ == int(chunks_.size()); }
    std::vector<uint8_t> Joined() const {
        std::vector<uint8_t> profile;
        for (const auto& chunk : chunks_) profile.insert(profile.end(), chunk.begin(), chunk.end());
        return profile;
    }

private:
    std::vector<std::vector<uint8_t>> chunks_;
    int found_ = 0;
};

// --- Reading

struct TReadChoices {
    bool applyProfile, invertCMYK, readMetadata, keepYCbCr, paramsOnly;
};

int ScaleDenominator(const TIOParamsVals& params, int frameWidth, int frameHeight) {
    switch (params.JpegScale) {
        case 2: return 2;
        case 3: return 4;
        case 4: return 8;
        case 0:
            if (params.Width <= 0 || params.Height <= 0) return 1;
            for (int n = 3; n > 0; --n)
                if ((frameWidth >> n) >= params.Width && (frameHeight >> n) >= params.Height) return 1 << n;
            return 1;
        default: return 1;
    }
}

// Header fields of the file into the record; chooses the output colour space.
void TakeHeader(jpeg_decompress_struct& cinfo, const TReadChoices& choices, TIOParamsVals& params) {
    params.BitsPerSample = 8;
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            params.JpegColorSpace = 1, params.SamplesPerPixel = 1, cinfo.out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_RGB:
            params.JpegColorSpace = 0, params.SamplesPerPixel = 3, cinfo.out_color_space = JCS_EXT_BGR;
            break;
        case JCS_YCbCr:
            params.JpegColorSpace = 2, params.SamplesPerPixel = 3, cinfo.out_color_space = JCS_EXT_BGR;
            break;
        case JCS_CMYK:
            params.JpegColorSpace = 3, params.SamplesPerPixel = 4, cinfo.out_color_space = JCS_CMYK;
            break;
        case JCS_YCCK:
            params.JpegColorSpace = 4, params.SamplesPerPixel = 4, cinfo.out_color_space = JCS_CMYK;
            break;
        default: break;
    }
    // The components as stored, in the stream's own colour space: the library converts nothing.
    if (choices.keepYCbCr && (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB))
        cinfo.out_color_space = cinfo.jpeg_color_space;
    if (params.JpegDCTMethod <= 2) cinfo.dct_method = J_DCT_METHOD(params.JpegDCTMethod);
    if (cinfo.density_unit == 0 || cinfo.density_unit == 1) {
        params.SetDpiX(cinfo.X_density);
        params.SetDpiY(cinfo.Y_density);
    } else if (cinfo.density_unit == 2) {
        params.SetDpiXFloat(cinfo.X_density * 2.54);
        params.SetDpiYFloat(cinfo.Y_density * 2.54);
    }
    params.ColorMap.clear();
    params.JpegProgressive = jpeg_has_multiple_scans(&cinfo);
    params.JpegFrameWidth = int(cinfo.image_width);
    params.JpegFrameHeight = int(cinfo.image_height);
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(ScaleDenominator(params, params.JpegFrameWidth, params.JpegFrameHeight));
    params.JpegScaleUsed = int(cinfo.scale_denom);
}

TKVPixelFormat OutputFormat(const jpeg_decompress_struct& cinfo, bool native) {
    if (!native) return kv24RGB;
    if (cinfo.out_color_space == JCS_GRAYSCALE) return kv8Gray;
    if (cinfo.out_color_space == JCS_CMYK) return kvCMYK;
    return kv24RGB;
}

bool DecodableSpace(J_COLOR_SPACE space) {
    return space == JCS_GRAYSCALE || space == JCS_EXT_BGR || space == JCS_RGB || space == JCS_YCbCr || space == JCS_CMYK;
}

bool ColorManaged(TIOParamsVals& params) { return params.InputICC() && params.InputICC()->IsValid(); }

// Decodes the rows into the bitmap; returns the number of rows read.
int ReadRows(jpeg_decompress_struct& cinfo, TErrorManager& error, TKVBitmap& bitmap, const TReadChoices& choices,
             TKVProgressRec& progress, TIOParamsVals& params) {
    const int width = int(cinfo.output_width), height = std::min(int(cinfo.output_height), bitmap.GetHeight());
    std::vector<uint8_t> buffer(size_t(width) * 4);
    const bool managed = ColorManaged(params) && cinfo.out_color_space == JCS_EXT_BGR;
    progress.PercentFactor = 100.0 / cinfo.output_height;
    int row = 0;
    while (int(cinfo.output_scanline) < int(cinfo.output_height) && row < height) {
        uint8_t* line = bitmap.GetScanline(row);
        const bool direct = (cinfo.out_color_space == JCS_GRAYSCALE && bitmap.GetPixelFormat() == kv8Gray) ||
                            (cinfo.out_color_space == JCS_CMYK && bitmap.GetPixelFormat() == kvCMYK) ||
                            cinfo.out_color_space == JCS_YCbCr || cinfo.out_color_space == JCS_RGB ||
                            (cinfo.out_color_space == JCS_EXT_BGR && !managed);
        JSAMPROW target = direct ? line : buffer.data();
        JDIMENSION got = 0;
        Guarded(error, [&] { got = jpeg_read_scanlines(&cinfo, &target, 1); });
        if (got == 0) break;
        if (!direct) {
            if (cinfo.out_color_space == JCS_GRAYSCALE) {
                for (int x = 0; x < width; ++x) std::memset(line + 3 * x, buffer[size_t(x)], 3);
            } else if (cinfo.out_color_space == JCS_CMYK) {
                auto* pixels = reinterpret_cast<TKVRGB*>(line);
                for (int x = 0; x < width; ++x) {
                    uint8_t* p = buffer.data() + 4 * x;
                    if (choices.invertCMYK)
                        for (int i = 0; i < 4; ++i) p[i] = uint8_t(255 - p[i]);
                    pixels[x] = KVCMYKToRGB(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                            uint32_t(p[3]) << 24);
                }
            } else if (!params.InputICC()->Transform(params.GetOutputICC(), kvICC_BGR, width, line, buffer.data(), 0,
                                                     0, kvICC_BGR)) {
                std::memcpy(line, buffer.data(), size_t(width) * 3);
            }
        }
        ++row;
        progress.Report(row);
        if (progress.Aborted()) break;
    }
    return row;
}

void TakeMarkers(jpeg_decompress_struct& cinfo, const TReadChoices& choices, TIOParamsVals& params) {
    params.JpegMarkers.Clear();
    bool firstApp0 = true;
    for (jpeg_saved_marker_ptr marker = cinfo.marker_list; marker; marker = marker->next) {
        if (marker->marker == JPEG_APP0 && firstApp0) {
            firstApp0 = false;  // the JFIF header, which the writer makes anew
            continue;
        }
        params.JpegMarkers.AddMarker(marker->marker, marker->data, uint16_t(marker->data_length));
    }
    if (choices.applyProfile && ColorManaged(params)) {
        params.InputICC()->FreeTransform();
        for (int i = params.JpegMarkers.Count() - 1; i >= 0; --i)
            if (params.JpegMarkers.GetMarkerType(i) == JPEG_APP0 + 2) params.JpegMarkers.DeleteMarker(i);
    }
}

// The first APP1 marker that holds an "Exif" block (others carry XMP); false when none does.
bool TakeExif(TIOParamsVals& params) {
    for (int i = 0; i < params.JpegMarkers.Count(); ++i)
        if (params.JpegMarkers.GetMarkerType(i) == JPEG_APP0 + 1 &&
            KVLoadEXIFFromBuffer(params.JpegMarkers.GetMarkerData(i), params.JpegMarkers.GetMarkerLength(i), params))
            return true;
    return false;
}

void TakeMetadata(TKVBitmap& bitmap, TIOParamsVals& params) {
    const int iptc = params.JpegMarkers.IndexOf(JPEG_APP0 + 13);
    if (iptc >= 0) params.IptcInfo.LoadFromBuffer(params.JpegMarkers.GetMarkerData(iptc),
                                                  params.JpegMarkers.GetMarkerLength(iptc));
    const int dpiX = params.DpiX(), dpiY = params.DpiY();
    if (!TakeExif(params)) return;
    // A JFIF density of 1 by 1 is only an aspect ratio: the EXIF block gives the resolution.
    if (dpiX == 1 && dpiY == 1) {
        const double perInch = params.ExifResolutionUnit == 3 ? 2.54 : 1;
        params.SetDpiXFloat(params.ExifXResolution * perInch);
        params.SetDpiYFloat(params.ExifYResolution * perInch);
    } else {
        params.SetDpiX(dpiX);
        params.SetDpiY(dpiY);
    }
    if (params.JpegEnableAdjustOrientation && !bitmap.IsEmpty()) KVApplyOrientation(bitmap, params.ExifOrientation);
}

// Everything the library touches lives here, so that one catch releases it all.
struct TDecoder {
    TErrorManager error;
    jpeg_decompress_struct cinfo;
    std::unique_ptr<TKVJpegSource> source = std::make_unique<TKVJpegSource>();
    bool created = false;
    ~TDecoder() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

void Decode(TStream& stream, TStream* tables, TKVBitmap& bitmap, const TReadChoices& choices, TKVProgressRec& progress,
            TIOParamsVals& params) {
    const int64_t start = FindJPEGStart(stream);
    if (start < 0) {
        progress.Fail("no JPEG data");
        return;
    }
    stream.SetPosition(start);
    ReadJPEGICCProfile(stream, params);

    TDecoder decoder;
    jpeg_decompress_struct& cinfo = decoder.cinfo;
    InitErrorManager(decoder.error, progress.AbortFlag);
    cinfo.err = &decoder.error.jpeg.manager;
    decoder.source->abortFlag = progress.AbortFlag;
    Guarded(decoder.error, [&] { jpeg_create_decompress(&cinfo); });
    decoder.created = true;
    int rows = 0;
    bool started = false;
    try {
        if (tables && tables != &stream) {
            InstallSource(cinfo, *decoder.source, *tables);
            Guarded(decoder.error, [&] { jpeg_read_header(&cinfo, FALSE); });
        }
        InstallSource(cinfo, *decoder.source, stream);
        Guarded(decoder.error, [&] {
            jpeg_save_markers(&cinfo, JPEG_COM, 0xFFFF);
            for (int i = 0; i < 16; ++i) jpeg_save_markers(&cinfo, JPEG_APP0 + i, 0xFFFF);
            jpeg_read_header(&cinfo, TRUE);
        });
        TakeHeader(cinfo, choices, params);
        Guarded(decoder.error, [&] { jpeg_calc_output_dimensions(&cinfo); });
        params.Width = int(cinfo.output_width);
        params.Height = int(cinfo.output_height);
        if (!choices.paramsOnly) {
            if (!DecodableSpace(cinfo.out_color_space)) throw EKVJpegException("Unsupported color space");
            CheckPictureSize(cinfo.image_width, cinfo.image_height, 8 * cinfo.num_components,
                             stream.Size() - start);
            Guarded(decoder.error, [&] { jpeg_start_decompress(&cinfo); });
            started = true;
            bitmap.Allocate(int(cinfo.output_width), int(cinfo.output_height),
                            OutputFormat(cinfo, params.IsNativePixelFormat));
            rows = ReadRows(cinfo, decoder.error, bitmap, choices, progress, params);
            // A picture cut short is not a picture loaded.
            if (rows < int(cinfo.output_height) || (decoder.source->hitEnd && decoder.error.jpeg.manager.num_warnings > 0))
                progress.Fail(decoder.source->hitEnd ? std::string("truncated: the data end before the last row")
                                                     : "only " + std::to_string(rows) + " of " +
                                                           std::to_string(cinfo.output_height) + " rows decoded");
        }
    } catch (const std::exception& e) {
        // Library errors, pictures too large and allocation failures alike: the driver never throws.
        progress.Fail(e.what());
    }
    TakeMarkers(cinfo, choices, params);
    if (started && rows > 0 && !progress.Aborted()) {
        decoder.error.abortFlag = nullptr;
        try {
            Guarded(decoder.error, [&] { jpeg_finish_decompress(&cinfo); });
        } catch (const EKVJpegException&) {
            // The pixels are all there; what follows them does not matter.
        }
    }
    if (decoder.error.jpeg.manager.num_warnings != 0) {
        params.JpegWarningCount = int(decoder.error.jpeg.manager.num_warnings);
        params.JpegWarningCode = decoder.error.jpeg.manager.msg_code;
    }
    if (choices.readMetadata) TakeMetadata(bitmap, params);
}

// --- Writing

struct TEncoder {
    TErrorManager error;
    jpeg_compress_struct cinfo;
    std::unique_ptr<TDestinationManager> destination = std::make_unique<TDestinationManager>();
    bool created = false;
    ~TEncoder() {
        if (created) jpeg_destroy_compress(&cinfo);
    }
};

J_COLOR_SPACE RecordColorSpace(uint8_t value) {
    switch (value) {
        case 1: return JCS_GRAYSCALE;
        case 2: return JCS_YCbCr;
        case 3: return JCS_CMYK;
        case 4: return JCS_YCCK;
        default: return JCS_RGB;
    }
}

void SetUpEncoder(jpeg_compress_struct& cinfo, TKVBitmap& bitmap, TIOParamsVals& params) {
    const J_COLOR_SPACE space = RecordColorSpace(params.JpegColorSpace);
    const bool cmyk = space == JCS_CMYK || space == JCS_YCCK;
    cinfo.image_width = JDIMENSION(bitmap.GetWidth());
    cinfo.image_height = JDIMENSION(bitmap.GetHeight());
    cinfo.input_components = cmyk ? 4 : 3;
    cinfo.in_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, space);
    cinfo.density_unit = 1;
    cinfo.X_density = UINT16(std::clamp(params.DpiX() ? params.DpiX() : DefaultDpiX, 0, 65535));
    cinfo.Y_density = UINT16(std::clamp(params.DpiY() ? params.DpiY() : DefaultDpiY, 0, 65535));
    if (params.JpegDCTMethod <= 2) cinfo.dct_method = J_DCT_METHOD(params.JpegDCTMethod);
    cinfo.optimize_coding = params.JpegOptimalHuffman;
    cinfo.smoothing_factor = std::clamp(params.JpegSmooth, 0, 100);
    jpeg_set_quality(&cinfo, std::clamp(params.JpegQuality, 0, 100), TRUE);
    if (params.JpegProgressive) jpeg_simple_progression(&cinfo);
}

void WriteMarkers(jpeg_compress_struct& cinfo, TIOParamsVals& params) {
    TKVMarkerList& markers = params.JpegMarkers;
    for (int i = 0; i < markers.Count(); ++i) {
        const uint8_t type = markers.GetMarkerType(i);
        if (type == JPEG_APP0 + 14) continue;  // the library writes its own Adobe marker
        jpeg_write_marker(&cinfo, type, markers.GetMarkerData(i), unsigned(markers.GetMarkerLength(i)));
    }
}

void Encode(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress, bool inkAmounts) {
    TEncoder encoder;
    jpeg_compress_struct& cinfo = encoder.cinfo;
    InitErrorManager(encoder.error, progress.AbortFlag);
    cinfo.err = &encoder.error.jpeg.manager;
    Guarded(encoder.error, [&] { jpeg_create_compress(&cinfo); });
    encoder.created = true;
    TDestinationManager& destination = *encoder.destination;
    destination.pub.init_destination = InitDestination;
    destination.pub.empty_output_buffer = EmptyOutputBuffer;
    destination.pub.term_destination = TermDestination;
    destination.stream = &stream;
    destination.abortFlag = progress.AbortFlag;
    cinfo.dest = &destination.pub;
    if (progress.Aborted()) return;

    Guarded(encoder.error, [&] {
        SetUpEncoder(cinfo, bitmap, params);
        if (inkAmounts) cinfo.write_Adobe_marker = FALSE;
        jpeg_start_compress(&cinfo, TRUE);
        WriteMarkers(cinfo, params);
    });
    const bool cmyk = cinfo.in_color_space == JCS_CMYK;
    const int width = bitmap.GetWidth();
    std::vector<uint8_t> buffer(cmyk ? size_t(width) * 4 : 0);
    progress.PercentFactor = 100.0 / cinfo.image_height;
    TKVAccessScope access(bitmap, kvaRead);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = bitmap.GetScanline(int(cinfo.next_scanline));
        if (cmyk) {
            const auto* pixels = reinterpret_cast<const TKVRGB*>(row);
            for (int x = 0; x < width; ++x) {
                const uint32_t value = inkAmounts ? ~KVRGBToCMYK(pixels[x]) : KVRGBToCMYK(pixels[x]);
                std::memcpy(buffer.data() + 4 * x, &value, 4);
            }
            row = buffer.data();
        }
        Guarded(encoder.error, [&] { jpeg_write_scanlines(&cinfo, &row, 1); });
        progress.Report(int(cinfo.next_scanline));
        if (progress.Aborted()) return;
    }
    Guarded(encoder.error, [&] { jpeg_finish_compress(&cinfo); });
}

}  // namespace

void ReadJPEGStream(TStream& stream, TStream* tables, TKVBitmap& bitmap, bool applyProfile, bool invertCMYK,
                    bool readMetadata, bool keepYCbCr, bool paramsOnly, TKVProgressRec& progress,
                    TIOParamsVals& params) {
    if (params.JpegLoadThumbnail) {
        params.ExifThumbnail.reset();
        params.JpegLoadThumbnail = false;
        ReadJPEGStream(stream, tables, bitmap, applyProfile, invertCMYK, true, keepYCbCr, true, progress, params);
        stream.SetPosition(0);
        params.JpegLoadThumbnail = true;
        if (params.ExifThumbnail && !params.ExifThumbnail->IsEmpty()) {
            bitmap.Assign(params.ExifThumbnail.get());
            return;
        }
        stream.SetPosition(0);
    }
    params.JpegWarningCount = 0;
    params.JpegWarningCode = 0;
    Decode(stream, tables, bitmap, {applyProfile, invertCMYK, readMetadata, keepYCbCr, paramsOnly}, progress, params);
}

void WriteJPEGStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress,
                     bool inkAmounts) {
    std::unique_ptr<TKVBitmap> converted;
    TKVBitmap* source = &bitmap;
    if (bitmap.GetPixelFormat() != kv24RGB) {
        converted = std::make_unique<TKVBitmap>();
        converted->Assign(&bitmap);
        converted->ConvertPixelFormat(kv24RGB);
        source = converted.get();
    }
    if (source->GetWidth() == 0 || source->GetHeight() == 0) {
        if (progress.AbortFlag) progress.AbortFlag->store(true);
        return;
    }
    Encode(stream, *source, params, progress, inkAmounts);
}

void WriteJPEGStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    WriteJPEGStream(stream, bitmap, params, progress, false);
}

int64_t FindJPEGStart(TStream& stream) {
    const int64_t position = stream.Position();
    uint8_t bytes[102];
    const int64_t got = std::max<int64_t>(stream.Read(bytes, sizeof bytes), 0);
    stream.SetPosition(position);
    for (int64_t offset = 0; offset + 3 <= got && offset < 100; ++offset)
        if (StartsJpeg({bytes + offset, 3})) return position + offset;
    return -1;
}

int64_t GetJPEGStreamLength(TStream& stream) {
    const int64_t start = stream.Position();
    int64_t end;
    {
        TKVBufferedReadStream reader(stream, 8192);
        ScanMarkers(reader, false, [](const std::vector<uint8_t>&) { return true; });
        end = std::min(reader.Position(), reader.Size());
    }
    stream.SetPosition(start);
    return std::max<int64_t>(end - start, 0);
}

void ReadJPEGICCProfile(TStream& stream, TIOParamsVals& params) {
    const int64_t start = stream.Position();
    TProfileChunks chunks;
    {
        TKVBufferedReadStream reader(stream, 8192);
        // Profiles come before the first scan; the entropy-coded data need not be walked.
        ScanMarkers(reader, true, [&chunks](const std::vector<uint8_t>& segment) { return chunks.Add(segment); });
    }
    stream.SetPosition(start);
    // A profile with a chunk missing cannot be used.
    if (chunks.Complete()) {
        const std::vector<uint8_t> profile = chunks.Joined();
        params.GetInputICC().LoadFromBuffer(profile.data(), int64_t(profile.size()));
    }
}

// --- The raw decoder's layer

struct TKVRawJpegErrorMgr {
    TErrorManager manager;
};

namespace {

TErrorManager& ErrorOf(jpeg_decompress_struct* decompressor) {
    return reinterpret_cast<TErrorManager&>(*decompressor->err);
}

}  // namespace

jpeg_decompress_struct* RawJpegAllocDecompress() { return new jpeg_decompress_struct{}; }

TKVRawJpegErrorMgr* RawJpegCreateErrorMgr(jpeg_decompress_struct* decompressor) {
    auto* error = new TKVRawJpegErrorMgr{};
    InitErrorManager(error->manager, nullptr);
    decompressor->err = &error->manager.jpeg.manager;
    return error;
}

void RawJpegCreateDecompress(jpeg_decompress_struct* decompressor) {
    Guarded(ErrorOf(decompressor), [&] { jpeg_create_decompress(decompressor); });
}

void RawJpegStreamSource(jpeg_decompress_struct* decompressor, TStream& stream) {
    auto* source = reinterpret_cast<TKVJpegSource*>(decompressor->src);
    // The library's permanent pool frees it with the decompressor.
    if (!source)
        Guarded(ErrorOf(decompressor), [&] {
            source = static_cast<TKVJpegSource*>((*decompressor->mem->alloc_small)(
                reinterpret_cast<j_common_ptr>(decompressor), JPOOL_PERMANENT, sizeof(TKVJpegSource)));
        });
    source->abortFlag = nullptr;
    InstallSource(*decompressor, *source, stream);
}

void RawJpegSetFillInputBuffer(jpeg_decompress_struct* decompressor, TKVRawJpegFillInput fill) {
    auto* source = reinterpret_cast<TKVJpegSource*>(decompressor->src);
    source->rawFill = fill;
    source->pub.fill_input_buffer = fill ? RawFillInputBuffer : FillInputBuffer;
}

void RawJpegSetSource(TKVJpegSource& source, const uint8_t* buffer, size_t count) {
    source.pub.next_input_byte = buffer;
    source.pub.bytes_in_buffer = count;
}

int RawJpegReadHeader(jpeg_decompress_struct* decompressor, bool requireImage) {
    int result = 0;
    Guarded(ErrorOf(decompressor), [&] { result = jpeg_read_header(decompressor, requireImage); });
    return result;
}

bool RawJpegStartDecompress(jpeg_decompress_struct* decompressor) {
    boolean started = FALSE;
    Guarded(ErrorOf(decompressor), [&] { started = jpeg_start_decompress(decompressor); });
    return started;
}

int RawJpegOutputWidth(jpeg_decompress_struct* decompressor) { return int(decompressor->output_width); }
int RawJpegOutputHeight(jpeg_decompress_struct* decompressor) { return int(decompressor->output_height); }
int RawJpegOutputComponents(jpeg_decompress_struct* decompressor) { return decompressor->output_components; }
int RawJpegOutputScanline(jpeg_decompress_struct* decompressor) { return int(decompressor->output_scanline); }

uint8_t** RawJpegAllocSArray(jpeg_decompress_struct* decompressor, int pool, int samplesPerRow, int rows) {
    JSAMPARRAY array = nullptr;
    Guarded(ErrorOf(decompressor), [&] {
        array = (*decompressor->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(decompressor), pool,
                                                   JDIMENSION(samplesPerRow), JDIMENSION(rows));
    });
    return array;
}

int RawJpegReadScanlines(jpeg_decompress_struct* decompressor, uint8_t** rows, int count) {
    JDIMENSION read = 0;
    Guarded(ErrorOf(decompressor), [&] { read = jpeg_read_scanlines(decompressor, rows, JDIMENSION(count)); });
    return int(read);
}

bool RawJpegFinishDecompress(jpeg_decompress_struct* decompressor) {
    boolean finished = FALSE;
    Guarded(ErrorOf(decompressor), [&] { finished = jpeg_finish_decompress(decompressor); });
    return finished;
}

void RawJpegDestroyDecompress(jpeg_decompress_struct* decompressor) { jpeg_destroy_decompress(decompressor); }

void RawJpegFreeDecompress(jpeg_decompress_struct* decompressor) { delete decompressor; }

void RawJpegFreeErrorMgr(TKVRawJpegErrorMgr* errorManager) { delete errorManager; }

namespace {

// The component's "JFIF" stream header, or a start of image marker within the first bytes.
bool IsJpeg(TStream& stream) {
    const TKVStreamPrefix p(stream);
    if (p.size > 12 && p.Tag(5) == "JFIF") return true;
    for (size_t i = 0; i < 100 && i < p.bytes.size(); ++i)
        if (StartsJpeg(std::span(p.bytes).subspan(i))) return true;
    return false;
}

// A picture stored behind a 12-byte "JFIF" stream header is read from behind it, and the stream
// is left after the picture, so that several can follow one another.
void ReadJpeg(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    const int64_t start = stream.Position();
    uint8_t header[12] = {};
    const bool headed = stream.Read(header, 12) == 12 && std::memcmp(header, "JFIF", 4) == 0;
    if (!headed) stream.SetPosition(start);
    ReadJPEGStream(stream, nullptr, bitmap, true, false, true, false, paramsOnly, progress, params);
    if (headed) {
        const uint32_t length = uint32_t(header[8] | header[9] << 8 | header[10] << 16) | uint32_t(header[11]) << 24;
        stream.SetPosition(start + 12 + length);
    }
}

}  // namespace

const TKVFormatDriver KVJpegDriver{.FileType = kvftJPEG,
                                   .IsFormat = IsJpeg,
                                   .ReadHeader = KVReadHeaderBy<ReadJpeg>,
                                   .Read = KVReadPictureBy<ReadJpeg>,
                                   .Write = WriteJPEGStream};
