#pragma once
// What the core asks of the image views. The views themselves are built on this elsewhere.
#include "platform/Classes.h"

// Base of the image views.
class TKVView : public TObject {
public:
    // Store the view's resolution in dots per inch; 0 is ignored.
    virtual void SetDpiX(int dpi) = 0;
    virtual void SetDpiY(int dpi) = 0;
};

// The library-wide resolution given to pictures that carry none; the view library may change it
// at start.
extern int DefaultDpiX, DefaultDpiY;

// The screen's logical pixels per inch, as the view library reads them at start; 96 without a
// display.
extern int KVScreenDpiX, KVScreenDpiY;
