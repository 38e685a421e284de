#include "imaging/core/KVViewServices.h"

#include "platform/Graphics.h"

int DefaultDpiX = 300, DefaultDpiY = 300;
int KVScreenDpiX = ScreenPixelsPerInch, KVScreenDpiY = ScreenPixelsPerInch;
