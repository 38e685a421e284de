#pragma once
// What the book benchmarks and the open-count test share: pictures to make books of, the book made
// the way the program makes it, and work measured in a process of its own.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

std::string ShellQuoted(const std::string& text);

// count pictures of the size ("200x150") in the folder, pic0 to pic<count - 1>: eight different
// ones by ImageMagick, repeated under their own names; BMPs are 24-bit.
std::vector<std::string> MakePictures(const std::filesystem::path& folder, const std::string& extension, int count,
                                      const std::string& size);

// Each picture added with its header read, as the program adds it, then the book, named by the
// scripted answer; nobody is asked to look at it. False, with the engine's message on standard
// error, when the book fails.
bool MakeEngineBook(const std::vector<std::string>& pictures, const std::string& book);

struct TMeasure {
    bool ok = false;
    double seconds = 0;           // by the clock
    double processorSeconds = 0;  // user and system
    long peakKb = 0;
};

// The work in a child process, so that its time and peak memory are its own.
TMeasure InChild(const std::function<bool()>& work);
