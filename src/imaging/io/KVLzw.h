#pragma once
// The LZW coders of GIF (codes LSB first in length-prefixed sub-blocks) and TIFF (compression 5:
// codes MSB first, width changing one code early). The start-up of the input/output unit installs
// them as the library-wide hooks (DefGIFLZWDecompressor and its three siblings, IOParamsVals.h).
#include <cstdint>

#include "imaging/io/IOParamsVals.h"

// The stream is at the code-size byte of a GIF image; fills width x height index bytes in display
// order. On any failure, a damaged or short code stream included, the stream is put back at the
// code-size byte; on success it is left after the block terminator.
void GIFLZWDecode(TStream& stream, int height, int width, uint8_t* dest, bool interlaced);
// Writes the code-size byte, the data sub-blocks and the terminating empty sub-block.
void GIFLZWEncode(TStream& stream, int height, int width, int bitsPerPixel, const uint8_t* pixels,
                  bool interlaced);

// The first call (state null) starts on the strip; each call returns the next row of rowLength
// bytes, or null at a damaged code stream or when the strip holds no further whole row. A call
// with null strip frees the state.
uint8_t* TIFFLZWDecode(const uint8_t* strip, int64_t stripSize, int64_t rowLength, TKVTIFFLZWDecodeState*& state);
// The first call (state null) starts a code stream; later calls continue it; a call with null
// data ends it (the pending code and the end code) and frees the state.
void TIFFLZWEncode(const uint8_t* data, int64_t length, TStream& stream, TKVTIFFLZWEncodeState*& state);
