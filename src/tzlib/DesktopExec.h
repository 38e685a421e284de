#pragma once
// The command line of a desktop entry (its Exec key) as an argument list, by the quoting and
// field-code rules of the desktop entry format.
#include <string>
#include <vector>

struct TDesktopEntry {
    std::string fileName;  // the entry's file, for %k
    std::string exec;      // the Exec value with its string escapes resolved
    std::string name;      // for %c
    std::string icon;      // for %i
};

// The program and its fixed arguments: quotes resolved, %i, %c and %k expanded, "%%" printed as
// "%", the deprecated codes dropped, and every argument that would receive the document (%f, %F,
// %u, %U) left out. Empty when the line is malformed: an open quote or an unknown field code.
std::vector<std::string> ProgramArguments(const TDesktopEntry& entry);

// The program as the first word of an Exec value (before the file's string escapes): quoted when
// it holds a character the format reserves, with "%" doubled.
std::string ExecProgramWord(const std::string& program);
