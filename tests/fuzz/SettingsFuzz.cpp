// The settings file: loaded from arbitrary bytes, walked and saved again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/Exception.h"
#include "platform/Settings.h"

namespace {
// One private folder for the process, removed when it ends.
struct TFolder {
    std::string path;
    TFolder() {
        char name[] = "/tmp/settings-fuzz-XXXXXX";
        path = ::mkdtemp(name) ? name : "";
    }
    ~TFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

void Walk(const TSettingsStore& store, const std::string& key, int depth) {
    for (const std::string& name : store.ValueNames(key)) store.ReadString(key, name);
    if (depth < 8)
        for (const std::string& sub : store.KeyNames(key)) Walk(store, key.empty() ? sub : key + "\\" + sub, depth + 1);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TFolder folder;
    const std::string file = folder.path + "/mordale.conf";
    if (FILE* out = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
    }
    try {
        // Values before the first key line are read into the program's key, as the program does.
        TSettingsStore store(file, "Software\\Brelvant\\mordale");
        Walk(store, "", 0);
        store.Save();
    } catch (const Exception&) {
    }
    // A file kept aside by the save would leave the next input no name to keep its own under.
    std::error_code ignored;
    std::filesystem::remove_all(file + ".bad", ignored);
    return 0;
}
