#pragma once
// What the user's locale says about paper, measurement and the 8-bit code page.

// The locale's paper size in millimetres, portrait; false when the locale does not say.
bool LocalePaperSize(int& widthMm, int& heightMm);
// 0 metric, 1 U.S.; -1 when the locale does not say.
int LocaleMeasurementSystem();
// The Windows code page for 8-bit text of the locale's language (1251 for Russian, ...);
// DefaultAnsiCodePage when the language has none of its own.
int AnsiCodePage();
