#include "imaging/io/KVPngFilter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVMask.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVFormatDriver.h"
#include "imaging/core/KVProgress.h"
#include "imaging/proc/KVColorModels.h"
#include "platform/PictureLimits.h"

// libpng leaves an error by a jump to png_jmpbuf. Every library call that can fail runs inside
// PngGuarded, whose frame holds only plain data, so the jump skips no destructor.

namespace {

const char* const CreateError = "Error on creating PNG";

template <class Step>
bool PngGuarded(png_structp png, Step&& step) {
    if (setjmp(png_jmpbuf(png))) return false;
    step();
    return true;
}

void SetAbort(std::atomic<bool>* flag) {
    if (flag) flag->store(true);
}

void Warning(png_structp, png_const_charp) {}

// --- Reading

// libpng's words for the error that ended a read.
struct TPngReadError {
    std::string message;
};

void ReadError(png_structp png, png_const_charp message) {
    static_cast<TPngReadError*>(png_get_error_ptr(png))->message = message ? message : "PNG data damaged";
    png_longjmp(png, 1);
}

const std::string& ReadErrorOf(png_structp png) { return static_cast<TPngReadError*>(png_get_error_ptr(png))->message; }

void ReadData(png_structp png, png_bytep data, size_t count) {
    auto* stream = static_cast<TStream*>(png_get_io_ptr(png));
    int64_t got = 0;
    try {
        got = stream->Read(data, int64_t(count));
    } catch (const std::exception&) {
        got = 0;
    }
    // A file cut short is damaged, not a smaller picture.
    if (got != int64_t(count)) png_error(png, "Premature end of PNG data");
}

struct TPngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~TPngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

struct TPngHeader {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
};

int SamplesOfColorType(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 1;
    }
}

// A 1-bit file whose two colours are black then white fits kv1Bit as it is.
bool BlackAndWhite(png_structp png, png_infop info, const TPngHeader& header) {
    if (header.depth != 1) return false;
    if (header.colorType == PNG_COLOR_TYPE_GRAY) return true;
    png_colorp palette = nullptr;
    int count = 0;
    if (header.colorType != PNG_COLOR_TYPE_PALETTE || !png_get_PLTE(png, info, &palette, &count) || count < 2)
        return false;
    const png_color& a = palette[0];
    const png_color& b = palette[1];
    return a.red == 0 && a.green == 0 && a.blue == 0 && b.red == 255 && b.green == 255 && b.blue == 255;
}

// The bKGD colour at 8 bits per sample, whatever the file's depth.
TKVRGB BackgroundOf(png_structp png, png_infop info, const TPngHeader& header, png_color_16p background) {
    if (header.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        if (!png_get_PLTE(png, info, &palette, &count) || background->index >= count) return {};
        const png_color& c = palette[background->index];
        return KVCreateRGB(c.red, c.green, c.blue);
    }
    const int top = (1 << header.depth) - 1;
    auto scale = [top](int value) { return uint8_t(std::min(value, top) * 255 / top); };
    if (header.colorType & PNG_COLOR_MASK_COLOR)
        return KVCreateRGB(scale(background->red), scale(background->green), scale(background->blue));
    const uint8_t gray = scale(background->gray);
    return {gray, gray, gray};
}

bool KeepsNativeData(const TPngHeader& header, bool native) {
    return native && header.depth == 8 &&
           (header.colorType == PNG_COLOR_TYPE_GRAY || header.colorType == PNG_COLOR_TYPE_PALETTE);
}

