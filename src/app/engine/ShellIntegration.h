#pragma once
// The program's entry in the file manager's menus: a desktop entry with open actions, which
// stands in for the shell's context-menu extension. "Integrated" means the entry is installed in
// the user's applications folder.
#include <string>

// The entry shipped beside the executable.
std::string ShellExtensionPath();
bool IsExplorerIntegrated();
// Installs or removes the entry; nothing happens when it is already as wished.
void SetExplorerIntegration(bool integrate);
