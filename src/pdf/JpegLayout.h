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
