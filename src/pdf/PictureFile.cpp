#include "PictureFile.h"

#include <strings.h>

#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "platform/Jpeg.h"

namespace {

enum class TPictureKind { Unknown, Jpeg, Bmp };

TPictureKind KindByContent(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    uint8_t head[3] = {};
    const int64_t n = file.Read(head, sizeof head);
    if (n == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return TPictureKind::Jpeg;
    if (n >= 2 && head[0] == 'B' && head[1] == 'M') return TPictureKind::Bmp;
    return TPictureKind::Unknown;
}

TPictureKind KindByExtension(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return TPictureKind::Unknown;
    const char* extension = fileName.c_str() + dot;
    for (const char* jpeg : {".jpg", ".jpeg", ".jpe", ".jfif"})
        if (::strcasecmp(extension, jpeg) == 0) return TPictureKind::Jpeg;
    for (const char* bmp : {".bmp", ".dib"})
        if (::strcasecmp(extension, bmp) == 0) return TPictureKind::Bmp;
    return TPictureKind::Unknown;
}

}  // namespace

bool IsJpegFile(const std::string& fileName) { return KindByContent(fileName) == TPictureKind::Jpeg; }

void LoadPictureFile(const std::string& fileName, TBitmap& bitmap) {
    TPictureKind kind = KindByContent(fileName);
    if (kind == TPictureKind::Unknown) kind = KindByExtension(fileName);
    switch (kind) {
        case TPictureKind::Jpeg: {
            TJPEGImage jpeg;
            jpeg.LoadFromFile(fileName);
            jpeg.AssignTo(bitmap);
            return;
        }
        case TPictureKind::Bmp: bitmap.LoadFromFile(fileName); return;
        case TPictureKind::Unknown: break;
    }
    throw EInvalidGraphic("Unknown picture format: " + fileName);
}
