#pragma once
// EXIF blocks: the APP1 "Exif" data of a JPEG file and the TIFF structure inside camera raw
// files, read into and written from the parameter record's EXIF fields through the TIFF driver.
#include <cstdint>
#include <vector>

class TStream;
class TIOParamsVals;

// "Exif", two zero bytes and a TIFF structure of the record's EXIF fields, without a picture.
std::vector<uint8_t> KVSaveEXIFToBuffer(TIOParamsVals& params);
// Reads the APP1 data; false when it is no "Exif" block. Fills the EXIF fields and the thumbnail
// (turned by the orientation); a thumbnail that cannot be read is left empty.
bool KVLoadEXIFFromBuffer(const uint8_t* data, int64_t length, TIOParamsVals& params);
// The same from a TIFF structure at the stream position, which is restored; no orientation.
bool KVLoadEXIFFromStream(TStream& stream, TIOParamsVals& params);
// Offset of a TIFF header within 128 KiB of the stream position, or -1; the position is restored.
int64_t KVSearchTIFFHeader(TStream& stream);
// Every EXIF field but ExifHasData and the thumbnail.
void KVCopyEXIF(const TIOParamsVals& source, TIOParamsVals& target);
