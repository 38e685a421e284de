// Writes the raw fuzz targets' seeds from the test writers: small files of each container and
// coding. Usage: raw_seeds <corpus folder>.
#include <fstream>
#include <string>

#include "RawWriters.h"

namespace {

void Save(const std::string& path, const TBytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TRaster Mosaic(uint32_t pattern, int height, int width, int scale) { return {height, width, KnownMosaic(pattern, height, width, scale)}; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string corpus = argv[1];
    const std::pair<std::string, TBytes> files[] = {
        {"leaf-be16.tif", WriteLeafTiff(Mosaic(0x94949494, 6, 8, 60000))},
        {"olympus-le16.orf", WriteOlympusTiff(Mosaic(0x61616161, 6, 8, 16000))},
        {"canon-sof3.tif", WriteCanonLosslessJpeg(Mosaic(0x61616161, 6, 8, 4000))},
        {"canon-ciff.crw", WriteCanonCiffCompressed("Canon EOS Test", Mosaic(0x94949494, 8, 16, 1000))},
        {"foveon.x3f", WriteFoveon("SD9", 6, 8, std::vector<std::array<int, 3>>(48, {100, 200, 300}))},
        {"rollei.mdc", WriteRolleiHeader(16, 8)},
    };
    for (const char* target : {"raw_identify", "raw_decode"})
        for (const auto& [name, bytes] : files) Save(corpus + "/" + target + "/" + name, bytes);
    // Loader seeds: a choice byte, then a lossless JPEG and plain bytes.
    TBytes jpeg = {1};
    const TBytes coded = EncodeLosslessJpeg(Mosaic(0x61616161, 12, 32, 4000));
    jpeg.insert(jpeg.end(), coded.begin(), coded.end());
    Save(corpus + "/raw_loaders/jpeg-lossless.bin", jpeg);
    TBytes plain(2048);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 7);
    for (int choice = 0; choice < 21; ++choice) {
        plain[0] = uint8_t(choice);
        Save(corpus + "/raw_loaders/loader-" + std::to_string(choice) + ".bin", plain);
    }
    return 0;
}
