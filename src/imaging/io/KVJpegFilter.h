#pragma once
// The JPEG driver: reads and writes JPEG streams through libjpeg, finds where a JPEG stream starts
// and how long it is, and joins colour profiles split over APP2 markers.
#include <cstdint>

#include "platform/Exception.h"

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
