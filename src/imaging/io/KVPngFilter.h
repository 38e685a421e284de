#pragma once
// The PNG driver: reads and writes PNG streams through libpng, transparency travelling as an
// 8-bit mask (255 opaque) beside the picture.
// The extended library's TPNGGraphic reads these files too; this driver stays apart because it fills the
// image library's bitmap and parameter record and stops by the abort flag instead of raising.
#include <memory>

struct TKVFormatDriver;
class TStream;
class TKVBitmap;
class TKVMask;
class TIOParamsVals;
struct TKVProgressRec;

// Reads one PNG image; failures set the abort flag. Without composite the alpha samples (the
// picture's own or from its transparency chunk) go into mask, which is created when absent, and a
// picture without them leaves mask empty; with composite the picture is blended onto its background.
void ReadPNGStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool compositeOnBackground,
                   std::unique_ptr<TKVMask>& mask, bool paramsOnly, TKVProgressRec& progress);
// Writes one PNG image; mask (or nullptr) gives its transparency. Library errors raise
// EInvalidGraphic "Error on creating PNG"; short writes set the abort flag.
void WritePNGStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVMask* mask,
                    TKVProgressRec& progress);
// The content test: the stream starts with the PNG signature; the position is kept.
bool IsPNGStream(TStream& stream);

// The registry's record of the format.
extern const TKVFormatDriver KVPngDriver;
