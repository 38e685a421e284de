#pragma once
// The engine's settings in the program's settings file, under the key that stands in for the
// registry key named after the executable. A bad value keeps its default; none stops start-up.
#include <memory>
#include <string>

class TConverter;
class TFont;
class TRegistry;

// The caption sizes in points that the font dialog takes; a font of another size is not read.
inline constexpr int MinCaptionPoints = 1, MaxCaptionPoints = 72;

// The settings file opened at the program's key, created when missing.
std::unique_ptr<TRegistry> OpenSettingsKey();
// A file that must be kept aside before the settings replace it is named in a box (the standard
// error stream without a display), with where it is kept and what settings are used.
void LoadSettings(TConverter& converter);
// Writes every value; raises when the file cannot be written.
void SaveSettings(TConverter& converter);

// "Arial,10,Black,Bold": name, size in points, colour name without "cl" (or "$00BBGGRR" for a
// colour without a name), then the styles.
std::string FontToText(const TFont& font);
// Fewer than three fields only clear the style; a field that cannot be read, or a size outside the
// caption sizes, leaves the font as it was.
void ReadFontText(const std::string& text, TFont& font);
