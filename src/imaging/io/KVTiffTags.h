#pragma once
// The TIFF driver's tag numbers and the EXIF fields they carry, shared by its reader and writer.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/io/IOParamsVals.h"

namespace kvtiff {

enum : uint16_t {
    tagWidth = 256, tagHeight = 257, tagBitsPerSample = 258, tagCompression = 259, tagPhotometric = 262,
    tagFillOrder = 266, tagDocumentName = 269, tagImageDescription = 270, tagMake = 271, tagModel = 272,
    tagStripOffsets = 273, tagOrientation = 274, tagSamplesPerPixel = 277, tagRowsPerStrip = 278,
    tagStripByteCounts = 279, tagXResolution = 282, tagYResolution = 283, tagPlanar = 284, tagPageName = 285,
    tagXPosition = 286, tagYPosition = 287, tagT4Options = 292, tagResolutionUnit = 296, tagPageNumber = 297,
    tagSoftware = 305, tagDateTime = 306, tagArtist = 315, tagPredictor = 317, tagWhitePoint = 318, tagColorMap = 320,
    tagTileWidth = 322, tagTileLength = 323, tagTileOffsets = 324, tagTileByteCounts = 325,
    tagInkSet = 332, tagExtraSamples = 338, tagJpegTables = 347, tagJpegInterchange = 513, tagCopyright = 33432, tagExposureTime = 33434, tagFNumber = 33437,
    tagExifIfd = 34665, tagIptc = 33723, tagAnnotations = 32932, tagIcc = 34675, tagIsoSpeed = 34855, tagDateTimeOriginal = 36867, tagDateTimeDigitized = 36868,
    tagFocalLength = 37386, tagFlash = 37385, tagDngVersion = 50706,
};

// Bytes of one value of a field type; 0 for an unknown type.
int TypeSize(uint16_t type);

// The EXIF fields and the tags they travel in.
struct TExifText {
    uint16_t tag;
    std::string TKVExifFields::*field;
};
struct TExifNumber {
    uint16_t tag, type;  // type 3 SHORT, 4 LONG, 5 RATIONAL, 7 one UNDEFINED byte, 10 SRATIONAL
    double TKVExifFields::*real;
    int TKVExifFields::*integer;
};

inline const TExifText mainTexts[] = {
    {tagMake, &TKVExifFields::ExifMake},         {tagModel, &TKVExifFields::ExifModel},
    {tagDateTime, &TKVExifFields::ExifDateTime}, {tagSoftware, &TKVExifFields::ExifSoftware},
    {tagArtist, &TKVExifFields::ExifArtist},     {tagCopyright, &TKVExifFields::ExifCopyright},
};
inline const TExifText exifTexts[] = {
    {tagDateTimeOriginal, &TKVExifFields::ExifDateTimeOriginal}, {tagDateTimeDigitized, &TKVExifFields::ExifDateTimeDigitized},
    {37520, &TKVExifFields::ExifSubsecTime},                      {37521, &TKVExifFields::ExifSubsecTimeOriginal},
    {37522, &TKVExifFields::ExifSubsecTimeDigitized},             {40964, &TKVExifFields::ExifRelatedSoundFile},
};
inline const TExifNumber exifNumbers[] = {
    {tagExposureTime, 5, &TKVExifFields::ExifExposureTime, nullptr},
    {tagFNumber, 5, &TKVExifFields::ExifFNumber, nullptr},
    {34850, 3, nullptr, &TKVExifFields::ExifExposureProgram},
    {37122, 5, &TKVExifFields::ExifCompressedBitsPerPixel, nullptr},
    {37377, 10, &TKVExifFields::ExifShutterSpeedValue, nullptr},
    {37378, 5, &TKVExifFields::ExifApertureValue, nullptr},
    {37379, 10, &TKVExifFields::ExifBrightnessValue, nullptr},
    {37380, 10, &TKVExifFields::ExifExposureBiasValue, nullptr},
    {37381, 5, &TKVExifFields::ExifMaxApertureValue, nullptr},
    {37382, 5, &TKVExifFields::ExifSubjectDistance, nullptr},
    {37383, 3, nullptr, &TKVExifFields::ExifMeteringMode},
    {37384, 3, nullptr, &TKVExifFields::ExifLightSource},
    {tagFlash, 3, nullptr, &TKVExifFields::ExifFlash},
    {tagFocalLength, 5, &TKVExifFields::ExifFocalLength, nullptr},
    {40961, 3, nullptr, &TKVExifFields::ExifColorSpace},
    {40962, 4, nullptr, &TKVExifFields::ExifPixelXDimension},
    {40963, 4, nullptr, &TKVExifFields::ExifPixelYDimension},
    {41486, 5, &TKVExifFields::ExifFocalPlaneXResolution, nullptr},
    {41487, 5, &TKVExifFields::ExifFocalPlaneYResolution, nullptr},
    {41488, 3, nullptr, &TKVExifFields::ExifFocalPlaneResolutionUnit},
    {41493, 5, &TKVExifFields::ExifExposureIndex, nullptr},
    {41495, 3, nullptr, &TKVExifFields::ExifSensingMethod},
    {41728, 7, nullptr, &TKVExifFields::ExifFileSource},
    {41729, 7, nullptr, &TKVExifFields::ExifSceneType},
};
inline constexpr uint16_t tagExifVersion = 36864, tagFlashPixVersion = 40960, tagUserComment = 37510, tagMakerNote = 37500;

struct TExifRationals {
    uint16_t tag;
    std::span<double> (*field)(TKVExifFields&);
};
inline const TExifRationals mainRationals[] = {
    {tagWhitePoint, [](TKVExifFields& f) { return std::span<double>(f.ExifWhitePoint); }},
    {319, [](TKVExifFields& f) { return std::span<double>(f.ExifPrimaryChromaticities); }},
    {529, [](TKVExifFields& f) { return std::span<double>(f.ExifYCbCrCoefficients); }},
    {532, [](TKVExifFields& f) { return std::span<double>(f.ExifReferenceBlackWhite); }},
};
inline constexpr uint16_t tagYCbCrPositioning = 531;
// The Windows XP texts: UTF-16 in BYTE values.
inline const TExifText xpTexts[] = {
    {40091, &TKVExifFields::ExifXPTitle},    {40092, &TKVExifFields::ExifXPComment},
    {40093, &TKVExifFields::ExifXPAuthor},   {40094, &TKVExifFields::ExifXPKeywords},
    {40095, &TKVExifFields::ExifXPSubject},
};

// Little-endian UTF-16 up to its first NUL character, as UTF-8.
std::string Utf16ToUtf8(std::span<const uint8_t> bytes);
// UTF-8 as little-endian UTF-16 with a NUL character; bytes that are no UTF-8 become U+FFFD.
std::vector<uint8_t> Utf8ToUtf16(const std::string& text);

}  // namespace kvtiff
