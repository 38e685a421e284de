#pragma once
// The parameter record that the input/output component and every format driver exchange: what is
// known about a picture besides its pixels, the per-format write options and the metadata.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVICC.h"
#include "imaging/core/KVImagingAnnot.h"
#include "imaging/core/KVMetadata.h"
#include "imaging/core/KVViewServices.h"
#include "platform/Graphics.h"

// File type numbers.
enum : int {
    kvftNone = 0, kvftTIFF = 1, kvftGIF = 2, kvftJPEG = 3, kvftPCX = 4, kvftBMP = 5, kvftICO = 6,
    kvftCUR = 7, kvftPNG = 8, kvftWMF = 9, kvftEMF = 10, kvftTGA = 11, kvftPXM = 12, kvftJP2 = 13,
    kvftJ2K = 14, kvftAVI = 15, kvftWBMP = 16, kvftPS = 17, kvftPDF = 18, kvftDCX = 19, kvftRAW = 20,
};

// The LZW routines of the GIF and TIFF drivers. The input/output unit installs the library-wide
// ones at start; a record copies them when it takes its defaults, and a driver uses the record's
// routine, else the library-wide one, else treats the coding as unsupported.
struct TKVTIFFLZWDecodeState;
struct TKVTIFFLZWEncodeState;
// Fills width x height index bytes; on failure the stream is back at the code-size byte.
using TKVGIFLZWDecompressor = void (*)(TStream& stream, int height, int width, uint8_t* dest, bool interlaced);
using TKVGIFLZWCompressor = void (*)(TStream& stream, int height, int width, int bitsPerPixel,
                                     const uint8_t* pixels, bool interlaced);
// The first call creates the state on the strip; null data frees it. Returns the next row or null.
using TKVTIFFLZWDecompressor = uint8_t* (*)(const uint8_t* strip, int64_t stripSize, int64_t rowLength,
                                            TKVTIFFLZWDecodeState*& state);
// The first call creates the state; null data finishes the code stream and frees it.
using TKVTIFFLZWCompressor = void (*)(const uint8_t* data, int64_t length, TStream& stream,
                                      TKVTIFFLZWEncodeState*& state);
extern TKVGIFLZWDecompressor DefGIFLZWDecompressor;
extern TKVGIFLZWCompressor DefGIFLZWCompressor;
extern TKVTIFFLZWDecompressor DefTIFFLZWDecompressor;
extern TKVTIFFLZWCompressor DefTIFFLZWCompressor;

// What a record asks of the input/output component that owns it.
class TKVParamsOwner {
public:
    // The class-library bitmap the component works on, nil when none.
    virtual TBitmap* GetTBitmap() = 0;
    // The attached view, nil when none.
    virtual TKVView* AttachedKestova() = 0;
    // The view to tell of resolution changes at once, nil when none.
    virtual TKVView* ResolutionView() { return AttachedKestova(); }

protected:
    ~TKVParamsOwner() = default;
};

struct TKVIcoSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TKVIcoSize&) const = default;
};

// The EXIF fields; each carries the tag named after it. All empty or zero by default.
struct TKVExifFields {
    bool ExifHasData = false;
    std::string ExifImageDescription, ExifMake, ExifModel;
    int ExifOrientation = 0;
    double ExifXResolution = 0, ExifYResolution = 0;
    int ExifResolutionUnit = 0;
    std::string ExifSoftware, ExifArtist, ExifDateTime;
    std::array<double, 2> ExifWhitePoint{};
    std::array<double, 6> ExifPrimaryChromaticities{};
    std::array<double, 3> ExifYCbCrCoefficients{};
    int ExifYCbCrPositioning = 0;
    std::array<double, 6> ExifReferenceBlackWhite{};
    std::string ExifCopyright;
    double ExifExposureTime = 0, ExifFNumber = 0;
    int ExifExposureProgram = 0;
    std::array<int, 2> ExifISOSpeedRatings{};
    std::string ExifExifVersion;
    std::string ExifDateTimeOriginal, ExifDateTimeDigitized;
    double ExifCompressedBitsPerPixel = 0, ExifShutterSpeedValue = 0, ExifApertureValue = 0,
           ExifBrightnessValue = 0, ExifExposureBiasValue = 0, ExifMaxApertureValue = 0,
           ExifSubjectDistance = 0;
    int ExifMeteringMode = 0, ExifLightSource = 0, ExifFlash = 0;
    double ExifFocalLength = 0;
    std::string ExifSubsecTime, ExifSubsecTimeOriginal, ExifSubsecTimeDigitized;
    std::string ExifFlashPixVersion;
    int ExifColorSpace = 0, ExifPixelXDimension = 0, ExifPixelYDimension = 0;
    std::string ExifRelatedSoundFile;
    double ExifFocalPlaneXResolution = 0, ExifFocalPlaneYResolution = 0;
    int ExifFocalPlaneResolutionUnit = 0;
    double ExifExposureIndex = 0;
    int ExifSensingMethod = 0, ExifFileSource = 0, ExifSceneType = 0;
    // The comment, and its 8-byte character-code prefix.
    std::string ExifUserComment, ExifUserCommentCode;
    // Stored as UTF-16 in files.
    std::string ExifXPTitle, ExifXPComment, ExifXPAuthor, ExifXPKeywords, ExifXPSubject;
};

