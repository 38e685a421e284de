#include "PictureFile.h"

#include <sys/stat.h>

#include "platform/Classes.h"
#include "platform/GraphicClasses.h"
#include "platform/Graphics.h"

namespace {

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The extension that names the file's kind by its first bytes; empty when unknown.
std::string ExtensionByContent(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    uint8_t head[44] = {};
    const int64_t n = file.Read(head, sizeof head);
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return "jpg";
    if (n >= 2 && head[0] == 'B' && head[1] == 'M') return "bmp";
    if (n >= 6 && Get16(head) == 0 && Get16(head + 2) == 1 && Get16(head + 4) != 0) return "ico";
    if (n >= 44 && Get32(head) == 1 && Get32(head + 40) == 0x464D4520) return "emf";  // " EMF"
    // A Windows metafile's header follows the placeable header when there is one.
    const int64_t at = n >= 4 && Get32(head) == 0x9AC6CDD7 ? 22 : 0;
    if (n >= at + 18 && Get16(head + at) == 1 && Get16(head + at + 2) == 9 && Get16(head + at + 16) == 0) return "wmf";
    return {};
}

std::string ExtensionOf(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return fileName.substr(dot + 1);
}

}  // namespace

bool IsJpegFile(const std::string& fileName) { return ExtensionByContent(fileName) == "jpg"; }

std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName) {
    std::string extension = ExtensionByContent(fileName);
    if (extension.empty()) extension = ExtensionOf(fileName);
    const TGraphicClass graphicClass = extension.empty() ? TGraphicClass() : GraphicClassForExtension(extension);
    if (!graphicClass) throw EInvalidGraphic("Unknown picture format: " + fileName);
    std::unique_ptr<TGraphic> graphic = graphicClass();
    graphic->LoadFromFile(fileName);
    return graphic;
}

TFileIdentity FileIdentityOf(const std::string& fileName) {
    struct stat info;
    if (::stat(fileName.c_str(), &info) != 0) return {};
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}
