#include "PictureFile.h"

#include <sys/stat.h>

#include "platform/Graphics.h"
#include "tzpicformats/FileFormatList.h"

namespace {

// The extended library's registry: the class by the file's content first, then by its extension.
TGraphicClassRef PictureClassOf(const std::string& fileName) {
    if (const TGraphicClassRef byContent = RegisteredFormats().ClassForFileContent(fileName)) return byContent;
    const std::string name = fileName.substr(fileName.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? nullptr : RegisteredFormats().ClassForExtension(name.substr(dot));
}

}  // namespace

bool IsJpegFile(const std::string& fileName) { return PictureClassOf(fileName) == JPEGImageClass(); }

std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName) {
    const TGraphicClassRef graphicClass = PictureClassOf(fileName);
    if (!graphicClass) throw EInvalidGraphic("Unknown picture format: " + fileName);
    std::unique_ptr<TGraphic> graphic = graphicClass->Create();
    graphic->LoadFromFile(fileName);
    return graphic;
}

TFileIdentity FileIdentityOf(const std::string& fileName) {
    struct stat info;
    if (::stat(fileName.c_str(), &info) != 0) return {};
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}
