#include "imaging/io/KVJpeg2000.h"

#include <openjpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVFormatDriver.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

namespace {

const uint8_t jp2Signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
const uint8_t j2kSignature[4] = {0xFF, 0x4F, 0xFF, 0x51};

bool StartsWith(TStream& stream, const uint8_t* signature, int length) {
    const int64_t start = stream.Position();
    uint8_t bytes[12] = {};
    const bool match = stream.Read(bytes, length) == length && std::memcmp(bytes, signature, size_t(length)) == 0;
    stream.SetPosition(start);
    return match;
}

// --- OpenJPEG streams over memory

struct TMemorySource {
    const std::vector<uint8_t>& bytes;
    size_t position = 0;
};

OPJ_SIZE_T ReadSource(void* buffer, OPJ_SIZE_T count, void* data) {
    auto& s = *static_cast<TMemorySource*>(data);
    const size_t n = std::min(count, s.bytes.size() - s.position);
    if (n == 0) return OPJ_SIZE_T(-1);
    std::memcpy(buffer, s.bytes.data() + s.position, n);
    s.position += n;
    return n;
}

OPJ_OFF_T SkipSource(OPJ_OFF_T count, void* data) {
    auto& s = *static_cast<TMemorySource*>(data);
    if (count < 0 || size_t(count) > s.bytes.size() - s.position) return -1;
    s.position += size_t(count);
    return count;
}

OPJ_BOOL SeekSource(OPJ_OFF_T position, void* data) {
    auto& s = *static_cast<TMemorySource*>(data);
    if (position < 0 || size_t(position) > s.bytes.size()) return OPJ_FALSE;
    s.position = size_t(position);
    return OPJ_TRUE;
}

struct TMemorySink {
    std::vector<uint8_t> bytes;
    size_t position = 0;
};

OPJ_SIZE_T WriteSink(void* buffer, OPJ_SIZE_T count, void* data) {
    auto& s = *static_cast<TMemorySink*>(data);
    if (s.bytes.size() < s.position + count) s.bytes.resize(s.position + count);
    std::memcpy(s.bytes.data() + s.position, buffer, count);
    s.position += count;
    return count;
}

OPJ_OFF_T SkipSink(OPJ_OFF_T count, void* data) {
    auto& s = *static_cast<TMemorySink*>(data);
    if (count < 0) return -1;
    s.position += size_t(count);
    return count;
}

OPJ_BOOL SeekSink(OPJ_OFF_T position, void* data) {
    auto& s = *static_cast<TMemorySink*>(data);
    if (position < 0) return OPJ_FALSE;
    s.position = size_t(position);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

struct TCodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct TStreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct TImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using TCodec = std::unique_ptr<opj_codec_t, TCodecDeleter>;
using TOpjStream = std::unique_ptr<opj_stream_t, TStreamDeleter>;
using TImage = std::unique_ptr<opj_image_t, TImageDeleter>;

void SilenceCodec(opj_codec_t* codec) {
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
}

// --- Reading

// YCbCr to RGB tables from the luma weights 0.299, 0.587 and 0.114.
struct TYccTables {
    std::array<int, 256> crToRed, cbToBlue, crToGreen, cbToGreen;
    TYccTables() {
        const float crRed = 2 - 2 * 0.299f, cbBlue = 2 - 2 * 0.114f;
        const float crGreen = (0.299f * crRed) / 0.587f, cbGreen = (0.114f * cbBlue) / 0.587f;
        for (int c = 0; c < 256; ++c) {
            const int d = c - 128;
            crToRed[size_t(c)] = int(std::nearbyint(crRed * d));
            cbToBlue[size_t(c)] = int(std::nearbyint(cbBlue * d));
            crToGreen[size_t(c)] = -int(std::nearbyint(crGreen * d));
            cbToGreen[size_t(c)] = -int(std::nearbyint(cbGreen * d));
        }
    }
};

enum class TJ2kSpace { Gray, Rgb, Ycc };

// The components that make the picture, in the order grey, or red green blue, or Y Cb Cr.
std::vector<int> ChosenComponents(const opj_image_t& image, TJ2kSpace& space) {
    const int count = int(image.numcomps);
    switch (image.color_space) {
        case OPJ_CLRSPC_GRAY: space = TJ2kSpace::Gray; break;
        case OPJ_CLRSPC_SRGB: space = TJ2kSpace::Rgb; break;
        case OPJ_CLRSPC_SYCC: space = TJ2kSpace::Ycc; break;
        // Bare code streams say nothing: three components or more are taken as RGB.
        case OPJ_CLRSPC_UNSPECIFIED:
        case OPJ_CLRSPC_UNKNOWN: space = count >= 3 ? TJ2kSpace::Rgb : TJ2kSpace::Gray; break;
        default: throw EInvalidGraphic("unsupported JPEG 2000 colour space");
    }
    if (space == TJ2kSpace::Gray) return {0};
    if (count < 3) throw EInvalidGraphic("JPEG 2000 colour picture with fewer than three components");
    return {0, 1, 2};
}

// The sample at picture column x and row y as 8 bits: the top 8 bits of deep samples, shallow
// ones scaled up; signed samples moved up to unsigned first; 0 outside the component.
class TComponentReader {
public:
    TComponentReader(const opj_image_t& image, const opj_image_comp_t& c) : image_(image), c_(c) {
        if (c.prec < 1 || c.prec > 31) throw EInvalidGraphic("unsupported JPEG 2000 precision");
        if (c.dx == 0 || c.dy == 0) throw EInvalidGraphic("JPEG 2000 component without steps");
    }

    uint8_t At(int64_t x, int64_t y) const {
        const int64_t col = (int64_t(image_.x0) + x) / c_.dx - c_.x0, row = (int64_t(image_.y0) + y) / c_.dy - c_.y0;
        if (col < 0 || row < 0 || col >= int64_t(c_.w) || row >= int64_t(c_.h) || !c_.data) return 0;
        int64_t v = c_.data[row * c_.w + col];
        if (c_.sgnd) v += int64_t(1) << (c_.prec - 1);
        v = std::clamp<int64_t>(v, 0, (int64_t(1) << c_.prec) - 1);
        if (c_.prec >= 8) return uint8_t(v >> (c_.prec - 8));
        // Shallow samples are stretched to the full range, so their largest value is white.
        const int64_t largest = (int64_t(1) << c_.prec) - 1;
        return uint8_t((v * 255 + largest / 2) / largest);
    }

private:
    const opj_image_t& image_;
    const opj_image_comp_t& c_;
};

// Where the code stream starts: at 0 for a bare one, in the "jp2c" box of a JP2 file.
int64_t CodeStreamStart(const TByteReader& r, bool jp2) {
    if (!jp2) return 0;
    for (int64_t at = 0; at + 8 <= r.Size();) {
        uint64_t length = r.U32BEAt(at);
        int64_t header = 8;
        if (length == 1) {
            length = uint64_t(r.U32BEAt(at + 8)) << 32 | r.U32BEAt(at + 12);
            header = 16;
        }
        if (r.U32BEAt(at + 4) == 0x6A703263) return at + header;  // "jp2c"
        if (length == 0 || length < uint64_t(header) || length > uint64_t(r.Size() - at)) break;
        at += int64_t(length);
    }
    throw EInvalidGraphic("JP2 file without a code stream");
}

// OpenJPEG sizes its tables from the SIZ segment as soon as it reads the header, so the picture
// size, the components and the tiles are checked against the data first. Every tile needs a tile
// part of at least 14 bytes.
void CheckSizeSegment(const std::vector<uint8_t>& bytes, bool jp2) {
    const TByteReader r(bytes.data(), int64_t(bytes.size()));
    const int64_t at = CodeStreamStart(r, jp2);
    if (r.U16BEAt(at) != 0xFF4F || r.U16BEAt(at + 2) != 0xFF51) throw EInvalidGraphic("JPEG 2000 code stream without SIZ");
    const int64_t width = int64_t(r.U32BEAt(at + 8)) - r.U32BEAt(at + 16);
    const int64_t height = int64_t(r.U32BEAt(at + 12)) - r.U32BEAt(at + 20);
    const int64_t tileWidth = r.U32BEAt(at + 24), tileHeight = r.U32BEAt(at + 28);
    const int64_t tileX = r.U32BEAt(at + 32), tileY = r.U32BEAt(at + 36);
    const int components = r.U16BEAt(at + 40);
    if (width < 1 || height < 1 || tileWidth < 1 || tileHeight < 1 || components < 1)
        throw EInvalidGraphic("damaged JPEG 2000 size segment");
    const int64_t right = r.U32BEAt(at + 8), bottom = r.U32BEAt(at + 12);
    if (tileX > right || tileY > bottom) throw EInvalidGraphic("damaged JPEG 2000 size segment");
    const int64_t tiles = ((right - tileX + tileWidth - 1) / tileWidth) * ((bottom - tileY + tileHeight - 1) / tileHeight);
    if (tiles > int64_t(bytes.size()) / 14) throw EInvalidGraphic("more JPEG 2000 tiles than the data hold");
    CheckPictureSize(width, height * components, 32, int64_t(bytes.size()));
}

uint8_t Clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

void ReadJ2k(const std::vector<uint8_t>& bytes, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
             TKVProgressRec& progress) {
    const bool jp2 = bytes.size() >= 12 && std::memcmp(bytes.data(), jp2Signature, 12) == 0;
    const bool j2k = bytes.size() >= 4 && std::memcmp(bytes.data(), j2kSignature, 4) == 0;
    if (!jp2 && !j2k) throw EInvalidGraphic("not a JPEG 2000 picture");
    CheckSizeSegment(bytes, jp2);
    TMemorySource source{bytes};
    TOpjStream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), bytes.size());
    opj_stream_set_read_function(stream.get(), ReadSource);
    opj_stream_set_skip_function(stream.get(), SkipSource);
    opj_stream_set_seek_function(stream.get(), SeekSource);
    TCodec codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    SilenceCodec(codec.get());
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* header = nullptr;
    if (!opj_setup_decoder(codec.get(), &parameters) || !opj_read_header(stream.get(), codec.get(), &header))
        throw EInvalidGraphic("damaged JPEG 2000 header");
    TImage image(header);
    TJ2kSpace space = TJ2kSpace::Gray;
    const std::vector<int> chosen = ChosenComponents(*image, space);
    for (int i = 0; i < int(image->numcomps); ++i)
        if (image->comps[i].prec < 1 || image->comps[i].prec > 31) throw EInvalidGraphic("unsupported JPEG 2000 precision");
    const int64_t width = int64_t(image->x1) - image->x0, height = int64_t(image->y1) - image->y0;
    params.Width = int(std::clamp<int64_t>(width, 0, INT32_MAX));
    params.Height = int(std::clamp<int64_t>(height, 0, INT32_MAX));
    params.SamplesPerPixel = int(chosen.size());
    params.BitsPerSample = int(image->comps[chosen[0]].prec);
    params.SetDpiX(DefaultDpiX);
    params.SetDpiY(DefaultDpiY);
    params.ColorMap.clear();
    if (paramsOnly) return;
    // Every component is decoded whole, so all of them count against the limits.
    for (int i = 0; i < int(image->numcomps); ++i)
        CheckPictureSize(image->comps[i].w, image->comps[i].h, 32, int64_t(bytes.size()));
    CheckPictureSize(width, height, 24, int64_t(bytes.size()));
    if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
        throw EInvalidGraphic("damaged JPEG 2000 data");
    std::vector<TComponentReader> readers;
    for (int i : chosen) readers.emplace_back(*image, image->comps[i]);
    const bool oneBit = space == TJ2kSpace::Gray && params.BitsPerSample == 1;
    bitmap.Allocate(int(width), int(height), oneBit ? kv1Bit : kv24RGB);
    static const TYccTables ycc;
    TKVAccessScope writing(bitmap, kvaWrite);
    StartProgress(progress, int(height));
    for (int y = 0; y < height && !progress.Aborted(); ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        if (oneBit) std::memset(row, 0, size_t((width + 7) / 8));
        for (int x = 0; x < width; ++x) {
            if (oneBit) {
                if (readers[0].At(x, y)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
                continue;
            }
            uint8_t* p = row + 3 * x;
            if (space == TJ2kSpace::Gray) {
                p[0] = p[1] = p[2] = readers[0].At(x, y);
            } else if (space == TJ2kSpace::Rgb) {
                p[2] = readers[0].At(x, y);
                p[1] = readers[1].At(x, y);
                p[0] = readers[2].At(x, y);
            } else {
                const int luma = readers[0].At(x, y), cb = readers[1].At(x, y), cr = readers[2].At(x, y);
                p[2] = Clamp255(luma + ycc.crToRed[size_t(cr)]);
                p[1] = Clamp255(luma + ycc.cbToGreen[size_t(cb)] + ycc.crToGreen[size_t(cr)]);
                p[0] = Clamp255(luma + ycc.cbToBlue[size_t(cb)]);
            }
        }
        progress.Report(y);
    }
}

// --- Writing

// OpenJPEG refuses more resolution levels than the smaller side can be halved.
int ResolutionsFor(int width, int height) {
    int levels = 1;
    while (levels < 6 && (std::min(width, height) >> levels) >= 1) ++levels;
    return levels;
}

std::vector<uint8_t> EncodeJ2k(TKVBitmap& bitmap, TIOParamsVals& params, bool codeStream, TKVProgressRec& progress) {
    if (bitmap.GetPixelFormat() == kv1Bit) {
        params.BitsPerSample = 1;
        params.J2KColorSpace = 0;
    }
    if (params.J2KColorSpace > 2) throw EInvalidGraphic("unsupported JPEG 2000 colour space");
    if (params.BitsPerSample < 1 || params.BitsPerSample > 16) throw EInvalidGraphic("unsupported JPEG 2000 precision");
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const int components = params.J2KColorSpace == 0 ? 1 : 3;
    std::vector<opj_image_cmptparm_t> parts(static_cast<size_t>(components));
    for (opj_image_cmptparm_t& part : parts) {
        part = {};
        part.dx = part.dy = 1;
        part.w = OPJ_UINT32(width);
        part.h = OPJ_UINT32(height);
        part.prec = OPJ_UINT32(params.BitsPerSample);
        part.sgnd = 0;
    }
    TImage image(opj_image_create(OPJ_UINT32(components), parts.data(), components == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
    if (!image) throw EInvalidGraphic("JPEG 2000 image not created");
    image->x1 = OPJ_UINT32(width);
    image->y1 = OPJ_UINT32(height);
    const double maximum = double((1 << params.BitsPerSample) - 1);
    auto scale = [&](int value) { return OPJ_INT32(std::trunc(value / 255.0 * maximum)); };
    StartProgress(progress, height);
    for (int y = 0; y < height && !progress.Aborted(); ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = size_t(y) * size_t(width) + size_t(x);
            const TKVRGB c = bitmap.GetPixelRGB(x, y);
            if (components == 3) {
                image->comps[0].data[at] = scale(c.r);
                image->comps[1].data[at] = scale(c.g);
                image->comps[2].data[at] = scale(c.b);
            } else if (bitmap.GetPixelFormat() == kv1Bit) {
                image->comps[0].data[at] = c.r ? 1 : 0;
            } else {
                image->comps[0].data[at] =
                    scale((c.r * KVGrayWeights.Red + c.g * KVGrayWeights.Green + c.b * KVGrayWeights.Blue) / 100);
            }
        }
        progress.Report(y);
    }
    if (progress.Aborted()) return {};
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.cp_disto_alloc = 1;
    // A rate is the fraction of the raw size to keep; 1 or more, or 0 or less, is lossless.
    const double rate = params.J2KRate;
    parameters.tcp_rates[0] = rate > 0 && rate < 1 ? float(1 / rate) : 0;
    parameters.prog_order = params.J2KProgressionOrder == 1 ? OPJ_RLCP : OPJ_LRCP;
    parameters.tcp_mct = components == 3 ? 1 : 0;
    parameters.numresolution = ResolutionsFor(width, height);
    TCodec codec(opj_create_compress(codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    SilenceCodec(codec.get());
    TMemorySink sink;
    TOpjStream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
    opj_stream_set_user_data(stream.get(), &sink, nullptr);
    opj_stream_set_write_function(stream.get(), WriteSink);
    opj_stream_set_skip_function(stream.get(), SkipSink);
    opj_stream_set_seek_function(stream.get(), SeekSink);
    if (!opj_setup_encoder(codec.get(), &parameters, image.get()) || !opj_start_compress(codec.get(), image.get(), stream.get()) ||
        !opj_encode(codec.get(), stream.get()) || !opj_end_compress(codec.get(), stream.get()))
        throw EInvalidGraphic("JPEG 2000 encoding failed");
    stream.reset();
    return std::move(sink.bytes);
}

}  // namespace

bool IsJP2Stream(TStream& stream) { return StartsWith(stream, jp2Signature, 12); }

bool IsJ2KStream(TStream& stream) { return StartsWith(stream, j2kSignature, 4); }

void ReadJP2Stream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    RunDriver(progress, [&] { ReadJ2k(ReadStreamRest(stream), bitmap, params, paramsOnly, progress); });
}

void WriteJP2Stream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool codeStream, TKVProgressRec& progress) {
    RunDriver(progress, [&] {
        if (bitmap.IsEmpty()) throw EInvalidGraphic("no picture to write");
        const std::vector<uint8_t> bytes = EncodeJ2k(bitmap, params, codeStream, progress);
        if (!progress.Aborted()) stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    });
}

namespace {

void WriteJp2(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    WriteJP2Stream(stream, bitmap, params, false, progress);
}

void WriteJ2k(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    WriteJP2Stream(stream, bitmap, params, true, progress);
}

}  // namespace

const TKVFormatDriver KVJp2Driver{.FileType = kvftJP2,
                                  .IsFormat = IsJP2Stream,
                                  .ReadHeader = KVReadHeaderBy<ReadJP2Stream>,
                                  .Read = KVReadPictureBy<ReadJP2Stream>,
                                  .Write = WriteJp2};

const TKVFormatDriver KVJ2kDriver{.FileType = kvftJ2K,
                                  .IsFormat = IsJ2KStream,
                                  .ReadHeader = KVReadHeaderBy<ReadJP2Stream>,
                                  .Read = KVReadPictureBy<ReadJP2Stream>,
                                  .Write = WriteJ2k};
