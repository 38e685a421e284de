// Writes the raw fuzz targets' seeds from the test writers: a whole camera file for every loader
// whose camera a small file can name, and an input of every loader at full and (where small)
// at half size.
// Usage: raw_seeds <corpus folder>.
#include <algorithm>
#include <fstream>
#include <string>

#include "RawLoaderCases.h"
#include "RawWriters.h"

namespace {

void Save(const std::string& path, const TBytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The input without most of the zeros at its end: the loaders of a fixed row count read them as
// rows that lie outside the picture.
TBytes Trimmed(TBytes bytes) {
    size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0) --end;
    bytes.resize(std::min(bytes.size(), end + 4096));
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string corpus = argv[1];
    for (const TCameraFile& file : CameraFiles())
        for (const char* target : {"raw_identify", "raw_decode"}) Save(corpus + "/" + target + "/" + file.name, file.bytes);
    // The first byte chooses the loader and, in its high bit, half size.
    for (size_t i = 0; i < loaderCaseCount; ++i) {
        const TLoaderCase& c = loaderCases[i];
        const TBytes input = Trimmed(WriteLoaderInput(c));
        // Half size of the large inputs (the loaders of a fixed geometry) is left to the loader
        // table test, to keep the replay short.
        for (const bool half : {false, true}) {
            if (half && input.size() > 65536) continue;
            TBytes seed = {uint8_t(i | (half ? 0x80 : 0))};
            seed.insert(seed.end(), input.begin(), input.end());
            Save(corpus + "/raw_loaders/" + c.name + (half ? "-half" : "") + ".bin", seed);
        }
    }
    return 0;
}
