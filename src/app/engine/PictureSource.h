#pragma once
// A picture file as the engine reads it, made when the picture is added. It decides once which
// library reads the file (by its name, then by its content), reads the file's header once, and
// then gives either the JPEG data that the writer passes through with their layout, or the
// decoded pixels of one frame.
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "pdf/PictureFile.h"

class TKestovaIO;
struct TGraphicClassInfo;

// How a file is read, by its extension.
enum TPicKind : uint8_t { pkImage, pkExtended, pkJpeg, pkTiff, pkGif, pkVideo };

// False for an extension outside the accepted table; kind is then pkExtended.
bool FindPicKind(const std::string& fileName, TPicKind& kind);
TPicKind PicKindOfFile(const std::string& fileName);
// "Can't load image" with the file's name and, in brackets, why its reader refused it.
[[noreturn]] void RaiseCantLoadImage(const std::string& fileName, std::string reason);
// The colour-mode code of a picture read with these samples: the colour (not the alpha) that
// they hold, as picture tools report it.
uint8_t ColorModeOfSamples(int bitsPerSample, int samplesPerPixel);

// What the header told; after a decode, what the decoded frame holds.
struct TPictureHeader {
    int Width = 0, Height = 0;
    uint8_t ColorMode = 9;
    int FrameCount = 0;
    int FrameStep = 0;  // of a video: about one frame a second
};

class TPictureSource {
public:
    // Touches no file: until the header is read, the kind is the name's.
    explicit TPictureSource(const std::string& fileName);
    ~TPictureSource();
    TPictureSource(const TPictureSource&) = delete;
    TPictureSource& operator=(const TPictureSource&) = delete;

    const std::string& FileName() const { return fileName_; }
    TPicKind Kind() const { return kind_; }
    const TPictureHeader& Header() const { return header_; }
    bool HeaderRead() const { return headerRead_; }
    // Reads the header the first time, the GIF frame of frameIndex loaded into io to count the
    // frames (a TIFF's pages are counted from its directories); a video opens its media in io
    // unless io holds it open already, since its frames are read from there. Any failure becomes
    // "Can't load image" with the file name and the reader's reason.
    void Open(TKestovaIO& io, int frameIndex);
    // The frame's pixels in io's work bitmap, decoded by whichever library reads the file; a JPEG
    // passed through decodes nothing. Raises the reader's error.
    void Decode(TKestovaIO& io, int frameIndex);
    // The data the writer passes through; a damaged file raises the reason it was refused.
    const TJpegFile& Jpeg() const;

private:
    // A picture at an http address is read from a copy downloaded once, as a file is.
    void DownloadOnce();
    void ReadHeader(TKestovaIO& io, int frameIndex);
    // True when the file, refused by the reader its name chose, was read as a single picture.
    bool ReadByContent(TKestovaIO& io, int frameIndex);
    void ReadJpegHeader(TKestovaIO& io);
    void ReadImageHeader(TKestovaIO& io);
    void ReadExtendedHeader();
    void DecodeExtended(TKestovaIO& io);
    // Reads the TIFF page's header; returns the file's page count.
    int ReadTiffDirectories(TKestovaIO& io, int frameIndex);
    void DecodeTiffPage(TKestovaIO& io, int frameIndex);
    // Loads the GIF frame; returns the file's frame count.
    int LoadSelectedFrame(TKestovaIO& io, int frameIndex);
    void TakeParams(TKestovaIO& io);

    std::string fileName_;
    std::string readName_;  // the file read: the picture's own, or the copy of its address
    bool downloaded_ = false;
    TPicKind kind_;
    bool headerRead_ = false;
    TPictureHeader header_;
    std::optional<TJpegFile> jpeg_;
    // A JPEG file whose header the image library reads but whose data the writer refuses.
    std::exception_ptr jpegDamage_;
    const TGraphicClassInfo* graphicClass_ = nullptr;
};
