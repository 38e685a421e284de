#include "DriverTestSupport.h"

#include <algorithm>
#include <cstdlib>

TRgbImage PatternImage(int width, int height) {
    TRgbImage image{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = image.pixels.data() + (size_t(y) * width + x) * 3;
            p[0] = uint8_t(x * 255 / std::max(width - 1, 1));
            p[1] = uint8_t(y * 255 / std::max(height - 1, 1));
            p[2] = ((x / 8 + y / 8) % 2) ? 200 : 40;
        }
    return image;
}

std::string PpmBytes(const TRgbImage& image) {
    return "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n" +
           std::string(image.pixels.begin(), image.pixels.end());
}

void ImageToBitmap(const TRgbImage& image, TKVBitmap& bitmap) {
    bitmap.Allocate(image.width, image.height, kv24RGB);
    for (int y = 0; y < image.height; ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = image.At(x, y);
            row[3 * x] = p[2], row[3 * x + 1] = p[1], row[3 * x + 2] = p[0];
        }
    }
}

TRgbImage BitmapToImage(TKVBitmap& bitmap) {
    TRgbImage image{bitmap.GetWidth(), bitmap.GetHeight(), {}};
    image.pixels.resize(size_t(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const TKVRGB c = bitmap.GetPixelRGB(x, y);
            uint8_t* p = image.pixels.data() + (size_t(y) * image.width + x) * 3;
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
        }
    return image;
}

int MaxDifference(const TRgbImage& a, const TRgbImage& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return -1;
    int most = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) most = std::max(most, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
    return most;
}

double MeanDifference(const TRgbImage& a, const TRgbImage& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.empty() || a.pixels.size() != b.pixels.size()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    return sum / double(a.pixels.size());
}

void LoadBytes(TMemoryStream& stream, const std::string& bytes) {
    stream.Clear();
    stream.Write(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
}

std::string StreamBytes(const TMemoryStream& stream) {
    return std::string(stream.Bytes().begin(), stream.Bytes().end());
}
