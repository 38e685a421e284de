#include "GraphicClasses.h"

#include <map>
#include <mutex>

#include "ByteReader.h"
#include "Classes.h"
#include "Icon.h"
#include "Jpeg.h"

namespace {

std::string Key(const std::string& extension) {
    std::string key = extension.starts_with('.') ? extension.substr(1) : extension;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return key;
}

template <class Graphic>
TGraphicClass ClassOf() {
    return [] { return std::make_unique<Graphic>(); };
}

struct TRegistry {
    std::mutex lock;
    std::map<std::string, TGraphicClass> classes{
        {"bmp", ClassOf<TBitmap>()}, {"dib", ClassOf<TBitmap>()},      {"jpg", ClassOf<TJPEGImage>()},
        {"jpeg", ClassOf<TJPEGImage>()}, {"jpe", ClassOf<TJPEGImage>()}, {"jfif", ClassOf<TJPEGImage>()},
        {"ico", ClassOf<TIcon>()},
    };
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

}  // namespace

void RegisterGraphicClass(const std::string& extension, TGraphicClass graphicClass) {
    TRegistry& registry = Registry();
    const std::lock_guard guard(registry.lock);
    registry.classes[Key(extension)] = std::move(graphicClass);
}

TGraphicClass GraphicClassForExtension(const std::string& extension) {
    TRegistry& registry = Registry();
    const std::lock_guard guard(registry.lock);
    const auto found = registry.classes.find(Key(extension));
    return found == registry.classes.end() ? TGraphicClass() : found->second;
}

namespace {

// The extension of the format that the file's first bytes announce; empty when none does.
std::string ExtensionByContent(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    uint8_t bytes[44] = {};
    const TByteReader head(bytes, file.Read(bytes, sizeof bytes));
    auto has = [&](int64_t size) { return head.Size() >= size; };
    if (has(3) && head.U8At(0) == 0xFF && head.U8At(1) == 0xD8 && head.U8At(2) == 0xFF) return "jpg";
    if (has(2) && head.U8At(0) == 'B' && head.U8At(1) == 'M') return "bmp";
    if (has(6) && head.U16LEAt(0) == 0 && head.U16LEAt(2) == 1 && head.U16LEAt(4) != 0) return "ico";
    if (has(44) && head.U32LEAt(0) == 1 && head.U32LEAt(40) == 0x464D4520) return "emf";  // " EMF"
    // A Windows metafile's header follows the placeable header when there is one.
    const int64_t at = has(4) && head.U32LEAt(0) == 0x9AC6CDD7 ? 22 : 0;
    if (has(at + 18) && head.U16LEAt(at) == 1 && head.U16LEAt(at + 2) == 9 && head.U16LEAt(at + 16) == 0) return "wmf";
    return {};
}

std::string ExtensionOf(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return fileName.substr(dot + 1);
}

}  // namespace

TGraphicClass GraphicClassForFile(const std::string& fileName) {
    std::string extension = ExtensionByContent(fileName);
    if (extension.empty()) extension = ExtensionOf(fileName);
    return extension.empty() ? TGraphicClass() : GraphicClassForExtension(extension);
}
