#pragma once
// The JPEG driver: reads and writes JPEG streams through libjpeg, finds where a JPEG stream starts
// and how long it is, and joins colour profiles split over APP2 markers.
#include <cstddef>
#include <cstdint>

#include "platform/Exception.h"

struct TKVFormatDriver;
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// A libjpeg error, with the library's own text for it.
class EKVJpegException : public Exception { public: using Exception::Exception; };

// Reads one JPEG image; failures set the abort flag. tables, when given and not the image stream,
// holds the tables of new-style TIFF JPEG data. With paramsOnly only the record is filled.
void ReadJPEGStream(TStream& stream, TStream* tables, TKVBitmap& bitmap, bool applyProfile, bool invertCMYK,
                    bool readMetadata, bool keepYCbCr, bool paramsOnly, TKVProgressRec& progress,
                    TIOParamsVals& params);
// Writes one JPEG image; a library error sets the abort flag and raises EKVJpegException.
// CMYK goes out as Adobe's inverted bytes, or with inkAmounts as TIFF pages hold it: 0 for no
// ink, and without Adobe's marker.
void WriteJPEGStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress,
                     bool inkAmounts);
void WriteJPEGStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);

// Position of the first JPEG signature within 100 bytes of the position, or -1; the stream's
// position is kept. It is also the format's content test.
int64_t FindJPEGStart(TStream& stream);
// Bytes from the position to the end of the first end-of-image marker (or of the stream); the
// position is kept.
int64_t GetJPEGStreamLength(TStream& stream);
// Loads a profile split over APP2 "ICC_PROFILE" chunks into the record's input profile; the
// position is kept.
void ReadJPEGICCProfile(TStream& stream, TIOParamsVals& params);

// --- A thin layer over libjpeg's decompressor for the camera raw decoder, which drives it
// itself. Library errors raise EKVJpegException; nothing here has an abort flag.
struct jpeg_decompress_struct;
struct TKVRawJpegErrorMgr;
// The stream source of a decompressor.
struct TKVJpegSource;
// Refills the source from the stream, handing the bytes over with RawJpegSetSource.
using TKVRawJpegFillInput = void (*)(TKVJpegSource& source, TStream& stream);

jpeg_decompress_struct* RawJpegAllocDecompress();
TKVRawJpegErrorMgr* RawJpegCreateErrorMgr(jpeg_decompress_struct* decompressor);
void RawJpegCreateDecompress(jpeg_decompress_struct* decompressor);
void RawJpegStreamSource(jpeg_decompress_struct* decompressor, TStream& stream);
void RawJpegSetFillInputBuffer(jpeg_decompress_struct* decompressor, TKVRawJpegFillInput fill);
// The bytes stay the caller's until the next refill.
void RawJpegSetSource(TKVJpegSource& source, const uint8_t* buffer, size_t count);
int RawJpegReadHeader(jpeg_decompress_struct* decompressor, bool requireImage);
bool RawJpegStartDecompress(jpeg_decompress_struct* decompressor);
int RawJpegOutputWidth(jpeg_decompress_struct* decompressor);
int RawJpegOutputHeight(jpeg_decompress_struct* decompressor);
int RawJpegOutputComponents(jpeg_decompress_struct* decompressor);
int RawJpegOutputScanline(jpeg_decompress_struct* decompressor);
// Rows of samples from the library's pool (JPOOL_IMAGE or JPOOL_PERMANENT), freed with it.
uint8_t** RawJpegAllocSArray(jpeg_decompress_struct* decompressor, int pool, int samplesPerRow, int rows);
int RawJpegReadScanlines(jpeg_decompress_struct* decompressor, uint8_t** rows, int count);
bool RawJpegFinishDecompress(jpeg_decompress_struct* decompressor);
void RawJpegDestroyDecompress(jpeg_decompress_struct* decompressor);
void RawJpegFreeDecompress(jpeg_decompress_struct* decompressor);
void RawJpegFreeErrorMgr(TKVRawJpegErrorMgr* errorManager);

// The registry's record of the format.
extern const TKVFormatDriver KVJpegDriver;
