#include "imaging/io/IOParamsVals.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <ctime>
#include <iterator>
#include <limits>

#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVLzw.h"

TKVGIFLZWDecompressor DefGIFLZWDecompressor = GIFLZWDecode;
TKVGIFLZWCompressor DefGIFLZWCompressor = GIFLZWEncode;
TKVTIFFLZWDecompressor DefTIFFLZWDecompressor = TIFFLZWDecode;
TKVTIFFLZWCompressor DefTIFFLZWCompressor = TIFFLZWEncode;

namespace {

// Today's local date as a class-library date: days since 1899-12-30.
double Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    using namespace std::chrono;
    const sys_days date{year{local.tm_year + 1900} / month{unsigned(local.tm_mon + 1)} / day{unsigned(local.tm_mday)}};
    constexpr int UnixEpochDate = 25569;
    return double(date.time_since_epoch().count() + UnixEpochDate);
}

// A resolution read from a file may be anything; out-of-range values must not overflow.
int TruncToInt(double value) {
    if (std::isnan(value)) return 0;
    constexpr double Low = std::numeric_limits<int>::min(), High = std::numeric_limits<int>::max();
    return int(std::trunc(std::clamp(value, Low, High)));
}

}  // namespace

TIOParamsVals::TIOParamsVals(TKVParamsOwner* owner) : owner_(owner) { SetDefaultParams(); }

TIOParamsVals::~TIOParamsVals() = default;

void TIOParamsVals::SetDefaultParams() {
    const int width = Width, height = Height;
    static_cast<TKVParamsFields&>(*this) = TKVParamsFields();
    TBitmap* bitmap = owner_ ? owner_->GetTBitmap() : nullptr;
    Width = bitmap ? bitmap->Width() : width;
    Height = bitmap ? bitmap->Height() : height;
    if (owner_) {
        SetDpiX(DefaultDpiX);
        SetDpiY(DefaultDpiY);
    }
    SetImageIndex(0);
    SetImageCount(0);
    SetLoadThumbnail(false);
    TiffLZWDecompressor = DefTIFFLZWDecompressor;
    TiffLZWCompressor = DefTIFFLZWCompressor;
    GifLZWDecompressor = DefGIFLZWDecompressor;
    GifLZWCompressor = DefGIFLZWCompressor;
    TgaDate = Today();
    JpegMarkers.Clear();
    IptcInfo.Clear();
    imagingAnnot_.reset();
    inputICC_.reset();
    outputICC_.reset();
    ResetEXIF();
}

void TIOParamsVals::ResetEXIF() {
    static_cast<TKVExifFields&>(*this) = TKVExifFields();
    ExifThumbnail.reset();
    ExifMakerNote.Clear();
}

void TIOParamsVals::ResetInfo() {
    IptcInfo.Clear();
    imagingAnnot_.reset();
    JpegMarkers.Clear();
    ResetEXIF();
    GifComments.Clear();
    PngTextKeys.Clear();
    PngTextValues.Clear();
    TiffDocumentName.clear();
    TiffImageDescription.clear();
    TiffPageName.clear();
    TgaDescriptor.clear();
    TgaAuthor.clear();
    TgaImageName.clear();
    PxmComments.Clear();
    inputICC_.reset();
}

void TIOParamsVals::Assign(const TIOParamsVals& source) {
    if (&source == this) return;
    // The view hears of the resolution first; the EXIF resolution copied below then stands.
    SetDpiX(source.dpiX_);
    SetDpiY(source.dpiY_);
    const int warningCount = JpegWarningCount, warningCode = JpegWarningCode;
    static_cast<TKVParamsFields&>(*this) = source;
    JpegWarningCount = warningCount;
    JpegWarningCode = warningCode;
    imageIndex_ = source.imageIndex_;
    imageCount_ = source.imageCount_;
    loadThumbnail_ = source.loadThumbnail_;

    JpegMarkers.Assign(&source.JpegMarkers);
    IptcInfo.Assign(&source.IptcInfo);
    ExifMakerNote.Assign(source.ExifMakerNote);
    if (source.imagingAnnot_) GetImagingAnnot().Assign(*source.imagingAnnot_);
    else imagingAnnot_.reset();
    if (source.inputICC_) GetInputICC().Assign(*source.inputICC_);
    else inputICC_.reset();
    if (source.outputICC_) {
        if (!outputICC_) outputICC_ = std::make_unique<TKVICC>();
        outputICC_->Assign(*source.outputICC_);
    } else {
        outputICC_.reset();
    }
    // A thumbnail kept from an earlier picture would be written out with this one.
    if (source.ExifThumbnail) {
        if (!ExifThumbnail) ExifThumbnail = std::make_unique<TKVBitmap>();
        ExifThumbnail->Assign(source.ExifThumbnail.get());
    } else {
        ExifThumbnail.reset();
    }
}

