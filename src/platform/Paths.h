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
// The full path of the running executable.
std::string ExecutablePath();
// The folder of the running executable.
std::string ExecutableFolder();
// Creates the folder and its missing parents; raises EInOutError on failure.
void ForceDirectories(const std::string& folder);