void SetTransformations(png_structp png, png_infop info, const TPngHeader& header, bool native, bool blackAndWhite) {
    if (KeepsNativeData(header, native) || blackAndWhite) return;
    if (header.colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (header.colorType == PNG_COLOR_TYPE_GRAY && header.depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (header.depth == 16) png_set_strip_16(png);
    if (!(header.colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    png_set_bgr(png);
}

void SetComposite(png_structp png, png_infop info, const TPngHeader& header, TIOParamsVals& params) {
    png_color_16p fileBackground = nullptr;
    if (png_get_bKGD(png, info, &fileBackground)) {
        params.PngBackground = BackgroundOf(png, info, header, fileBackground);
        png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
        return;
    }
    const TKVRGB& c = params.PngBackground;
    png_color_16 background{};
    background.red = c.r, background.green = c.g, background.blue = c.b;
    background.gray = png_uint_16((c.r * KVGrayWeights.Red + c.g * KVGrayWeights.Green + c.b * KVGrayWeights.Blue) / 100);
    png_set_background(png, &background, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
}

int DpiOf(png_uint_32 pixelsPerMetre, int fallback) {
    const int dpi = int(std::nearbyint(pixelsPerMetre / 100.0 * 2.54));
    return dpi == 0 ? fallback : dpi;
}

void TakeRecord(png_structp png, png_infop info, const TPngHeader& header, TIOParamsVals& params) {
    params.Width = int(header.width);
    params.Height = int(header.height);
    params.BitsPerSample = header.depth;
    params.SamplesPerPixel = SamplesOfColorType(header.colorType);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (!png_get_pHYs(png, info, &x, &y, &unit) || unit != PNG_RESOLUTION_METER) x = y = 0;
    params.SetDpiX(DpiOf(x, DefaultDpiX));
    params.SetDpiY(DpiOf(y, DefaultDpiY));
    params.ColorMap.clear();
    png_colorp palette = nullptr;
    int count = 0;
    if (header.colorType == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(png, info, &palette, &count))
        for (int i = 0; i < count; ++i)
            params.ColorMap.push_back(KVCreateRGB(palette[i].red, palette[i].green, palette[i].blue));
    params.PngInterlaced = header.interlace != PNG_INTERLACE_NONE;
    params.PngTextKeys.Clear();
    params.PngTextValues.Clear();
    png_textp texts = nullptr;
    const int textCount = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < textCount; ++i) {
        params.PngTextKeys.Add(texts[i].key ? texts[i].key : "");
        params.PngTextValues.Add(texts[i].text ? std::string(texts[i].text, texts[i].text_length) : "");
    }
}

TKVPixelFormat BitmapFormat(const TPngHeader& header, bool native, bool blackAndWhite) {
    if (blackAndWhite) return kv1Bit;
    if (KeepsNativeData(header, native)) return header.colorType == PNG_COLOR_TYPE_PALETTE ? kv8Paletted : kv8Gray;
    return kv24RGB;
}

// Every byte is written by the rows.
void AllocateMask(std::unique_ptr<TKVMask>& mask, int width, int height) {
    if (!mask) mask = std::make_unique<TKVMask>();
    mask->AllocateBits(width, height, 8);
}

// Reads every pass into the bitmap (and the alpha bytes into the mask); false on a library error.
bool ReadRows(png_structp png, TKVBitmap& bitmap, TKVMask* mask, int passes, TKVProgressRec& progress) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const bool split = mask != nullptr;
    std::vector<uint8_t> buffer;
    if (split) buffer.resize(size_t(width) * 4 * (passes > 1 ? size_t(height) : 1));
    progress.PercentFactor = 100.0 / (double(height) * passes);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) {
            uint8_t* row = bitmap.GetScanline(y);
            png_bytep target = split ? buffer.data() + (passes > 1 ? size_t(y) * width * 4 : 0) : row;
            if (!PngGuarded(png, [&] { png_read_row(png, target, nullptr); })) {
                std::string where = " at row " + std::to_string(y + 1) + " of " + std::to_string(height);
                if (passes > 1) where += " in pass " + std::to_string(pass + 1) + " of " + std::to_string(passes);
                progress.Fail(ReadErrorOf(png) + where);
                return false;
            }
            if (split) {
                uint8_t* alpha = mask->GetScanline(y);
                for (int x = 0; x < width; ++x) {
                    std::memcpy(row + 3 * x, target + 4 * x, 3);
                    alpha[x] = target[4 * x + 3];
                }
            }
            progress.Report(pass * height + y + 1);
            if (progress.Aborted()) return false;
        }
    return true;
}

}  // namespace

void ReadPNGStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool compositeOnBackground,
                   std::unique_ptr<TKVMask>& mask, bool paramsOnly, TKVProgressRec& progress) {
    const int64_t start = stream.Position();
    TPngReader reader;
    TPngReadError error;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, ReadError, Warning);
    if (reader.png) reader.info = png_create_info_struct(reader.png);
    if (!reader.info) return progress.Fail("not enough memory");
    png_structp png = reader.png;
    png_infop info = reader.info;
    png_set_read_fn(png, &stream, ReadData);
    TPngHeader header;
    if (!PngGuarded(png, [&] {
            png_read_info(png, info);
            png_get_IHDR(png, info, &header.width, &header.height, &header.depth, &header.colorType, &header.interlace,
                         nullptr, nullptr);
        }))
        return progress.Fail(error.message);
    TakeRecord(png, info, header, params);
    if (paramsOnly) return;

    const bool native = params.IsNativePixelFormat;
    const bool blackAndWhite = BlackAndWhite(png, info, header);
    int passes = 1;
    if (!PngGuarded(png, [&] {
            SetTransformations(png, info, header, native, blackAndWhite);
            if (compositeOnBackground) SetComposite(png, info, header, params);
            passes = png_set_interlace_handling(png);
            png_read_update_info(png, info);
        }))
        return progress.Fail(error.message);
    // Only samples with alpha (their own or from tRNS) come as four channels.
    const bool split = png_get_channels(png, info) == 4 && !compositeOnBackground;
    try {
        CheckPictureSize(header.width, header.height, 32, stream.Size() - start);
        if (split) AllocateMask(mask, int(header.width), int(header.height));
        else mask.reset();
        // Every row is read, every pass of an interlaced picture together covering every pixel;
        // allocated last, so that no failure leaves its unset pixels behind.
        bitmap.AllocateUnfilled(int(header.width), int(header.height), BitmapFormat(header, native, blackAndWhite));
        if (bitmap.GetPixelFormat() == kv8Paletted)
            for (int i = 0; i < std::min(params.ColorMapCount(), 256); ++i) bitmap.Palette()[i] = params.ColorMap[size_t(i)];
    } catch (const std::exception& e) {
        return progress.Fail(e.what());
    }
    // The rows libpng hands over must fit where they go.
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes > (split ? size_t(header.width) * 4 : size_t(bitmap.GetRowLen()))) {
        bitmap.Fill(0);
        return progress.Fail("rows of " + std::to_string(rowBytes) + " bytes do not fit the picture's width");
    }
    if (split) mask->SetFull(false);
    const bool read = ReadRows(png, bitmap, split ? mask.get() : nullptr, passes, progress);
    if (!read) bitmap.Fill(0);  // rows or passes never read hold nothing worth showing
    if (mask) mask->SyncBoundingBox();
    if (read && !PngGuarded(png, [&] { png_read_end(png, nullptr); })) progress.Fail(error.message);
}

