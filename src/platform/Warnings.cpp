#include "platform/Warnings.h"

#include <iostream>

namespace {

TWarningSink Sink = nullptr;

}  // namespace

void SetWarningSink(TWarningSink sink) { Sink = sink; }

void Warn(const std::string& text) {
    if (Sink)
        Sink(text);
    else
        std::cerr << "Warning: " << text << '\n';
}
