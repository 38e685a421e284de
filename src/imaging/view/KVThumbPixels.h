#pragma once
// Pictures of the image library to Qt images and back, for the thumbnail view's drawing.
#include <QImage>

class TKVBitmap;

// ARGB32 premultiplied; opaque unless withAlpha and the bitmap has an alpha channel.
QImage KVBitmapToImage(TKVBitmap& bitmap, bool withAlpha);
// A kv24RGB copy of the image, its alpha dropped.
void KVImageToBitmap(const QImage& image, TKVBitmap& bitmap);
