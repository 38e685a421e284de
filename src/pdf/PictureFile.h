#pragma once
// The picture files the writer places: the JPEG data it passes through with their layout, and the
// reader of picture files and addresses that its caller gives it.
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

#include "platform/JpegLayout.h"

class TGraphic;

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

// What a picture file gives the writer: JPEG data to pass through, or a graphic to encode.
struct TPictureFileContent {
    std::optional<TJpegFile> Jpeg;
    std::unique_ptr<TGraphic> Graphic;
};

// The writer knows no picture formats and no network: the program gives it a reader of both.
class TPictureFileReader {
public:
    virtual ~TPictureFileReader() = default;
    // The picture of an existing file, JPEG data passed through when passJpeg allows; a format
    // it does not know raises EInvalidGraphic, a file it cannot open EFOpenError.
    virtual TPictureFileContent Read(const std::string& fileName, bool passJpeg) = 0;
    // Downloads an address into a new file of the folder and returns the file's name; raises
    // EPdfError.
    virtual std::string Download(const std::string& url, const std::string& folder) = 0;
};
// Installs the reader for the whole run and returns the one before; none at first, when
// StretchDrawFile refuses every file as "Image format or compression scheme not supported" and
// every address as "File not found".
std::unique_ptr<TPictureFileReader> SetPictureFileReader(std::unique_ptr<TPictureFileReader> reader);
TPictureFileReader* PictureFileReader();
