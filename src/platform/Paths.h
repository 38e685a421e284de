#pragma once
// Folders of the system and of the user.
#include <string>

// TMPDIR when set, else /tmp; no trailing slash.
std::string TempDirectory();
std::string HomeDirectory();
// XDG_CONFIG_HOME, else ~/.config.
std::string ConfigHome();
// XDG_DATA_HOME, else ~/.local/share.
std::string DataHome();
// The full path of the program: the running executable's, or the one SetProgramPath gave. Its
// name keys the settings; desktop entries start it.
std::string ExecutablePath();
// The folder of the program.
std::string ExecutableFolder();
// For an executable that is a part of another program: that program's path stands for its own.
void SetProgramPath(const std::string& path);
// Creates the folder and its missing parents; raises EInOutError on failure.
void ForceDirectories(const std::string& folder);
