// Writes the raw fuzz targets' seeds from the test writers: small files of each container and
// coding. Usage: raw_seeds <corpus folder>.
#include <algorithm>
#include <fstream>
#include <string>

#include "RawWriters.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVJpegFilter.h"
#include "platform/Classes.h"

namespace {

void Save(const std::string& path, const TBytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TRaster Mosaic(uint32_t pattern, int height, int width, int scale) { return {height, width, KnownMosaic(pattern, height, width, scale)}; }

// A JPEG of smooth colours, with the bytes of each pair exchanged when asked (as the DC120 has it).
TBytes Jpeg(int width, int height, bool swapped) {
    TKVBitmap picture;
    picture.Allocate(width, height, kv24RGB);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            for (int c = 0; c < 3; ++c) picture.GetScanline(row)[3 * col + c] = uint8_t(40 * c + 3 * row + 5 * col);
    TMemoryStream stream;
    TIOParamsVals params(nullptr);
    TKVProgressRec progress;
    WriteJPEGStream(stream, picture, params, progress);
    TBytes bytes(stream.Bytes());
    if (swapped) {
        if (bytes.size() % 2) bytes.push_back(0);
        for (size_t i = 0; i < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    }
    return bytes;
}

TKodakColour Colours(int height, int width) {
    TKodakColour picture{height, width, {}, {}, {}};
    for (int i = 0; i < height * width; ++i) picture.luma.push_back(300 + i % 97);
    for (int i = 0; i < height * width / 4; ++i) picture.cb.push_back(i % 40 - 20), picture.cr.push_back(15 - i % 30);
    return picture;
}

TBytes Head(const TBytes& bytes, size_t size) { return TBytes(bytes.begin(), bytes.begin() + long(std::min(size, bytes.size()))); }

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
        {"kodak-65000-cfa.dcr", WriteKodakTiff({"DCS760C", 8, 64, 65000, 32803, 0, EncodeKodak65000Cfa(Mosaic(0x61616161, 8, 64, 4000), true)})},
        {"kodak-65000-colour.dcr", WriteKodakTiff({"DCS760C", 8, 64, 65000, 2, 0, EncodeKodak65000Colour(Colours(8, 64))})},
        {"kodak-dc120-jpeg.dcr", WriteKodakTiff({"DC120", 976, 848, 7, 2, 0, Jpeg(848, 488, true)})},
        {"kodak-dc40.dcr", WriteKodakTiff({"Digital Camera 40", 512, 768, 0, 2, 1152, TBytes(4096, 0x5A)})},
        {"fuji-s5000.raf", WriteFujiFile("FinePix S5000", 1024, TBytes(4096, 0x11))},
        {"canon-ciff-previews.crw",
         WriteCanonCiffCompressed("Canon EOS Test", Mosaic(0x94949494, 8, 16, 1000), true, 0,
                                  {{0x080b, {'F', 'w', 0}},
                                   {0x102a, {1, 0, 2, 0}},
                                   {0x300a, CiffHeap({}, {{0x2007, Jpeg(16, 8, false)}, {0x2008, Jpeg(8, 8, false)}}, false)}})},
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
    for (int choice = 0; choice < 30; ++choice) {
        plain[0] = uint8_t(choice);
        Save(corpus + "/raw_loaders/loader-" + std::to_string(choice) + ".bin", plain);
    }
    // Coded data for the loaders' geometry of 12 x 32, after the byte that chooses the loader.
    auto loaderSeed = [&](const std::string& name, uint8_t choice, const TBytes& data) {
        TBytes seed = {choice};
        seed.insert(seed.end(), data.begin(), data.end());
        Save(corpus + "/raw_loaders/" + name, seed);
    };
    std::vector<int> greens(512 * 768);
    for (size_t i = 0; i < greens.size(); ++i) greens[i] = 500 + int(i % 768) * 3;
    loaderSeed("dc40.bin", 21, Head(EncodeKodakDc40(greens, 512, 768, true), 2048));
    loaderSeed("dc120-jpeg.bin", 22, Jpeg(32, 6, true));
    loaderSeed("kodak-65000-cfa.bin", 23, EncodeKodak65000Cfa(Mosaic(0x94949494, 12, 32, 4000), true));
    loaderSeed("kodak-65000-colour.bin", 24, EncodeKodak65000Colour(Colours(12, 32)));
    return 0;
}
