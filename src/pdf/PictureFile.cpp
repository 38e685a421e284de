#include "PictureFile.h"

#include <sys/stat.h>

#include "platform/GraphicClasses.h"
#include "platform/Graphics.h"
#include "platform/Jpeg.h"

bool IsJpegFile(const std::string& fileName) {
    const TGraphicClass graphicClass = GraphicClassForFile(fileName);
    return graphicClass && dynamic_cast<const TJPEGImage*>(graphicClass().get());
}

std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName) {
    const TGraphicClass graphicClass = GraphicClassForFile(fileName);
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
