#include "PictureFile.h"

#include <sys/stat.h>

#include "PdfErrors.h"
#include "platform/Graphics.h"

#include <utility>

namespace {

std::unique_ptr<TPictureFileReader>& InstalledReader() {
    static std::unique_ptr<TPictureFileReader> reader;
    return reader;
}

}  // namespace

std::unique_ptr<TPictureFileReader> SetPictureFileReader(std::unique_ptr<TPictureFileReader> reader) {
    std::swap(InstalledReader(), reader);
    return reader;
}

TPictureFileReader* PictureFileReader() { return InstalledReader().get(); }

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
