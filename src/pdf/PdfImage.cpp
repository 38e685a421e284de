#include "PdfImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "PdfEncoding.h"
#include "PdfErrors.h"
#include "PdfOutput.h"
#include "PdfSecurity.h"
#include "JpegLayout.h"
#include "PictureFile.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"
#include "platform/Canvas.h"
#include "platform/Graphics.h"
#include "platform/Jpeg.h"

namespace {

uint64_t Mix(uint64_t hash, uint64_t value) {
    hash ^= value + 0x9E3779B97F4A7C15ull + (hash << 6) + (hash >> 2);
    return hash * 0xFF51AFD7ED558CCDull;
}

uint64_t HashBytes(uint64_t hash, const uint8_t* data, size_t size) {
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        hash = Mix(hash, word);
    }
    for (; i < size; ++i) hash = Mix(hash, data[i]);
    return hash;
}

bool IsBlackAndWhite(const TBitmap& bitmap) {
    const auto& palette = bitmap.Palette();
    auto isBlack = [](const TPaletteEntry& e) { return e.peRed == 0 && e.peGreen == 0 && e.peBlue == 0; };
    auto isWhite = [](const TPaletteEntry& e) { return e.peRed == 255 && e.peGreen == 255 && e.peBlue == 255; };
    return palette.size() == 2 &&
           ((isBlack(palette[0]) && isWhite(palette[1])) || (isWhite(palette[0]) && isBlack(palette[1])));
}

// Rows from the top, one bit per pixel, 1 for white.
std::vector<uint8_t> OneBitPixels(const TBitmap& bitmap) {
    const size_t rowBytes = (size_t(bitmap.Width()) + 7) / 8;
    std::vector<uint8_t> pixels(rowBytes * size_t(bitmap.Height()));
    const bool indexZeroIsWhite = bitmap.Palette()[0].peRed == 255;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        uint8_t* out = pixels.data() + rowBytes * size_t(y);
        std::memcpy(out, row, rowBytes);
        if (indexZeroIsWhite)
            for (size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<uint8_t>(~out[i]);
        if (const int rest = bitmap.Width() % 8) out[rowBytes - 1] &= static_cast<uint8_t>(0xFF << (8 - rest));
    }
    return pixels;
}

// Rows from the top, red, green, blue.
std::vector<uint8_t> RgbPixels(const TBitmap& bitmap) {
    const size_t rowBytes = size_t(bitmap.Width()) * 3;
    std::vector<uint8_t> pixels(rowBytes * size_t(bitmap.Height()));
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        uint8_t* out = pixels.data() + rowBytes * size_t(y);
        for (size_t i = 0; i < rowBytes; i += 3) {
            out[i] = row[i + 2];
            out[i + 1] = row[i + 1];
            out[i + 2] = row[i];
        }
    }
    return pixels;
}

constexpr double MetafileResolution = 600;  // dots per inch
constexpr double MaxMetafilePixels = 4000000;

// Pictures that are not bitmaps, drawn on white: metafiles at the metafile resolution within the
// pixel budget, anything else at its own size.
TBitmap Rasterised(const TGraphic& graphic) {
    double width = graphic.Width(), height = graphic.Height();
    if (graphic.Scalable()) {
        const double screen = ScreenPixelsPerInch;
        const double pixels = std::pow(MetafileResolution / screen, 2) * width * height;
        double resolution = MetafileResolution;
        if (pixels > MaxMetafilePixels) {
            const double exact = std::sqrt(MaxMetafilePixels / pixels) * MetafileResolution;
            // Rounded, a resolution below one dot per inch would vanish: such vast pictures keep it exact.
            resolution = exact < 1 ? exact : std::nearbyint(exact);
        }
        width = std::max(std::nearbyint(width * resolution / screen), 1.0);
        height = std::max(std::nearbyint(height * resolution / screen), 1.0);
    }
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(int(width), int(height));
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = clWhite;
    canvas.Brush.Style = TBrushStyle::bsSolid;
    canvas.FillRect(Rect(0, 0, bitmap.Width(), bitmap.Height()));
    canvas.StretchDraw(Rect(0, 0, bitmap.Width(), bitmap.Height()), graphic);
    return bitmap;
}

}  // namespace

uint64_t GraphicHandle(const TGraphic& graphic) {
    if (graphic.Empty()) return 0;
    uint64_t hash = Mix(uint64_t(graphic.Width()), uint64_t(graphic.Height()));
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic)) {
        hash = Mix(hash, uint64_t(bitmap->PixelFormat()));
        for (const TPaletteEntry& e : bitmap->Palette())
            hash = Mix(hash, uint64_t(e.peRed) << 16 | uint64_t(e.peGreen) << 8 | e.peBlue);
        const size_t usedBytes = (size_t(bitmap->Width()) * size_t(bitmap->BitCount()) + 7) / 8;
        for (int y = 0; y < bitmap->Height(); ++y) hash = HashBytes(hash, bitmap->ScanLine(y), usedBytes);
    } else if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&graphic)) {
        hash = HashBytes(Mix(hash, 1), jpeg->Data().data(), jpeg->Data().size());
    } else {
        TMemoryStream saved;
        graphic.SaveToStream(saved);
        hash = HashBytes(Mix(hash, 2), saved.Bytes().data(), saved.Bytes().size());
    }
    return hash ? hash : 1;
}