bool IsPNGStream(TStream& stream) {
    uint8_t signature[8];
    const int64_t got = stream.Read(signature, 8);
    stream.Seek(-std::max<int64_t>(got, 0), TSeekOrigin::soCurrent);
    return got == 8 && signature[0] == 0x89 && signature[1] == 'P' && signature[2] == 'N' && signature[3] == 'G';
}

// --- Writing

namespace {

struct TWriteContext {
    TStream* stream;
    std::atomic<bool>* abortFlag;
};

[[noreturn]] void WriteError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void WriteData(png_structp png, png_bytep data, size_t count) {
    auto* context = static_cast<TWriteContext*>(png_get_io_ptr(png));
    int64_t written = 0;
    try {
        written = context->stream->Write(data, int64_t(count));
    } catch (const std::exception&) {
        written = 0;
    }
    if (written != int64_t(count)) SetAbort(context->abortFlag);
}

void Flush(png_structp) {}

struct TPngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~TPngWriter() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

// A mask of another size than the picture is not its transparency.
bool HasTransparency(TKVMask* mask, TKVBitmap& bitmap) {
    if (!mask || mask->Width() != bitmap.GetWidth() || mask->Height() != bitmap.GetHeight()) return false;
    mask->SyncFull();
    return !mask->Full();
}

// 1-bit masks as 0 and 255.
uint8_t AlphaOf(const TKVMask& mask, int x, int y) {
    const int value = mask.GetPixel(x, y);
    return mask.BitsPerPixel() == 1 ? (value ? 255 : 0) : uint8_t(value);
}

std::unique_ptr<TKVBitmap> ConvertedCopy(TKVBitmap& bitmap, TKVPixelFormat format) {
    auto copy = std::make_unique<TKVBitmap>();
    copy->Assign(&bitmap);
    copy->ConvertPixelFormat(format);
    return copy;
}

// How the picture goes into the file, and the pixels that go there.
struct TWritePlan {
    std::unique_ptr<TKVBitmap> converted;  // when the bitmap itself cannot be written as it is
    TKVBitmap* work = nullptr;
    int colorType = PNG_COLOR_TYPE_RGB, depth = 8;
    bool transparent = false;  // palette entry 0 (palette files) or the alpha channel (RGB)
    bool ownIndexes = false;   // a kv8Paletted picture's bytes are the indexes
    std::unique_ptr<TKVQuantizer> palette;
    std::vector<png_color> plte;
    png_color_16 background{};
};

png_color ToPng(const TKVRGB& c) { return png_color{c.r, c.g, c.b}; }

void PlanOneBit(TKVBitmap& bitmap, TWritePlan& plan) {
    uint32_t dark = 0, light = 0xFFFFFF;
    if (bitmap.GetPixelFormat() == kv1Bit) {
        plan.work = &bitmap;
    } else if ((plan.converted = KVConvertTo1BitIfTwoColors(bitmap, dark, light))) {
        plan.work = plan.converted.get();
    } else {
        plan.converted = ConvertedCopy(bitmap, kv1Bit);
        plan.work = plan.converted.get();
    }
    plan.depth = 1;
    if (dark == 0 && light == 0xFFFFFF) {
        plan.colorType = PNG_COLOR_TYPE_GRAY;
        return;
    }
    // Two colours other than black and white stay what they are.
    plan.colorType = PNG_COLOR_TYPE_PALETTE;
    for (uint32_t c : {dark, light}) plan.plte.push_back(png_color{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
}

void PlanPalette(TKVBitmap& bitmap, int bits, const TIOParamsVals& params, bool transparent, TWritePlan& plan) {
    plan.converted = bitmap.GetPixelFormat() == kv24RGB ? nullptr : ConvertedCopy(bitmap, kv24RGB);
    plan.work = plan.converted ? plan.converted.get() : &bitmap;
    plan.transparent = transparent;
    plan.colorType = PNG_COLOR_TYPE_PALETTE;
    if (!transparent && bitmap.GetPixelFormat() == kv8Paletted && bits == 8) {
        plan.work = &bitmap;
        plan.ownIndexes = true;
        plan.converted.reset();
        for (int i = 0; i < 256; ++i) plan.plte.push_back(ToPng(bitmap.Palette()[i]));
        return;
    }
    // The table has as many entries as the depth can address; with transparency entry 0 is the
    // transparent background and the picture's colours follow it.
    plan.depth = transparent ? 8 : bits;
    const int colours = transparent ? std::min(1 << bits, 255) : 1 << bits;
    std::vector<TKVRGB> table(static_cast<size_t>(colours));
    plan.palette = std::make_unique<TKVQuantizer>(*plan.work, table.data(), colours);
    if (transparent) plan.plte.push_back(ToPng(params.PngBackground));
    for (const TKVRGB& c : table) plan.plte.push_back(ToPng(c));
}

void PlanGray(TKVBitmap& bitmap, int bits, TWritePlan& plan) {
    plan.colorType = PNG_COLOR_TYPE_GRAY;
    plan.depth = bits;
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    const bool fits = (bits == 16 && format == kv16Gray) || format == kv8Gray;
    plan.converted = fits ? nullptr : ConvertedCopy(bitmap, kv8Gray);
    plan.work = plan.converted ? plan.converted.get() : &bitmap;
}

TWritePlan Plan(TKVBitmap& bitmap, TIOParamsVals& params, TKVMask* mask) {
    TWritePlan plan;
    const int bits = std::clamp(params.BitsPerSample, 1, 16);
    const bool transparent = HasTransparency(mask, bitmap);
    if (bits == 1) {
        PlanOneBit(bitmap, plan);
    } else if (params.SamplesPerPixel == 1) {
        const int paletteBits = std::min(bits, 8);
        // A picture of grays is stored as gray, without a palette.
        if (!transparent && bitmap.IsGrayScale()) PlanGray(bitmap, bits == 16 ? 16 : paletteBits, plan);
        else PlanPalette(bitmap, paletteBits, params, transparent, plan);
    } else {
        plan.converted = bitmap.GetPixelFormat() == kv24RGB ? nullptr : ConvertedCopy(bitmap, kv24RGB);
        plan.work = plan.converted ? plan.converted.get() : &bitmap;
        plan.transparent = transparent;
        plan.colorType = transparent ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    }
    const TKVRGB& b = params.PngBackground;
    const int top = (1 << plan.depth) - 1;
    plan.background.red = png_uint_16(b.r * top / 255);
    plan.background.green = png_uint_16(b.g * top / 255);
    plan.background.blue = png_uint_16(b.b * top / 255);
    plan.background.gray =
        png_uint_16((b.r * KVGrayWeights.Red + b.g * KVGrayWeights.Green + b.b * KVGrayWeights.Blue) / 100 * top / 255);
    // With transparency entry 0 is the background itself.
    if (plan.palette) plan.background.index = png_byte(plan.transparent ? 0 : plan.palette->RGBToIndex(b));
    return plan;
}

// One row in the file's layout: samples of the header's depth, packed below 8 bits.
void BuildRow(TWritePlan& plan, int y, TKVMask* mask, std::vector<uint8_t>& out) {
    TKVBitmap& work = *plan.work;
    const int width = work.GetWidth();
    const uint8_t* row = work.GetScanline(y);
    if (plan.colorType == PNG_COLOR_TYPE_RGB || plan.depth == 1 || plan.ownIndexes ||
        (plan.colorType == PNG_COLOR_TYPE_GRAY && plan.depth == 8)) {
        std::memcpy(out.data(), row, out.size());
        return;
    }
    if (plan.colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
        for (int x = 0; x < width; ++x) {
            std::memcpy(&out[size_t(x) * 4], row + 3 * x, 3);
            out[size_t(x) * 4 + 3] = AlphaOf(*mask, x, y);
        }
        return;
    }
    if (plan.colorType == PNG_COLOR_TYPE_GRAY && plan.depth == 16) {
        for (int x = 0; x < width; ++x) {
            // Big-endian samples; an 8-bit level v becomes v x 257 so that white stays white.
            const int value = work.GetPixelFormat() == kv16Gray ? reinterpret_cast<const uint16_t*>(row)[x] : row[x] * 257;
            out[size_t(x) * 2] = uint8_t(value >> 8), out[size_t(x) * 2 + 1] = uint8_t(value);
        }
        return;
    }
    std::fill(out.begin(), out.end(), 0);
    const auto* pixels = reinterpret_cast<const TKVRGB*>(row);
    for (int x = 0; x < width; ++x) {
        int sample;
        if (plan.colorType == PNG_COLOR_TYPE_GRAY) sample = row[x] >> (8 - plan.depth);
        else if (plan.transparent) sample = AlphaOf(*mask, x, y) == 255 ? plan.palette->RGBToIndex(pixels[x]) + 1 : 0;
        else sample = plan.palette->RGBToIndex(pixels[x]);
        const int bit = x * plan.depth;
        out[size_t(bit / 8)] |= uint8_t(sample << (8 - plan.depth - bit % 8));
    }
}

void WriteHeader(png_structp png, png_infop info, TWritePlan& plan, TIOParamsVals& params) {
    png_set_IHDR(png, info, png_uint_32(plan.work->GetWidth()), png_uint_32(plan.work->GetHeight()), plan.depth,
                 plan.colorType, params.PngInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    auto ppm = [](int dpi) { return png_uint_32(std::max(0.0, std::nearbyint(dpi * 100 / 2.54))); };
    png_set_pHYs(png, info, ppm(params.DpiX()), ppm(params.DpiY()), PNG_RESOLUTION_METER);
    if (!plan.plte.empty()) png_set_PLTE(png, info, plan.plte.data(), int(plan.plte.size()));
    if (plan.transparent && plan.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_byte zero = 0;
        png_set_tRNS(png, info, &zero, 1, nullptr);
    }
    if (plan.colorType != PNG_COLOR_TYPE_PALETTE || plan.palette) png_set_bKGD(png, info, &plan.background);
    switch (params.PngFilter) {
        case 0: png_set_filter(png, 0, PNG_FILTER_NONE); break;
        case 1: png_set_filter(png, 0, PNG_FILTER_SUB); break;
        case 2: png_set_filter(png, 0, PNG_FILTER_PAETH); break;
        default: break;
    }
    png_set_compression_level(png, std::clamp(params.PngCompression, 0, 9));
    if (plan.colorType == PNG_COLOR_TYPE_RGB || plan.colorType == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(png);
}

// The record's text chunks, pointing into its strings.
std::vector<png_text> TextChunks(TIOParamsVals& params) {
    const int count = std::min(params.PngTextKeys.Count(), params.PngTextValues.Count());
    std::vector<png_text> texts(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        texts[size_t(i)].compression = PNG_TEXT_COMPRESSION_NONE;
        texts[size_t(i)].key = const_cast<char*>(params.PngTextKeys.Strings(i).c_str());
        texts[size_t(i)].text = const_cast<char*>(params.PngTextValues.Strings(i).c_str());
        texts[size_t(i)].text_length = params.PngTextValues.Strings(i).size();
    }
    return texts;
}

}  // namespace

void WritePNGStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVMask* mask,
                    TKVProgressRec& progress) {
    TPngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, WriteError, Warning);
    if (writer.png) writer.info = png_create_info_struct(writer.png);
    if (!writer.info) throw EInvalidGraphic(CreateError);
    png_structp png = writer.png;
    png_infop info = writer.info;
    TWriteContext context{&stream, progress.AbortFlag};
    png_set_write_fn(png, &context, WriteData, Flush);

    TWritePlan plan = Plan(bitmap, params, mask);
    std::vector<png_text> texts = TextChunks(params);
    int passes = 1;
    if (!PngGuarded(png, [&] {
            WriteHeader(png, info, plan, params);
            if (!texts.empty()) png_set_text(png, info, texts.data(), int(texts.size()));
            png_write_info(png, info);
            passes = png_set_interlace_handling(png);
        }))
        throw EInvalidGraphic(CreateError);
    TKVBitmap& work = *plan.work;
    const int height = work.GetHeight();
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    TKVAccessScope reading(work, kvaRead);
    progress.PercentFactor = 100.0 / (double(height) * passes);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) {
            BuildRow(plan, y, mask, row);
            if (!PngGuarded(png, [&] { png_write_row(png, row.data()); })) throw EInvalidGraphic(CreateError);
            progress.Report(pass * height + y + 1);
            if (progress.Aborted()) return;
        }
    if (!PngGuarded(png, [&] { png_write_end(png, info); })) throw EInvalidGraphic(CreateError);
}

namespace {

// Unlike IsPNGStream, one byte past the signature's first eight is wanted.
bool IsPng(TStream& stream) {
    const TKVStreamPrefix p(stream);
    return p.size > 8 && p.Starts("\x89PNG");
}

void ReadPngHeader(TStream& stream, TIOParamsVals& params, TKVProgressRec& progress) {
    TKVBitmap unused;
    std::unique_ptr<TKVMask> mask;
    ReadPNGStream(stream, unused, params, false, mask, true, progress);
}

// The transparency of a PNG picture becomes the bitmap's alpha channel.
void ReadPng(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    std::unique_ptr<TKVMask> mask;
    ReadPNGStream(stream, bitmap, params, false, mask, false, progress);
    if (!mask || bitmap.IsEmpty()) return;
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    const int width = std::min(mask->Width(), alpha.GetWidth());
    for (int y = 0; y < std::min(mask->Height(), alpha.GetHeight()); ++y)
        std::memcpy(alpha.GetScanline(y), mask->GetScanline(y), size_t(width));
    alpha.SyncFull();
    if (alpha.Full()) bitmap.RemoveAlphaChannel();
}

void WritePng(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    std::unique_ptr<TKVMask> mask;
    if (bitmap.GetHasAlphaChannel()) {
        mask = std::make_unique<TKVMask>();
        KVCopyBitmapToMask(*bitmap.GetAlphaChannel(), *mask);
    }
    WritePNGStream(stream, bitmap, params, mask.get(), progress);
}

}  // namespace

const TKVFormatDriver KVPngDriver{.FileType = kvftPNG,
                                  .IsFormat = IsPng,
                                  .ReadHeader = ReadPngHeader,
                                  .Read = ReadPng,
                                  .Write = WritePng};
