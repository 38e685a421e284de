#pragma once
// Warnings of the libraries below the utility library, such as a decoder that met damaged data and
// went on. The utility library sends them to its log by installing itself as the sink; without a
// sink they go to the error stream.
#include <string>

using TWarningSink = void (*)(const std::string& text);

void SetWarningSink(TWarningSink sink);
void Warn(const std::string& text);
