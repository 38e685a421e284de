#pragma once
// The program's debug log, where a fault that no caller can hear of is told to a developer: a
// line on the error stream.
#include <string>

void OutputDebugText(const std::string& text);
