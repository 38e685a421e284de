#include "KVTestPictures.h"

#include <cmath>
#include <cstring>

std::unique_ptr<TKVBitmap> MakeRGB(int width, int height, const std::function<TKVRGB(int x, int y)>& color) {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->SetMemoryThreshold(INT64_MAX);
    bitmap->Allocate(width, height, kv24RGB);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<TKVRGB*>(bitmap->GetScanline(y));
        for (int x = 0; x < width; ++x) row[x] = color(x, y);
    }
    return bitmap;
}

std::unique_ptr<TKVBitmap> FromRgbImage(const TRgbImage& image) {
    return MakeRGB(image.width, image.height, [&](int x, int y) {
        const uint8_t* p = image.At(x, y);
        return TKVRGB{p[2], p[1], p[0]};
    });
}

void WritePpm(TKVBitmap& bitmap, const std::string& path) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    std::string data = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TKVRGB p = bitmap.GetPixelRGB(x, y);
            data += char(p.r);
            data += char(p.g);
            data += char(p.b);
        }
    WriteFile(path, data);
}

double Psnr(TKVBitmap& a, TKVBitmap& b) {
    double squares = 0;
    const int width = a.GetWidth(), height = a.GetHeight();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TKVRGB p = a.GetPixelRGB(x, y), q = b.GetPixelRGB(x, y);
            for (const double d : {double(p.r) - q.r, double(p.g) - q.g, double(p.b) - q.b}) squares += d * d;
        }
    const double mse = squares / (3.0 * width * height);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

bool SamePixels(TKVBitmap& a, TKVBitmap& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPixelFormat() != b.GetPixelFormat())
        return false;
    const size_t bytes = size_t((int64_t(a.GetWidth()) * a.GetBitCount() + 7) / 8);
    std::vector<uint8_t> row(bytes);
    for (int y = 0; y < a.GetHeight(); ++y) {
        std::memcpy(row.data(), a.GetScanline(y), bytes);
        if (std::memcmp(row.data(), b.GetScanline(y), bytes) != 0) return false;
    }
    return true;
}
