#include "app/engine/ShellIntegration.h"

#include "platform/Paths.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/SystemHelpers.h"

namespace {

constexpr const char* ExtensionName = "Mordale_ExplorerMenu.desktop";

std::string InstalledEntryPath() { return DataHome() + "/applications/" + ExtensionName; }

}  // namespace

std::string ShellExtensionPath() { return ExecutableFolder() + "/" + ExtensionName; }

bool IsExplorerIntegrated() { return FileExists(InstalledEntryPath()); }

void SetExplorerIntegration(bool integrate) {
    if (IsExplorerIntegrated() == integrate) return;
    RegisterComServer(ShellExtensionPath(), integrate);
}
