#pragma once
// The picture files the writer places: what kind a file is, and the graphic that loads it.
#include <ctime>
#include <memory>
#include <string>
#include <sys/types.h>

#include "JpegLayout.h"

class TGraphic;

// True when the extended library's registry (tzpicformats/FileFormatList.h) gives the JPEG class
// for the file, by content and then by extension; raises EFOpenError when it cannot be read.
bool IsJpegFile(const std::string& fileName);
// Loads the file into a graphic of the class the registry gives for it. No class for the file, or
// damaged data, raise EInvalidGraphic (EFOpenError when the file cannot be read).
std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName);

// Tells whether a file is still the one read earlier: the same file, size and modification time.
struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = -1;
    timespec Modified{};
    bool operator==(const TFileIdentity& other) const {
        return Device == other.Device && Inode == other.Inode && Size == other.Size &&
               Modified.tv_sec == other.Modified.tv_sec && Modified.tv_nsec == other.Modified.tv_nsec;
    }
};
// The identity of the file now; Size -1 when it does not exist.
TFileIdentity FileIdentityOf(const std::string& fileName);

// A JPEG file whose data the writer passes through as they are: the file as it was when its
// layout was read, so that a later change is noticed when the data are copied.
struct TJpegFile {
    std::string FileName;
    TFileIdentity Identity;
    TJpegLayout Layout;
};
// Reads the file's layout once; a damaged file raises EPdfError with the reader's reason and the
// file's name, one that cannot be read EFOpenError.
TJpegFile ReadJpegFile(const std::string& fileName);
