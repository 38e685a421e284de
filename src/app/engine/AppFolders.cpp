#include "app/engine/AppFolders.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Exception.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "tzlib/FileHelpers.h"

std::string PicDirectory;
std::string TempFolder;

void CreateTempFolder() {
    const std::string parent = TempDirectory();
    ForceDirectories(parent);
    // mkdtemp creates the folder with mode 0700 and a name nobody can foresee, so another user
    // can neither read the scans nor put anything in their place.
    std::string pattern = parent + "/Brelvant_Mordale-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        throw EInOutError("Cannot create a temporary folder in " + parent + ": " + std::strerror(errno));
    TempFolder = AddBackslash(name.data());
    RememberTempFolder(name.data());
}

bool IsInTempFolder(const std::string& path) { return IsPathInFolder(TempFolder, path); }

void DeleteTempFolder() {
    if (TempFolder.empty()) return;
    ForgetTempFolder();
    DeleteFolderTree(RemoveBackslash(TempFolder), false);
    TempFolder.clear();
}
