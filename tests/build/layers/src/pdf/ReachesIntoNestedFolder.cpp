// The writer reaching the Qt side of the platform, which it does not link.
#include "platform/qt/QtBitmap.h"

int BitmapPages() { return BitmapCount(); }
