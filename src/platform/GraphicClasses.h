#pragma once
// Which graphic class loads a picture file of a given extension.
#include <functional>
#include <memory>
#include <string>

#include "Graphics.h"

// Makes an empty graphic of one class.
using TGraphicClass = std::function<std::unique_ptr<TGraphic>()>;

// The extension may carry its point and any letter case; a later registration replaces an
// earlier one. BMP, JPEG and icon files are registered from the start.
void RegisterGraphicClass(const std::string& extension, TGraphicClass graphicClass);
// Empty when no class is registered for the extension.
TGraphicClass GraphicClassForExtension(const std::string& extension);

// The extensions of metafiles, without their point: Qt draws them, and the Qt part registers
// their class.
inline constexpr const char* MetafileExtensions[] = {"wmf", "emf"};
