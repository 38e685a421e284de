#include "platform/qt/QtBitmap.h"

int BitmapCount() { return FileCount(); }
