#pragma once
// The application's texts for the utility library's numbered errors, and the small helpers that
// the source list and its sorting use.
#include <cstdint>
#include <string>

// The text of a message id, empty for an id the catalogue does not hold; "//" marks a line break.
std::string GetCatalogueText(uint16_t id);
// "1 KB" up to 1024 KB, then "1.5 MB"; 0 KB for a file that cannot be read.
std::string FileSizeText(const std::string& fileName);
// 0 when equal, -sign when a comes first, else sign.
int CompareInts(int64_t a, int64_t b, int sign);
// As CompareInts, on the upper-case forms of the texts, byte by byte.
int CompareUpperTexts(const std::string& a, const std::string& b, int sign);
