#include "PdfImage.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/JpegLayout.h"
#include "PdfEncoding.h"
#include "PdfErrors.h"
#include "PdfOutput.h"
#include "PdfSecurity.h"
#include "PictureFile.h"
#include "platform/Canvas.h"
#include "platform/Classes.h"
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

// Row y, one bit per pixel, 1 for white.
void OneBitRow(const TBitmap& bitmap, int y, uint8_t* out) {
    const size_t rowBytes = (size_t(bitmap.Width()) + 7) / 8;
    std::memcpy(out, bitmap.ScanLine(y), rowBytes);
    if (bitmap.Palette()[0].peRed == 255)
        for (size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<uint8_t>(~out[i]);
    if (const int rest = bitmap.Width() % 8) out[rowBytes - 1] &= static_cast<uint8_t>(0xFF << (8 - rest));
}

// Row y of a 24-bit bitmap as red, green, blue.
void RgbRow(const TBitmap& bitmap, int y, uint8_t* out) {
    const uint8_t* row = bitmap.ScanLine(y);
    const size_t rowBytes = size_t(bitmap.Width()) * 3;
    for (size_t i = 0; i < rowBytes; i += 3) {
        out[i] = row[i + 2];
        out[i + 1] = row[i + 1];
        out[i + 2] = row[i];
    }
}

constexpr size_t FileChunkBytes = 1 << 18;
constexpr size_t TextBlockBytes = 1 << 18;

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
    EncodeRows(*source, oneBit, compression == cpZlib);
}

// Row by row, so no copy of the whole picture is made besides the encoded text.
void TPdfImage::EncodeRows(const TBitmap& bitmap, bool oneBit, bool deflate) {
    const size_t rowBytes = oneBit ? (size_t(bitmap.Width()) + 7) / 8 : size_t(bitmap.Width()) * 3;
    const uint64_t rawBytes = uint64_t(rowBytes) * uint64_t(bitmap.Height());
    const uint64_t encodedBound = deflate ? compressBound(static_cast<uLong>(rawBytes)) : rawBytes;
    // Room for the worst case is only address space: pages are touched as the text grows.
    data_.reserve(size_t(encodedBound / 4 * 5 + 16));
    std::string block(TextBlockBytes / 4, '\0');
    TAscii85Writer text(block, [this](char* piece, size_t size) { data_.append(piece, size); });
    std::optional<TDeflater> deflater;
    if (deflate) deflater.emplace([&text](const uint8_t* bytes, size_t size) { text.Write(bytes, size); });
    std::vector<uint8_t> row(rowBytes);
    for (int y = 0; y < bitmap.Height(); ++y) {
        if (oneBit) OneBitRow(bitmap, y, row.data());
        else RgbRow(bitmap, y, row.data());
        if (deflater) deflater->Write(row.data(), row.size());
        else text.Write(row.data(), row.size());
    }
    if (deflater) deflater->Finish();
    text.Finish();
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
    TPictureFileReader* reader = PictureFileReader();
    if (!reader) throw EPdfError(SImageNotSupported, fileName);
    try {
        TPictureFileContent content = reader->Read(fileName, compression == cpJpeg);
        if (content.Jpeg) FromJpegFile(*content.Jpeg);
        else if (content.Graphic) FromGraphic(*content.Graphic, compression, jpegQuality, 0);
        else throw EPdfError(SImageNotSupported, fileName);
    } catch (const EPdfError&) {
        throw;
    } catch (const Exception&) {
        throw EPdfError(SImageNotSupported, fileName);
    }
}

void TPdfImage::FromJpegFile(const TJpegFile& file) {
    const TJpegLayout& layout = file.Layout;
    fileName_ = file.FileName;
    fileIdentity_ = file.Identity;
    colorSpace_ = layout.Components == 1 ? "/DeviceGray" : layout.Components == 3 ? "/DeviceRGB" : "/DeviceCMYK";
    // Adobe's CMYK data are stored inverted.
    if (layout.Components == 4 && layout.AdobeMarker) decode_ = "/Decode [1 0 1 0 1 0 1 0]";
    compression_ = cpJpeg;
    width_ = layout.Width;
    height_ = layout.Height;
    bitsPerComponent_ = 8;
    passThrough_ = true;
}

void TPdfImage::KeyByData() {
    handle_ = HashBytes(Mix(Mix(uint64_t(width_), uint64_t(height_)), 3),
                        reinterpret_cast<const uint8_t*>(data_.data()), data_.size());
    if (handle_ == 0) handle_ = 1;
}

void TPdfImage::Write(TPdfOutput& output, const TPdfSecurity& security) {
    if (written_) return;
    written_ = true;
    objectNumber_ = output.BeginDictObject();
    output.WriteLine("/Type/XObject");
    output.WriteLine("/Subtype/Image");
    output.WriteLine("/Width " + std::to_string(width_));
    output.WriteLine("/Height " + std::to_string(height_));
    output.WriteLine("/ColorSpace" + colorSpace_);
    if (!decode_.empty()) output.WriteLine(decode_);
    output.WriteLine("/BitsPerComponent " + std::to_string(bitsPerComponent_));
    // A file passed through is encoded while it is written, so its length follows it.
    const int lengthObject = passThrough_ ? output.NewObjectNumber() : 0;
    output.WriteLine("/Length " + (passThrough_ ? ObjectRef(lengthObject) : std::to_string(data_.size())));
    output.WriteLine("/Filter[/ASCII85Decode");
    if (compression_ == cpZlib) output.WriteLine("/FlateDecode");
    if (compression_ == cpJpeg) output.WriteLine("/DCTDecode");
    output.WriteLine("]");
    output.WriteLine(">>");
    if (passThrough_) {
        const int64_t length = StreamFile(output, security);
        output.BeginReservedObject(lengthObject, std::to_string(length));
        output.WriteLine("endobj");
        return;
    }
    security.Encrypt(data_, objectNumber_);
    output.WriteStreamAndEnd(data_);
    std::string().swap(data_);
}

int64_t TPdfImage::StreamFile(TPdfOutput& output, const TPdfSecurity& security) const {
    std::optional<TRc4Stream> cipher;
    if (security.Protected()) cipher.emplace(security.ObjectStream(objectNumber_));
    // Kept from file to file: fresh buffers of this size would be faulted in for every picture.
    static thread_local std::vector<uint8_t> chunk(FileChunkBytes);
    static thread_local std::string block(TextBlockBytes, '\0');
    TAscii85Writer text(block, [&](char* piece, size_t size) {
        if (cipher) cipher->Apply(reinterpret_cast<uint8_t*>(piece), size);
        output.WriteBytes(piece, size);
    });
    try {
        // The file must still be the one whose header was read.
        if (!(FileIdentityOf(fileName_) == fileIdentity_)) throw EInvalidGraphic("The file changed");
        TFileStream file(fileName_, fmOpenRead);
        output.WriteLine("stream");
        int64_t total = 0;
        for (int64_t n; (n = file.Read(chunk.data(), int64_t(chunk.size()))) > 0; total += n)
            text.Write(chunk.data(), size_t(n));
        if (total != fileIdentity_.Size) throw EInvalidGraphic("The file changed");
    } catch (const EPdfError&) {
        throw;
    } catch (const Exception&) {
        throw EPdfError(SImageNotSupported, fileName_);
    }
    text.Finish();
    output.WriteLine("");
    output.EndObject("endstream");
    return text.TextSize();
}