void TIOParamsVals::AssignSaveOptions(const TIOParamsVals& source) {
    BitsPerSample = source.BitsPerSample;
    SamplesPerPixel = source.SamplesPerPixel;
    TiffCompression = source.TiffCompression;
    TiffPhotometric = source.TiffPhotometric;
    TiffPlanarConfig = source.TiffPlanarConfig;
    SetOrientation(source.TiffOrientation);
    TiffLZWDecompressor = source.TiffLZWDecompressor;
    TiffLZWCompressor = source.TiffLZWCompressor;
    TiffEnableAdjustOrientation = source.TiffEnableAdjustOrientation;
    TiffJpegQuality = source.TiffJpegQuality;
    TiffJpegColorSpace = source.TiffJpegColorSpace;
    TiffFillOrder = source.TiffFillOrder;
    GifInterlaced = source.GifInterlaced;
    GifLZWDecompressor = source.GifLZWDecompressor;
    GifLZWCompressor = source.GifLZWCompressor;
    JpegColorSpace = source.JpegColorSpace;
    JpegQuality = source.JpegQuality;
    JpegDCTMethod = source.JpegDCTMethod;
    JpegOptimalHuffman = source.JpegOptimalHuffman;
    JpegSmooth = source.JpegSmooth;
    JpegProgressive = source.JpegProgressive;
    J2KColorSpace = source.J2KColorSpace;
    J2KRate = source.J2KRate;
    J2KProgressionOrder = source.J2KProgressionOrder;
    PcxVersion = source.PcxVersion;
    PcxCompressed = source.PcxCompressed;
    BmpVersion = source.BmpVersion;
    BmpCompression = source.BmpCompression;
    PngInterlaced = source.PngInterlaced;
    PngFilter = source.PngFilter;
    PngCompression = source.PngCompression;
    TgaCompressed = source.TgaCompressed;
    TgaGrayLevel = source.TgaGrayLevel;
}

void TIOParamsVals::SetDpiX(int value) {
    dpiX_ = value;
    ExifXResolution = value;
    if (TKVView* view = owner_ ? owner_->ResolutionView() : nullptr) view->SetDpiX(value);
}

void TIOParamsVals::SetDpiY(int value) {
    dpiY_ = value;
    ExifYResolution = value;
    if (TKVView* view = owner_ ? owner_->ResolutionView() : nullptr) view->SetDpiY(value);
}

void TIOParamsVals::SetDpiXFloat(double value) { SetDpiX(TruncToInt(value)); }

void TIOParamsVals::SetDpiYFloat(double value) { SetDpiY(TruncToInt(value)); }

void TIOParamsVals::SetImageIndex(int value) {
    imageIndex_ = TiffImageIndex = DcxImageIndex = GifImageIndex = IcoImageIndex = CurImageIndex = value;
}

void TIOParamsVals::SetImageCount(int value) {
    imageCount_ = TiffImageCount = AviFrameCount = GifImageCount = MediaFrameCount = value;
}

void TIOParamsVals::SetLoadThumbnail(bool value) { loadThumbnail_ = JpegLoadThumbnail = RawLoadThumbnail = value; }

void TIOParamsVals::SetOrientation(int value) { TiffOrientation = ExifOrientation = value; }

TKVImagingAnnot& TIOParamsVals::GetImagingAnnot() {
    if (!imagingAnnot_) imagingAnnot_ = std::make_unique<TKVImagingAnnot>();
    return *imagingAnnot_;
}

TKVICC& TIOParamsVals::GetInputICC() {
    if (!inputICC_) inputICC_ = std::make_unique<TKVICC>();
    return *inputICC_;
}

TKVICC& TIOParamsVals::GetOutputICC() {
    if (!outputICC_) {
        outputICC_ = std::make_unique<TKVICC>();
        outputICC_->LoadSRGB();
    }
    return *outputICC_;
}

namespace {

std::string CompressionSuffix(const TIOParamsVals& p) {
    switch (p.FileType) {
        case kvftTIFF: {
            static const char* const names[] = {" Uncompressed", " Huffman", " Group 3 Fax", " Group 3 Fax 2D",
                                                " Group 4 Fax",  " LZW",     " Jpeg v.5",   " Jpeg",
                                                " PackBits RLE"};
            return p.TiffCompression < std::size(names) ? names[p.TiffCompression] : "";
        }
        case kvftGIF: return p.GifInterlaced ? " Interlaced" : "";
        case kvftJPEG: {
            static const char* const names[] = {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"};
            return p.JpegColorSpace < std::size(names) ? names[p.JpegColorSpace] : "";
        }
        case kvftPCX: return p.PcxCompressed ? "" : " Uncompressed";
        case kvftBMP: {
            static const char* const names[] = {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"};
            return p.BmpVersion < std::size(names) ? names[p.BmpVersion] : "";
        }
        case kvftPNG: return p.PngInterlaced ? " Interlaced" : "";
        case kvftTGA: return p.TgaCompressed ? " Compressed" : " Uncompressed";
        case kvftJP2:
        case kvftJ2K: {
            static const char* const names[] = {" Gray level", " RGB", " YCbCr"};
            return p.J2KColorSpace < std::size(names) ? names[p.J2KColorSpace] : "";
        }
        case kvftRAW: return " (" + p.RawCameraName + ")";
        default: return "";
    }
}

}  // namespace

std::string IOParamsDescription(const TIOParamsVals& params) {
    std::string text;
    if (const TKVFileFormatEntry* entry = GetFileFormatByType(params.FileType)) {
        std::string extension = GetFileFormatExt(params.FileType, 0);
        for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        text = (entry->Description + " (" + extension + ")").substr(0, 82);
    }
    return text + CompressionSuffix(params);
}
