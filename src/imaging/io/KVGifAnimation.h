#pragma once
// The picture a viewer shows at one frame of an animated GIF: frames 0 up to the wanted one drawn
// in turn on a canvas of the logical screen, each frame's disposal applied before the next.
struct TKVFormatDriver;
class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

// Composes the frame params.GifImageIndex (every frame for -1) from the stream's position into
// bitmap, and returns the number of frames in the file. A file of one frame gives that frame as
// decoded. The record's image index is the wanted one again afterwards; a driver failure sets the
// abort flag and leaves bitmap as the last frame composed.
int ComposeGIFFrame(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);

// The registry's record of the format.
extern const TKVFormatDriver KVGifDriver;
// Frames counted from the stream's position, which is kept; 0 when it holds no GIF.
int GetGIFStreamFrameCount(TStream& stream);
