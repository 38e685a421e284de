#pragma once
// The literal string form of PDF shared by both document writers: the bytes in parentheses, with
// the parentheses, the backslash and the control characters that have a short escape escaped.
#include <string>
#include <string_view>

void AppendPdfLiteralString(std::string& out, std::string_view bytes);
