#pragma once
// Pictures placed on pages: image XObjects, encoded once and written at the end of the page that
// first draws them; a file passed through is written when it is drawn.
#include <cstdint>
#include <string>

#include "PictureFile.h"

class TBitmap;
class TGraphic;
class TPdfOutput;
class TPdfSecurity;

enum TPdfCompressMode { cpNone, cpZlib, cpJpeg };

// Identifies a graphic's picture: equal pictures give equal values; 0 never matches.
uint64_t GraphicHandle(const TGraphic& graphic);

class TPdfImage {
public:
    // The resource name is "Im" and the index.
    explicit TPdfImage(int index);

    // Encode at once; failures raise EPdfError.
    void FromGraphic(const TGraphic& graphic, TPdfCompressMode compression, int jpegQuality, uint64_t handle);
    void FromFile(const std::string& fileName, TPdfCompressMode compression, int jpegQuality);
    // The file's data pass through as they are, with the layout its caller read.
    void FromJpegFile(const TJpegFile& file);
    // Under cpJpeg a bitmap's image is known by its encoded data, so equal pictures meet without
    // a pass over their pixels.
    void KeyByData();
    // Writes the XObject once, then drops its data; a file passed through is read only now.
    void Write(TPdfOutput& output, const TPdfSecurity& security);
    // The file's own bytes make the image, streamed into the output by Write.
    bool PassesThrough() const { return passThrough_; }

    const std::string& Name() const { return name_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitsPerComponent() const { return bitsPerComponent_; }
    int ObjectNumber() const { return objectNumber_; }
    const std::string& FileName() const { return fileName_; }
    // The file as it was when the image was made from it.
    const TFileIdentity& FileIdentity() const { return fileIdentity_; }
    uint64_t Handle() const { return handle_; }

private:
    void FromBitmap(const TBitmap& bitmap, TPdfCompressMode compression, int jpegQuality);
    void EncodeRows(const TBitmap& bitmap, bool oneBit, bool deflate);
    void EncodeJpeg(const TBitmap& bitmap, int quality);
    // Returns the length of the text written.
    int64_t StreamFile(TPdfOutput& output, const TPdfSecurity& security) const;

    std::string name_;
    std::string data_;  // ASCII85 text; empty for a file passed through
    bool passThrough_ = false;
    bool written_ = false;
    std::string colorSpace_ = "/DeviceRGB";
    std::string decode_;
    TPdfCompressMode compression_ = cpNone;
    int bitsPerComponent_ = 8;
    int width_ = 0;
    int height_ = 0;
    int objectNumber_ = 0;
    std::string fileName_;
    TFileIdentity fileIdentity_;
    uint64_t handle_ = 0;
};