// Every field with a plain value, each at its default. Colours are blue, green, red.
struct TKVParamsFields : TKVExifFields {
    int BitsPerSample = 8;  // 1, 4, 8 or 16
    std::string FileName;
    int SamplesPerPixel = 3;  // 1 bilevel, palette or gray; 3 RGB; 4
    // Before a read, a JPEG reader with automatic scaling takes them as the wanted size.
    int Width = 0, Height = 0;
    int FileType = kvftNone;

    // TIFF
    // 0 none, 1 CCITT Huffman, 2 Group 3, 3 Group 3 2-D, 4 Group 4, 5 LZW, 6 old JPEG, 7 JPEG,
    // 8 PackBits, 9 other
    uint8_t TiffCompression = 0;
    int TiffImageIndex = 0;
    // 0 white is zero, 1 black is zero, 2 RGB, 3 palette, 4 mask, 5 CMYK, 6 YCbCr, 7 CIE L*a*b*
    uint8_t TiffPhotometric = 2;
    int TiffPlanarConfig = 1;
    int TiffXPos = 0, TiffYPos = 0;
    std::string TiffDocumentName, TiffImageDescription, TiffPageName;
    int TiffPageNumber = 0, TiffPageCount = 0;
    int TiffOrientation = 1;
    TKVTIFFLZWDecompressor TiffLZWDecompressor = nullptr;
    TKVTIFFLZWCompressor TiffLZWCompressor = nullptr;
    bool TiffEnableAdjustOrientation = false;
    int TiffJpegQuality = 80;
    uint8_t TiffJpegColorSpace = 2;  // as JpegColorSpace
    int TiffImageCount = 0;
    int TiffFillOrder = 1;

    // PCX and DCX
    int DcxImageIndex = 0;
    int PcxVersion = 5;
    bool PcxCompressed = true;

    // GIF
    std::string GifVersion = "GIF89a";
    int GifImageIndex = 0;
    int GifXPos = 0, GifYPos = 0;
    int GifDelayTime = 0;  // hundredths of a second
    bool GifTransparent = false;
    TKVRGB GifTranspColor;
    bool GifInterlaced = false;
    int GifWinWidth = 0, GifWinHeight = 0;
    TKVRGB GifBackground;
    int GifRatio = 0;
    TStringList GifComments;
    uint8_t GifAction = 0;  // disposal method
    TKVGIFLZWDecompressor GifLZWDecompressor = nullptr;
    TKVGIFLZWCompressor GifLZWCompressor = nullptr;
    int GifImageCount = 0;

    // JPEG
    uint8_t JpegColorSpace = 2;  // 0 RGB, 1 gray, 2 YCbCr, 3 CMYK, 4 YCbCrK
    int JpegQuality = 80;
    uint8_t JpegDCTMethod = 0;  // 0 accurate integer, 1 fast integer, 2 floating point
    bool JpegOptimalHuffman = false;
    int JpegSmooth = 0;
    bool JpegProgressive = false;
    uint8_t JpegScale = 1;  // 0 automatic, 1 full, 2 half, 3 quarter, 4 eighth
    int JpegScaleUsed = 1;
    int JpegWarningCount = 0, JpegWarningCode = 0;
    int JpegFrameWidth = 0, JpegFrameHeight = 0;
    bool JpegEnableAdjustOrientation = false;
    bool JpegLoadThumbnail = false;

    // JPEG 2000
    uint8_t J2KColorSpace = 1;  // 0 gray, 1 RGB, 2 YCbCr
    double J2KRate = 1.0;
    uint8_t J2KProgressionOrder = 0;  // 0 lrcp, 1 rlcp

    // BMP
    uint8_t BmpVersion = 1;  // 0 other header, 1 Windows 3, 2 OS/2 1, 3 OS/2 2
    uint8_t BmpCompression = 0;  // 0 none, 1 run-length

    // Icons and cursors; the size list ends at the first zero width.
    int IcoImageIndex = 0;
    TKVRGB IcoBackground{255, 255, 255};
    std::array<TKVIcoSize, 16> IcoSizes{{{64, 64}}};
    std::array<int, 16> IcoBitCount{8};
    int CurImageIndex = 0;
    int CurXHotSpot = 0, CurYHotSpot = 0;
    TKVRGB CurBackground{255, 255, 255};

