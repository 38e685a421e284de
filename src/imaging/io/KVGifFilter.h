#pragma once
// The GIF driver: reads one image of a GIF file with its transparency mask (8 bits, 0 where
// transparent), counts the images, writes a single-image GIF and removes an image from a
// file. The LZW coding goes through the record's hooks, else the library-wide ones.
// The extended library's TGIFGraphic reads these files too; this driver stays apart because it fills the
// image library's bitmap and parameter record and stops by the abort flag instead of raising.
#include <memory>
#include <string>

class TStream;
class TKVBitmap;
class TKVMask;
class TIOParamsVals;
struct TKVProgressRec;

// Reads the image params.GifImageIndex; failures set the abort flag. imageCount receives the
// number of images in the file. Without noMask a mask is made and kept only when the image has
// transparent pixels; otherwise mask is reset.
void ReadGIFStream(TStream& stream, TKVBitmap& bitmap, int& imageCount, bool noMask, std::unique_ptr<TKVMask>& mask,
                   bool paramsOnly, TKVProgressRec& progress, TIOParamsVals& params);
// Writes the bitmap as a one-image GIF at params.BitsPerSample bits; an alpha channel becomes the
// transparent index, each comment its own extension. A side above 65,535 pixels sets the abort
// flag and writes nothing.
void WriteGIFStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
// Replaces the file only once the whole picture is written.
void WriteGIFFile(const std::string& fileName, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
// The file without image imageIndex and the graphic control extension before it; written back
// when save is set. Returns the number of images kept (all of them for index -1: the count).
int DeleteGIFImage(const std::string& fileName, int imageIndex, bool save);
