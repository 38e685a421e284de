#pragma once
// The picture files the writer places: what kind a file is, and the graphic that loads it.
#include <memory>
#include <string>

class TGraphic;

// True when the file's content begins like a JPEG file; raises EFOpenError when it cannot be read.
bool IsJpegFile(const std::string& fileName);
// Loads the file into a graphic of the class registered for its kind (GraphicClasses.h), told by
// the content for JPEG, BMP, icon and metafile data and else by the extension. No class for the
// kind, or damaged data, raise EInvalidGraphic (EFOpenError when the file cannot be read).
std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName);
