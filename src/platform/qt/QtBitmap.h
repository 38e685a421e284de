#pragma once
// Conversions between the class library's bitmap and Qt's image.
#include "platform/Graphics.h"

class QImage;

// Paletted bitmaps become indexed images with their colour table; 15/16-bit become RGB16-family
// images; 24-bit RGB888 (byte order swapped); 32-bit ARGB32 when its alpha is defined, else RGB32
// with the reserved byte ignored.
QImage ToQImage(const TBitmap& bitmap);
// Indexed images keep their palette in pf1bit, pf4bit (up to 16 colours) or pf8bit; images with alpha become pf32bit
// (blue, green, red, alpha) with the alpha defined; every other image pf24bit.
void FromQImage(const QImage& image, TBitmap& bitmap);
