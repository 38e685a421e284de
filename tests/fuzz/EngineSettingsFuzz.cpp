// The engine's settings read from an arbitrary settings file: every value rule and the font texts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterSettings.h"
#include "platform/Exception.h"
#include "platform/Settings.h"

namespace {
// One private settings folder for the process, removed when it ends.
struct TFolder {
    std::string path;
    TFolder() {
        char name[] = "/tmp/engine-settings-fuzz-XXXXXX";
        path = ::mkdtemp(name) ? name : "";
        ::setenv("XDG_CONFIG_HOME", path.c_str(), 1);
        std::filesystem::create_directories(path + "/Brelvant");
    }
    ~TFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TFolder folder;
    static THeadlessHost host;
    static TConverter converter(host);
    if (FILE* out = std::fopen(AppSettingsFileName().c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
    }
    converter.SetDefaults();
    try {
        LoadSettings(converter);
    } catch (const Exception&) {
    }
    return 0;
}
