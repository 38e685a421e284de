#include "Jpeg.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jerror.h>

#include "Canvas.h"
#include "JpegLibrary.h"
#include "PictureLimits.h"

// Each routine below that calls the library sets the jump point of its error manager and keeps
// only plain data in its frame, so the jump back skips no destructor.

namespace {

struct TJpegError {
    TJpegErrorManager library;
    char message[JMSG_LENGTH_MAX];
};

void SilentMessage(j_common_ptr, int) {}

jpeg_error_mgr* InitError(TJpegError& error) {
    jpeg_error_mgr* manager = InitJpegErrorManager(error.library);
    manager->emit_message = SilentMessage;
    error.message[0] = 0;
    return manager;
}

// The library's text for the error that jumped back.
void KeepMessage(j_common_ptr cinfo, TJpegError& error) { (*cinfo->err->format_message)(cinfo, error.message); }

struct THeader {
    int width, height, components;
    bool adobeMarker;
};

bool ReadHeader(const uint8_t* data, size_t size, THeader& header, TJpegError& error) {
    jpeg_decompress_struct cinfo;
    cinfo.err = InitError(error);
    if (setjmp(error.library.jump)) {
        KeepMessage(reinterpret_cast<j_common_ptr>(&cinfo), error);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    header = {int(cinfo.image_width), int(cinfo.image_height), cinfo.num_components, cinfo.saw_Adobe_marker != 0};
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// CMYK samples into blue, green, red; Adobe data hold the inverted values.
void CmykRowToBgr(const JSAMPLE* cmyk, uint8_t* bgr, int width, bool inverted) {
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const int c = inverted ? cmyk[0] : 255 - cmyk[0];
        const int m = inverted ? cmyk[1] : 255 - cmyk[1];
        const int y = inverted ? cmyk[2] : 255 - cmyk[2];
        const int k = inverted ? cmyk[3] : 255 - cmyk[3];
        bgr[0] = static_cast<uint8_t>((y * k + 127) / 255);
        bgr[1] = static_cast<uint8_t>((m * k + 127) / 255);
        bgr[2] = static_cast<uint8_t>((c * k + 127) / 255);
    }
}

// The bitmap is 24-bit and already sized from the header.
bool Decode(const std::vector<uint8_t>& data, TBitmap& bitmap, TJpegError& error) {
    jpeg_decompress_struct cinfo;
    cinfo.err = InitError(error);
    if (setjmp(error.library.jump)) {
        KeepMessage(reinterpret_cast<j_common_ptr>(&cinfo), error);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    const bool cmyk = cinfo.num_components == 4;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    if (int(cinfo.output_width) != bitmap.Width() || int(cinfo.output_height) != bitmap.Height())
        ERREXIT(&cinfo, JERR_IMAGE_TOO_BIG);
    JSAMPARRAY cmykRow = cmyk ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                          cinfo.output_width * 4, 1)
                              : nullptr;
    while (cinfo.output_scanline < cinfo.output_height) {
        uint8_t* row = bitmap.ScanLine(int(cinfo.output_scanline));
        if (cmyk) {
            jpeg_read_scanlines(&cinfo, cmykRow, 1);
            CmykRowToBgr(cmykRow[0], row, bitmap.Width(), cinfo.saw_Adobe_marker);
        } else {
            JSAMPROW rows[1] = {row};
            jpeg_read_scanlines(&cinfo, rows, 1);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// The bitmap is 24-bit; on success *output holds malloc'ed data the caller frees.
bool Encode(const TBitmap& bitmap, int quality, unsigned char** output, unsigned long* outputSize, TJpegError& error) {
    jpeg_compress_struct cinfo;
    cinfo.err = InitError(error);
    if (setjmp(error.library.jump)) {
        KeepMessage(reinterpret_cast<j_common_ptr>(&cinfo), error);
        jpeg_destroy_compress(&cinfo);
        std::free(*output);
        *output = nullptr;
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, output, outputSize);
    cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
    cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {const_cast<uint8_t*>(bitmap.ScanLine(int(cinfo.next_scanline)))};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

void TJPEGImage::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    if (size <= 0 || size > MaxDataBytes) throw EInvalidGraphic("JPEG image is empty or too large");
    std::vector<uint8_t> data(static_cast<size_t>(size));
    stream.ReadBuffer(data.data(), size);
    THeader header{};
    TJpegError error;
    if (!ReadHeader(data.data(), data.size(), header, error))
        throw EInvalidGraphic(std::string("JPEG error: ") + error.message);
    data_ = std::move(data);
    width_ = header.width;
    height_ = header.height;
    components_ = header.components;
    adobeMarker_ = header.adobeMarker;
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream) const { stream.WriteBuffer(data_.data(), int64_t(data_.size())); }

void TJPEGImage::Assign(const TBitmap& bitmap) {
    if (bitmap.Empty()) throw EInvalidGraphic("JPEG error: the bitmap is empty");
    TBitmap converted;
    const TBitmap* source = &bitmap;
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        converted = bitmap;
        converted.SetPixelFormat(TPixelFormat::pf24bit);
        source = &converted;
    }
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    TJpegError error;
    if (!Encode(*source, quality_, &output, &outputSize, error))
        throw EInvalidGraphic(std::string("JPEG error: ") + error.message);
    data_.assign(output, output + outputSize);
    std::free(output);
    width_ = bitmap.Width();
    height_ = bitmap.Height();
    components_ = 3;
    adobeMarker_ = false;
    Changed();
}

void TJPEGImage::AssignTo(TBitmap& bitmap) const {
    // The frame header's size is a claim: a few bytes may ask for gigabytes.
    const std::string problem = PictureSizeProblem(width_, height_, 24, int64_t(data_.size()));
    if (!problem.empty()) throw EInvalidGraphic("JPEG error: " + problem);
    TBitmap decoded;
    decoded.SetPixelFormat(TPixelFormat::pf24bit);
    decoded.SetSize(width_, height_);
    TJpegError error;
    if (!Decode(data_, decoded, error)) throw EInvalidGraphic(std::string("JPEG error: ") + error.message);
    bitmap = std::move(decoded);
}

void TJPEGImage::SetCompressionQuality(int quality) { quality_ = std::clamp(quality, 1, 100); }

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) const {
    TBitmap decoded;
    AssignTo(decoded);
    canvas.DrawBitmap(rect, decoded);
}
