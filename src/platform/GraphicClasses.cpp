#include "GraphicClasses.h"

#include <map>
#include <mutex>

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
