#include "TIFFJPEGDecoder.h"

#include <algorithm>
#include <string>

#include "PicFormatGraphic.h"
#include "platform/JpegLibrary.h"
#include "platform/Warnings.h"

namespace {

const uint8_t kEndOfImage[] = {0xFF, 0xD9};

void OutputMessage(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    Warn(text);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// The data ran out: the strip ends at a supplied end-of-image marker.
boolean FillInputBuffer(j_decompress_ptr info) {
    Warn("JPEG decompression error. Unexpected end of input.");
    info->src->next_input_byte = kEndOfImage;
    info->src->bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    if (size_t(count) > info->src->bytes_in_buffer) {
        FillInputBuffer(info);
        return;
    }
    info->src->next_input_byte += count;
    info->src->bytes_in_buffer -= size_t(count);
}

int64_t DivideUp(int64_t value, int64_t divisor) { return divisor <= 0 ? value : (value + divisor - 1) / divisor; }

}  // namespace

struct TTIFFJPEGDecoder::TJpeg {
    jpeg_decompress_struct info{};
    TJpegErrorManager error{};
    jpeg_source_mgr source{};
    bool created = false;
    int horizontalSubsampling = 1, verticalSubsampling = 1;

    void SetSource(const uint8_t* data, int64_t size) {
        source.next_input_byte = data;
        source.bytes_in_buffer = size_t(std::max<int64_t>(size, 0));
    }
};

TTIFFJPEGDecoder::TTIFFJPEGDecoder(const TImageProperties& properties)
    : jpeg_(std::make_unique<TJpeg>()), properties_(properties) {}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() { FinishDecoding(); }

void TTIFFJPEGDecoder::StartDecoding() {
    FinishDecoding();
    TJpeg& jpeg = *jpeg_;
    jpeg.info.err = InitJpegErrorManager(jpeg.error);
    jpeg.error.manager.output_message = OutputMessage;
    jpeg_create_decompress(&jpeg.info);
    jpeg.created = true;
    jpeg.source.init_source = InitSource;
    jpeg.source.fill_input_buffer = FillInputBuffer;
    jpeg.source.skip_input_data = SkipInputData;
    jpeg.source.resync_to_restart = jpeg_resync_to_restart;
    jpeg.source.term_source = TermSource;
    jpeg.info.src = &jpeg.source;
    const std::vector<uint8_t>& subsampling = properties_.YCbCrSubSampling;
    jpeg.horizontalSubsampling = subsampling.size() >= 2 ? subsampling[0] : 1;
    jpeg.verticalSubsampling = subsampling.size() >= 2 ? subsampling[1] : 1;
    if (properties_.JPEGTables.empty()) return;
    jpeg.SetSource(properties_.JPEGTables.data(), int64_t(properties_.JPEGTables.size()));
    int answer = 0;
    if (setjmp(jpeg.error.jump)) RaiseGraphicErrorFmt("JPEG error #%s", {std::to_string(jpeg.error.manager.msg_code)});
    answer = jpeg_read_header(&jpeg.info, FALSE);
    if (answer != JPEG_HEADER_TABLES_ONLY) RaiseCompressionError("Bogus JPEG tables field.");
}

void TTIFFJPEGDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    if (!jpeg_->created) StartDecoding();
    TJpeg& jpeg = *jpeg_;
    jpeg_decompress_struct& info = jpeg.info;
    const TImageProperties& p = properties_;
    // Tiles have no row length to check against; they are refused.
    const int64_t rowLength = p.BytesPerLine;
    if (p.Options & ioTiled || rowLength <= 0) RaiseCompressionError("Improper JPEG strip/tile size.");
    const bool separatePlanes = p.PlanarConfig == 2;
    int64_t expectedWidth = p.Width;
    int64_t expectedHeight = int64_t(p.Height) - p.CurrentRow;
    if (!p.RowsPerStrip.empty()) expectedHeight = std::min<int64_t>(expectedHeight, p.RowsPerStrip[0]);
    if (separatePlanes && p.CurrentStrip == p.StripCount) {
        expectedWidth = DivideUp(expectedWidth, jpeg.horizontalSubsampling);
        expectedHeight = DivideUp(expectedHeight, jpeg.verticalSubsampling);
    }
    if (unpackedSize % rowLength != 0) RaiseCompressionError("Fractional JPEG scanline unsupported.");
    const int64_t rows = unpackedSize / rowLength;

    // Only plain values live across setjmp; the messages are built after the jump.
    const char* problem = nullptr;
    if (setjmp(jpeg.error.jump)) {
        const int code = jpeg.error.manager.msg_code;
        jpeg_abort_decompress(&info);
        RaiseGraphicErrorFmt("JPEG error #%s", {std::to_string(code)});
    }
    jpeg_abort_decompress(&info);
    jpeg.SetSource(source, packedSize);
    jpeg_read_header(&info, TRUE);
    const int components = info.num_components;
    if (info.image_width != expectedWidth || info.image_height != expectedHeight) {
        problem = "Improper JPEG strip/tile size.";
    } else if (components != (separatePlanes ? 1 : int(p.SamplesPerPixel))) {
        problem = "Improper JPEG component count.";
    } else if (info.data_precision != p.BitsPerSample) {
        problem = "Improper JPEG data precision.";
    } else if (!separatePlanes) {
        for (int c = 0; c < components && !problem; ++c) {
            const int h = c == 0 ? jpeg.horizontalSubsampling : 1, v = c == 0 ? jpeg.verticalSubsampling : 1;
            if (info.comp_info[c].h_samp_factor != h || info.comp_info[c].v_samp_factor != v)
                problem = "Improper JPEG sampling factors.";
        }
    } else if (info.comp_info[0].h_samp_factor != 1 || info.comp_info[0].v_samp_factor != 1) {
        problem = "Improper JPEG sampling factors.";
    }
    // A row of the output must fit the caller's row.
    if (!problem && int64_t(info.image_width) * components > rowLength) problem = "Improper JPEG strip/tile size.";
    if (problem) {
        jpeg_abort_decompress(&info);
        RaiseCompressionError(problem);
    }
    if (components == 3) {
        info.jpeg_color_space = p.ColorScheme == smYCbCr ? JCS_YCbCr : JCS_RGB;
        info.out_color_space = JCS_EXT_BGR;
    } else {
        info.jpeg_color_space = components == 1 ? JCS_GRAYSCALE : JCS_UNKNOWN;
        info.out_color_space = info.jpeg_color_space;
    }
    info.raw_data_out = FALSE;
    jpeg_start_decompress(&info);
    int64_t done = 0;
    while (done < rows && info.output_scanline < info.output_height) {
        JSAMPROW row = target + done * rowLength;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
        ++done;
    }
    if (info.output_scanline == info.output_height) jpeg_finish_decompress(&info);
    else jpeg_abort_decompress(&info);
}

void TTIFFJPEGDecoder::FinishDecoding() {
    if (!jpeg_->created) return;
    jpeg_destroy_decompress(&jpeg_->info);
    jpeg_->created = false;
}
