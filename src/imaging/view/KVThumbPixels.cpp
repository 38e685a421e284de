#include "imaging/view/KVThumbPixels.h"

#include <cstring>
#include <vector>

#include "imaging/core/KVBitmap.h"

QImage KVBitmapToImage(TKVBitmap& bitmap, bool withAlpha) {
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return image;
    TKVBitmap* alpha = withAlpha && bitmap.GetHasAlphaChannel() ? bitmap.GetAlphaChannel() : nullptr;
    const bool direct = bitmap.GetPixelFormat() == kv24RGB;
    TKVAccessScope reading(bitmap, kvaRead);
    std::vector<uint8_t> alphaRow(size_t(width), 255);
    for (int y = 0; y < height; ++y) {
        // A bitmap kept in a file holds one row at a time: copy the alpha row first.
        if (alpha) std::memcpy(alphaRow.data(), alpha->GetScanline(y), size_t(width));
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        const uint8_t* row = direct ? bitmap.GetScanline(y) : nullptr;
        for (int x = 0; x < width; ++x) {
            if (row) {
                out[x] = qRgba(row[3 * x + 2], row[3 * x + 1], row[3 * x], alphaRow[size_t(x)]);
            } else {
                const TKVRGB p = bitmap.GetPixelRGB(x, y);
                out[x] = qRgba(p.r, p.g, p.b, alphaRow[size_t(x)]);
            }
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void KVImageToBitmap(const QImage& image, TKVBitmap& bitmap) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    bitmap.Allocate(rgb.width(), rgb.height(), kv24RGB);
    TKVAccessScope writing(bitmap, kvaWrite);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < rgb.width(); ++x) {
            row[3 * x] = uint8_t(qBlue(in[x]));
            row[3 * x + 1] = uint8_t(qGreen(in[x]));
            row[3 * x + 2] = uint8_t(qRed(in[x]));
        }
    }
}
