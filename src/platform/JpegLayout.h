#pragma once
// What the writer needs to know of a JPEG file it passes through unchanged: the frame's size and
// components, the Adobe marker, and that the file is whole. Read from the markers, never decoded.
#include <cstdint>
#include <span>
#include <string>

struct TJpegLayout {
    int Width = 0;
    int Height = 0;
    int Components = 0;  // 1 gray, 3 colour, 4 CMYK
    bool AdobeMarker = false;
};

// Checks well-formed segments from the start of the image up to the first scan, with an 8-bit
// frame header, and an end-of-image marker after the scan. Raises EInvalidGraphic.
TJpegLayout ParseJpegLayout(std::span<const uint8_t> data);
// The same for a file, reading its head and its end (the whole file only when something follows
// the end-of-image marker). Raises EInvalidGraphic, or EFOpenError when the file cannot be read.
TJpegLayout ReadJpegLayout(const std::string& fileName);

// The marker codes and classes every reader of JPEG markers shares.
namespace JpegMarker {
constexpr uint8_t SOI = 0xD8, EOI = 0xD9, SOS = 0xDA, APP2 = 0xE2, APP14 = 0xEE, TEM = 0x01;
}
bool IsJpegFrameHeader(uint8_t marker);
bool IsJpegRestart(uint8_t marker);
// A length and a body follow these markers.
bool JpegMarkerHasSegment(uint8_t marker);
// The start of image and the lead byte of the next marker, as every JPEG file begins.
bool StartsJpeg(std::span<const uint8_t> bytes);
