#pragma once
// The drawing engine behind the class library's canvas: Qt's painter on the bitmap's rows.

// Makes every TBitmap's canvas draw through Qt. Text needs the Qt application object.
void InstallQtCanvas();

class QFont;
class TFont;
// The class library's font as Qt draws it. Needs the Qt application object.
QFont ToQFont(const TFont& font);
