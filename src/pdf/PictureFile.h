#pragma once
// The picture files the writer places: what kind a file is, and its pixels.
#include <string>

class TBitmap;

// True when the file's content begins like a JPEG file; raises EFOpenError when it cannot be read.
bool IsJpegFile(const std::string& fileName);
// Loads a JPEG or BMP file, known by its content or else by its extension; anything else, or
// damaged data, raises EInvalidGraphic (EFOpenError when the file cannot be read).
void LoadPictureFile(const std::string& fileName, TBitmap& bitmap);
