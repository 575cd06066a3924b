#include "launcher/launcher_main.h"

#include <optional>
#include <string>
#include <utility>

#include "fs/handles.h"
#include "fs/path.h"
#include "launcher/data_folder.h"
#include "launcher/os_version.h"
#include "provisioning/access.h"
#include "provisioning/decision.h"
#include "provisioning/first_start_window.h"
#include "provisioning/install_copy.h"
#include "rungame.h"
#include "settings/settings.h"
#include "update/update.h"

namespace {

const wchar_t kMutexName[] = L"Velmont Orrinby Kestrune 2";

struct AppDataSettings {
  OptionalPath root;
  std::string company, product, lang;
};

// Fills the data folder from the installation when it needs it. False when
// the game cannot run from the data folder: the installation does not fit
// below it, its levels cannot be made, or the copy cannot start (no space,
// a file in use) while it holds no game yet.
bool ProvisionDataFolder(HINSTANCE instance, const std::string& installFolder, const AppDataSettings& settings,
                         const AppDataFolders& folders) {
  if (!IsSavesFolderEmpty(folders.dataFolder) && !IsInstallNewer(installFolder, folders.dataFolder)) return true;
  switch (CheckInstallCopy(installFolder, folders.dataFolder)) {
    case CopyCheck::PathTooLong:
      return false;
    case CopyCheck::Blocked:
      return DataFolderHoldsGame(installFolder, folders.dataFolder);
    case CopyCheck::Ready:
      break;
  }
  if (!CheckDataFolderLevels(*settings.root, settings.company, settings.product, settings.lang, true)) return false;
  FirstStartWindow window = ShowFirstStartWindow(instance);
  if (CopyInstallToDataFolder(installFolder, folders.dataFolder) == 0) {
    OpenUpAccess(folders.companyFolder);
    ClearReadOnly(folders.companyFolder);
  }
  CloseFirstStartWindow(std::move(window));
  return true;
}

// The data folder of application-data mode, filled when it needs it; nullopt
// when the settings do not name a safe one or it cannot be filled (then the
// game runs from the install folder and nothing there is touched).
std::optional<std::string> PrepareAppDataFolder(HINSTANCE instance, const std::string& installFolder) {
  AppDataSettings settings;
  settings.root = GetCommonAppDataFolder();
  settings.company = ReadSetting("company");
  settings.product = ReadSetting("product");
  settings.lang = ReadSetting("lang");
  const auto folders = ComposeAppDataFolders(settings.root, settings.company, settings.product, settings.lang);
  if (!folders || !CheckDataFolderLevels(*settings.root, settings.company, settings.product, settings.lang, false) ||
      !ProvisionDataFolder(instance, installFolder, settings, *folders)) {
    return std::nullopt;
  }
  return folders->dataFolder;
}

GameEntryFn FindGameEntry(HMODULE module) {
  if (!module) return nullptr;
  return reinterpret_cast<GameEntryFn>(reinterpret_cast<void*>(GetProcAddress(module, "RunGame")));
}

}  // namespace

int LauncherMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand) {
  SetLastError(ERROR_SUCCESS);  // only ERROR_ALREADY_EXISTS after the call counts
  HANDLE mutexHandle = CreateMutexW(nullptr, TRUE, kMutexName);
  const DWORD mutexError = GetLastError();
  UniqueKernelHandle mutex(mutexHandle);
  if (mutexError == ERROR_ALREADY_EXISTS) return 0;

  // The install folder is the working folder at start, named once here: the
  // game may change the working folder, so every later path is absolute.
  const OptionalPath installFolder = GetWorkingFolder();
  if (!installFolder) return 1;
  std::string dataFolder = *installFolder;
  if (SettingIsTrue(ReadSetting("use_app_data_folder")) && IsModernWindows()) {
    if (auto appDataFolder = PrepareAppDataFolder(instance, *installFolder)) dataFolder = *appDataFolder;
  }
  const OptionalPath modulePath = JoinPath(dataFolder, "game.dll");
  if (!modulePath) return 1;

  for (;;) {
    // The marker's name is read in the working folder of this moment.
    RunUpdatePass(dataFolder, ReadSetting("update_semaphore"));
    SetCurrentDirectoryA(dataFolder.c_str());
    // The game's own DLLs are found beside game.dll in the data folder, not
    // beside the launcher in the install folder, so an update can replace them.
    UniqueModule module(LoadLibraryExA(modulePath->c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    const GameEntryFn entry = FindGameEntry(module.Get());
    if (!entry) return 1;
    const int result = entry(module.Get(), previousInstance, commandLine, showCommand);
    module.Reset();
    if (result == 0) return 0;
  }
}
