#include "PictureFile.h"

#include <sys/stat.h>

#include "PdfErrors.h"
#include "platform/Graphics.h"
#include "tzpicformats/FileFormatList.h"

bool IsJpegFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead);
    return GraphicClassOfFile(stream, fileName) == JPEGImageClass();
}

std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName) {
    std::unique_ptr<TGraphic> graphic = CreateGraphicFromFile(fileName);
    if (!graphic) throw EInvalidGraphic("Unknown picture format: " + fileName);
    return graphic;
}

TFileIdentity FileIdentityOf(const std::string& fileName) {
    struct stat info;
    if (::stat(fileName.c_str(), &info) != 0) return {};
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

TJpegFile ReadJpegFile(const std::string& fileName) {
    TJpegFile file{fileName, FileIdentityOf(fileName), {}};
    try {
        file.Layout = ReadJpegLayout(fileName);
    } catch (const EInvalidGraphic& damage) {
        // The reader's own reason, such as a truncated file, with the file's name.
        throw EPdfError(damage.Message(), fileName);
    }
    return file;
}
