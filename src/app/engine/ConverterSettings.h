#pragma once
// The engine's settings in the program's settings file, under the key that stands in for the
// registry key named after the executable. A bad value keeps its default; none stops start-up.
#include <memory>
#include <string>

class TConverter;
class TFont;
class TRegistry;

// The settings file opened at the program's key, created when missing.
std::unique_ptr<TRegistry> OpenSettingsKey();
void LoadSettings(TConverter& converter);
// Writes every value; raises when the file cannot be written.
void SaveSettings(TConverter& converter);

// "Arial,10,Black,Bold": name, size in points, colour name without "cl" (or "$00BBGGRR" for a
// colour without a name), then the styles.
std::string FontToText(const TFont& font);
// Fewer than three fields only clear the style; a field that cannot be read leaves the font as it was.
void ReadFontText(const std::string& text, TFont& font);
