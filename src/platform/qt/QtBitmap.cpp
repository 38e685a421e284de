#include "QtBitmap.h"

#include <QImage>
#include <cstring>

QImage ToQImage(const TBitmap& bitmap) {
    const int width = bitmap.Width(), height = bitmap.Height();
    if (bitmap.Empty()) return {};
    const int bits = bitmap.BitCount();
    if (bits <= 8) {
        QImage image(width, height, bits == 1 ? QImage::Format_Mono : QImage::Format_Indexed8);
        QList<QRgb> table;
        for (const TPaletteEntry& e : bitmap.Palette()) table.push_back(qRgb(e.peRed, e.peGreen, e.peBlue));
        image.setColorTable(table);
        for (int y = 0; y < height; ++y) {
            const uint8_t* src = bitmap.ScanLine(y);
            uchar* dst = image.scanLine(y);
            if (bits == 1) std::memcpy(dst, src, size_t((width + 7) / 8));
            else if (bits == 8) std::memcpy(dst, src, size_t(width));
            else
                for (int x = 0; x < width; ++x) dst[x] = (x & 1) ? src[x >> 1] & 0xF : src[x >> 1] >> 4;
        }
        return image;
    }
    if (bits == 32 && bitmap.AlphaFormat() == TAlphaFormat::afDefined) {
        QImage image(width, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y) std::memcpy(image.scanLine(y), bitmap.ScanLine(y), size_t(width) * 4);
        return image;
    }
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const TColor c = bitmap.Pixel(x, y);
            dst[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
        }
    }
    return image;
}

void FromQImage(const QImage& image, TBitmap& bitmap) {
    TBitmap result;
    const int width = image.width(), height = image.height();
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_Indexed8) {
        const bool mono = image.format() == QImage::Format_Mono;
        const bool nibbles = !mono && image.colorCount() <= 16;
        result.SetPixelFormat(mono ? TPixelFormat::pf1bit : nibbles ? TPixelFormat::pf4bit : TPixelFormat::pf8bit);
        result.SetSize(width, height);
        std::vector<TPaletteEntry> palette;
        for (QRgb c : image.colorTable()) palette.push_back({uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)), 0});
        result.SetPalette(palette);
        for (int y = 0; y < height; ++y) {
            const uchar* src = image.constScanLine(y);
            uint8_t* dst = result.ScanLine(y);
            if (!nibbles) {
                std::memcpy(dst, src, size_t(mono ? (width + 7) / 8 : width));
                continue;
            }
            for (int x = 0; x < width; ++x)
                dst[x >> 1] = (x & 1) ? uint8_t(dst[x >> 1] | (src[x] & 0xF)) : uint8_t(src[x] << 4);
        }
    } else if (image.hasAlphaChannel()) {
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        result.SetPixelFormat(TPixelFormat::pf32bit);
        result.SetSize(width, height);
        for (int y = 0; y < height; ++y)  // ARGB32 is blue, green, red, alpha in memory on little-endian
            std::memcpy(result.ScanLine(y), argb.constScanLine(y), size_t(width) * 4);
        result.SetAlphaFormat(TAlphaFormat::afDefined);
    } else {
        const QImage rgb = image.convertToFormat(QImage::Format_BGR888);
        result.SetPixelFormat(TPixelFormat::pf24bit);
        result.SetSize(width, height);
        for (int y = 0; y < height; ++y) std::memcpy(result.ScanLine(y), rgb.constScanLine(y), size_t(width) * 3);
    }
    bitmap.Assign(std::move(result));
}
