#pragma once
// UTF-8 text to and from the Windows code pages 874, 932 and 1250 to 1258.
#include <string>
#include <string_view>

constexpr int DefaultAnsiCodePage = 1252;

bool IsCodePageSupported(int codePage);
// Raises ECodePageError naming the first character the code page cannot hold.
std::string Utf8ToCodePage(std::string_view utf8, int codePage);
// Raises ECodePageError for bytes that are not text of the code page.
std::string CodePageToUtf8(std::string_view bytes, int codePage);
