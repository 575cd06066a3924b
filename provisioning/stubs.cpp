// Placeholder pass routines until the first-start pass lands.
#include "provisioning/provisioning.h"

const char* const kFirstStartWindowClass = "RunGameWindow";
std::optional<VersionPair> ReadVersionFile(const std::string&) { return std::nullopt; }
bool IsSavesFolderEmpty(const std::string&) { return false; }
bool IsInstallNewer(const std::string&) { return false; }
HWND ShowFirstStartWindow(HINSTANCE) { return nullptr; }
void CloseFirstStartWindow(HWND, HINSTANCE) {}
int CopyInstallToDataFolder(const std::string&) { return 1; }
void OpenUpAccess(const std::string&) {}
void ClearReadOnly(const std::string&) {}
