#pragma once
// The camera raw decoder: a raw file of a digital camera becomes a 24-bit or 48-bit picture.
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;
struct TKVFormatDriver;

// Reads the raw file from position 0 into the bitmap (kv24RGB, or kvRGB48 when the record's
// native-pixel-format flag is set), or with paramsOnly only the record's size, camera name and
// resolution. Failure sets the progress record's abort flag; nothing is raised.
void KVReadRawStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                     TKVProgressRec& progress);

// Reads the metadata of a CIFF heap file from position 0 into the record: the EXIF description,
// camera names, software and picture size, the shot records as the maker note, and the smallest
// embedded JPEG as the EXIF preview (emptied when there is none). The position is kept.
void KVReadRawMetadata(TStream& stream, TIOParamsVals& params);

// True when the stream is a raw file the decoder reads; the position is kept. It reads the head
// first and then only what identification needs.
bool KVIsRawStream(TStream& stream);
// The same for raw files whose head names a container that is no TIFF structure (CIFF heaps and
// the heads of single makers): detection tries it before the looser tests of other formats that
// such heads could pass.
bool KVIsRawContainerStream(TStream& stream);

// The component's record. Its content test comes after every other format's: files known by the
// size alone would otherwise shadow any picture of that size.
extern const TKVFormatDriver KVRawDriver;