    // PNG
    bool PngInterlaced = false;
    TKVRGB PngBackground;
    uint8_t PngFilter = 0;
    int PngCompression = 5;  // zlib level 0..9
    TStringList PngTextKeys, PngTextValues;

    // TGA
    int TgaXPos = 0, TgaYPos = 0;
    bool TgaCompressed = true;
    std::string TgaDescriptor, TgaAuthor;
    double TgaDate = 0;  // days since 1899-12-30; today at every reset
    std::string TgaImageName;
    TKVRGB TgaBackground;
    double TgaAspectRatio = 1.0;
    double TgaGamma = 2.2;
    bool TgaGrayLevel = false;

    // Shared by several formats
    TStringList PxmComments;
    std::vector<TKVRGB> ColorMap;  // the palette of the last file read
    int ColorMapCount() const { return static_cast<int>(ColorMap.size()); }
    bool IsNativePixelFormat = false;

    // Video frames
    int AviFrameCount = 0;
    int AviFrameDelay = 0;  // milliseconds
    int MediaFrameCount = 0;
    int MediaFrameTime = 0;  // hundredths of a second

    // PostScript and PDF output
    int PsPaperWidth = 595, PsPaperHeight = 842;  // points
    uint8_t PsCompression = 1;
    std::string PsTitle = "No Title";
    int PdfPaperWidth = 595, PdfPaperHeight = 842;
    uint8_t PdfCompression = 2;
    std::string PdfTitle, PdfAuthor, PdfSubject, PdfKeywords, PdfCreator, PdfProducer;

    // Camera raw
    bool RawHalfSize = false;
    double RawGamma = 0.6;
    double RawBright = 1.0;
    double RawRedScale = 1.0, RawBlueScale = 1.0;
    std::array<bool, 4> RawSwitches{true, false, false, false};
    std::string RawCameraName;
    bool RawLoadThumbnail = false;
    bool RawAutoAdjustColors = false;
};

class TIOParamsVals : public TObject, public TKVParamsFields {
public:
    explicit TIOParamsVals(TKVParamsOwner* owner);
    ~TIOParamsVals() override;
    TIOParamsVals(const TIOParamsVals&) = delete;
    TIOParamsVals& operator=(const TIOParamsVals&) = delete;

    TKVParamsOwner* Owner() const { return owner_; }

    // Every field to its default; lists emptied, colour map, annotations and profiles freed.
    void SetDefaultParams();
    // Forgets what belongs to the last file only; every load calls it before reading.
    void ResetInfo();
    void ResetEXIF();
    // Every field but the owner and the JPEG warnings.
    void Assign(const TIOParamsVals& source);
    // Only the options a writer takes.
    void AssignSaveOptions(const TIOParamsVals& source);

    // Also set ExifXResolution / ExifYResolution and tell the owner's view.
    int DpiX() const { return dpiX_; }
    int DpiY() const { return dpiY_; }
    void SetDpiX(int value);
    void SetDpiY(int value);
    // Truncated toward zero.
    void SetDpiXFloat(double value);
    void SetDpiYFloat(double value);
    // Frame or page to read, for every format.
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int value);
    // Frames or pages found, for every format.
    int ImageCount() const { return imageCount_; }
    void SetImageCount(int value);
    bool LoadThumbnail() const { return loadThumbnail_; }
    void SetLoadThumbnail(bool value);
    // TiffOrientation and ExifOrientation together.
    void SetOrientation(int value);

    TKVMarkerList JpegMarkers;
    TKVIPTCInfoList IptcInfo;
    TKVTagsHandler ExifMakerNote;
    std::unique_ptr<TKVBitmap> ExifThumbnail;  // created when a thumbnail is read

    // Nil until first asked for with the Get form.
    TKVImagingAnnot* ImagingAnnot() const { return imagingAnnot_.get(); }
    TKVImagingAnnot& GetImagingAnnot();
    TKVICC* InputICC() const { return inputICC_.get(); }
    TKVICC& GetInputICC();
    // Starts as the standard sRGB profile.
    TKVICC* OutputICC() const { return outputICC_.get(); }
    TKVICC& GetOutputICC();

private:
    TKVParamsOwner* owner_;
    int dpiX_ = 0, dpiY_ = 0;
    int imageIndex_ = 0;
    int imageCount_ = 0;
    bool loadThumbnail_ = false;
    std::unique_ptr<TKVImagingAnnot> imagingAnnot_;
    std::unique_ptr<TKVICC> inputICC_;
    std::unique_ptr<TKVICC> outputICC_;
};

// One line on the picture's format and compression, as the open dialog shows it.
std::string IOParamsDescription(const TIOParamsVals& params);