TPdfImage::TPdfImage(int index) : name_("Im" + std::to_string(index)) {}

void TPdfImage::FromGraphic(const TGraphic& graphic, TPdfCompressMode compression, int jpegQuality,
                            uint64_t handle) {
    handle_ = handle;
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic)) {
        FromBitmap(*bitmap, compression, jpegQuality);
    } else if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&graphic)) {
        TBitmap decoded;
        try {
            jpeg->AssignTo(decoded);
        } catch (const Exception&) {
            throw EPdfError(SImageNotSupported, fileName_);
        }
        FromBitmap(decoded, compression, jpegQuality);
    } else {
        TBitmap drawn;
        try {
            drawn = Rasterised(graphic);
        } catch (const EInvalidOperation&) {  // no drawing engine
            throw EPdfError(SImageNotSupported, fileName_);
        }
        FromBitmap(drawn, compression, jpegQuality);
    }
}

void TPdfImage::FromBitmap(const TBitmap& bitmap, TPdfCompressMode compression, int jpegQuality) {
    compression_ = compression;
    width_ = bitmap.Width();
    height_ = bitmap.Height();
    // Palette pictures other than black and white become true colour, so no colour is lost.
    const bool oneBit = compression == cpZlib && bitmap.PixelFormat() == TPixelFormat::pf1bit && IsBlackAndWhite(bitmap);
    const TBitmap* source = &bitmap;
    TBitmap converted;
    if (!oneBit && bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        converted = bitmap;
        converted.SetPixelFormat(TPixelFormat::pf24bit);
        source = &converted;
    }
    bitsPerComponent_ = oneBit ? 1 : 8;
    colorSpace_ = oneBit ? "/DeviceGray" : "/DeviceRGB";
    data_.clear();
    if (compression == cpJpeg) {
        EncodeJpeg(*source, jpegQuality);
        return;
    }
    const std::vector<uint8_t> pixels = oneBit ? OneBitPixels(*source) : RgbPixels(*source);
    if (compression == cpZlib) {
        const std::vector<uint8_t> packed = ZlibCompress(pixels.data(), pixels.size());
        Ascii85Encode(packed.data(), packed.size(), data_);
    } else {
        Ascii85Encode(pixels.data(), pixels.size(), data_);
    }
}

void TPdfImage::EncodeJpeg(const TBitmap& bitmap, int quality) {
    TJPEGImage jpeg;
    for (;;) {
        jpeg.SetCompressionQuality(quality);
        try {
            jpeg.Assign(bitmap);
            break;
        } catch (const EInvalidGraphic&) {
            if (quality <= 10) throw EPdfError(SCantStoreImage, fileName_);
            quality = static_cast<int>(std::nearbyint(quality * 0.9));
        }
    }
    Ascii85Encode(jpeg.Data().data(), jpeg.Data().size(), data_);
}

void TPdfImage::FromFile(const std::string& fileName, TPdfCompressMode compression, int jpegQuality) {
    fileName_ = fileName;
    fileIdentity_ = FileIdentityOf(fileName);
    try {
        if (compression == cpJpeg && IsJpegFile(fileName)) {
            const TJpegLayout layout = ReadJpegLayout(fileName);
            colorSpace_ = layout.Components == 1 ? "/DeviceGray" : layout.Components == 3 ? "/DeviceRGB" : "/DeviceCMYK";
            // Adobe's CMYK data are stored inverted.
            if (layout.Components == 4 && layout.AdobeMarker) decode_ = "/Decode [1 0 1 0 1 0 1 0]";
            compression_ = cpJpeg;
            width_ = layout.Width;
            height_ = layout.Height;
            bitsPerComponent_ = 8;
            TFileStream file(fileName, fmOpenRead);
            std::vector<uint8_t> bytes(size_t(file.Size()));
            ReadExact(file, bytes.data(), int64_t(bytes.size()), "JPEG data");
            data_.clear();
            Ascii85Encode(bytes.data(), bytes.size(), data_);
            return;
        }
        FromGraphic(*LoadPictureFile(fileName), compression, jpegQuality, 0);
    } catch (const EPdfError&) {
        throw;
    } catch (const Exception&) {
        throw EPdfError(SImageNotSupported, fileName);
    }
}

void TPdfImage::Write(TPdfOutput& output, const TPdfSecurity& security) {
    if (data_.empty()) return;
    objectNumber_ = output.BeginDictObject();
    output.WriteLine("/Type/XObject");
    output.WriteLine("/Subtype/Image");
    output.WriteLine("/Width " + std::to_string(width_));
    output.WriteLine("/Height " + std::to_string(height_));
    output.WriteLine("/ColorSpace" + colorSpace_);
    if (!decode_.empty()) output.WriteLine(decode_);
    output.WriteLine("/BitsPerComponent " + std::to_string(bitsPerComponent_));
    output.WriteLine("/Length " + std::to_string(data_.size()));
    output.WriteLine("/Filter[/ASCII85Decode");
    if (compression_ == cpZlib) output.WriteLine("/FlateDecode");
    if (compression_ == cpJpeg) output.WriteLine("/DCTDecode");
    output.WriteLine("]");
    output.WriteLine(">>");
    security.Encrypt(data_, objectNumber_);
    output.WriteStreamAndEnd(data_);
    std::string().swap(data_);
}
