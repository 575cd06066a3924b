#include "launcher/launcher_main.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fs/change.h"
#include "fs/handles.h"
#include "fs/path.h"
#include "fs/pinned_tree.h"
#include "launcher/data_folder.h"
#include "launcher/dll_search.h"
#include "launcher/os_version.h"
#include "provisioning/access.h"
#include "provisioning/decision.h"
#include "provisioning/first_start_window.h"
#include "provisioning/install_copy.h"
#include "rules/rungame_rules.h"
#include "rungame.h"
#include "settings/settings.h"
#include "journal/journal.h"
#include "provisioning/version_file.h"
#include "update/signed_update.h"
#include "update/staging.h"
#include "update/update.h"

namespace {

const wchar_t kMutexName[] = L"Velmont Orrinby Kestrune 2";

// Where application-data mode may write: read once, from the install
// folder's game.xml at start. A game.xml in the data folder, which any
// account can write, never names a folder to copy into or open up.
struct AppDataSettings {
  OptionalPath root;
  std::string company, product, lang;
};

AppDataSettings ReadAppDataSettings() {
  AppDataSettings settings;
  settings.root = GetCommonAppDataFolder();
  settings.company = ReadSetting("company");
  settings.product = ReadSetting("product");
  settings.lang = ReadSetting("lang");
  return settings;
}

// Opens up the company folder and all it holds, but for `madeOpen` (folded
// names below the root). An entry that stays closed is only less shared: the
// game still runs. Its own tree, let go at once: what it pins below the
// data folder must not stay held while the data folder's tree changes it.
void OpenUpCompanyFolder(const AppDataSettings& settings, const std::set<std::string>& madeOpen = {},
                         const WhileBusy& whileBusy = {}) {
  PinnedTree levels(*settings.root);
  if (levels.Valid()) (void)OpenUpAccess(levels, settings.company, madeOpen, whileBusy);
}

// Fills the data folder, the home of `tree`, from the installation when it
// needs it. True when the game can run from it; false when it cannot be used
// or filled (the installation does not fit below it, a link is in the way,
// the copy failed), so the game runs from the install folder and a later
// start tries again.
// With `gameModuleFailed` (the data folder's game.dll did not load), a data
// folder of the installation's own version is refreshed from it as well.
bool ProvisionDataFolder(HINSTANCE instance, PinnedTree& levels, PinnedTree& tree, const std::string& installFolder,
                         const AppDataSettings& settings, const AppDataFolders& folders, bool gameModuleFailed) {
  // Work a stopped launcher left comes first; while it cannot be settled no
  // copy may run over it.
  const PendingOutcome pending = SettlePendingPlan(tree);
  if (pending.state == PendingState::Blocked) return DataFolderHoldsGame(installFolder, tree);
  if (pending.state == PendingState::Finished && pending.stagingName == kCopyStagingName) {
    OpenUpCompanyFolder(settings);
  }
  RemoveCopyLeftovers(tree);
  if (!IsSavesFolderEmpty(tree) && !IsInstallNewer(installFolder, tree) && !IsGameModuleMissing(tree) &&
      !(gameModuleFailed && IsSameVersion(installFolder, tree))) {
    return true;
  }
  // An update made the data folder newer: the older installation is never
  // copied over it, whatever else asks for a copy.
  if (IsDataFolderNewer(installFolder, tree)) return DataFolderHoldsGame(installFolder, tree);
  const std::optional<CopyPlan> plan = PlanInstallCopy(installFolder);
  if (!plan) return false;
  switch (CheckInstallCopy(tree, *plan)) {
    case CopyCheck::Unusable:
      return false;
    case CopyCheck::Blocked:
      return DataFolderHoldsGame(installFolder, tree);
    case CopyCheck::Ready:
      break;
  }
  if (!CheckDataFolderLevels(levels, settings.company, settings.product, settings.lang, true)) return false;
  FirstStartWindow window = ShowFirstStartWindow(instance);
  const WhileBusy answer = AnswerWhileBusy(window);
  const CopyOutcome copied = CopyInstallToDataFolder(tree, *plan, installFolder, answer);
  // The copy's files were made open and writable.
  if (copied == CopyOutcome::Copied) OpenUpCompanyFolder(settings, CopiedFiles(*plan, folders.belowRoot), answer);
  CloseFirstStartWindow(std::move(window));
  switch (copied) {
    case CopyOutcome::Copied:
      return true;
    case CopyOutcome::Deferred:
      return DataFolderHoldsGame(installFolder, tree);  // copied again at a later start
    case CopyOutcome::Failed:
      break;
  }
  return false;
}

// Whether the game runs from the data folder of application-data mode,
// filled when it needs it; false when the settings do not name a safe one
// or it cannot be used (then the game runs from the install folder and
// nothing there is touched).
bool PrepareAppDataFolder(HINSTANCE instance, const std::string& installFolder, const AppDataSettings& settings,
                          const AppDataFolders& folders, bool gameModuleFailed = false) {
  // Every level below the machine's folder is bound to what was checked
  // while the launcher works in it, and let go before the game runs.
  PinnedTree levels(*settings.root);
  PinnedTree tree(*settings.root, folders.belowRoot);
  if (!levels.Valid() || !tree.Valid() ||
      !CheckDataFolderLevels(levels, settings.company, settings.product, settings.lang, false)) {
    return false;
  }
  return ProvisionDataFolder(instance, levels, tree, installFolder, settings, folders, gameModuleFailed);
}

GameEntryFn FindGameEntry(HMODULE module) {
  if (!module) return nullptr;
  return reinterpret_cast<GameEntryFn>(reinterpret_cast<void*>(GetProcAddress(module, "RunGame")));
}

// The game module of `folder`, loaded, with its entry; no entry when it does
// not load or has none. `modules` holds what a keyed launcher checked
// against the folder's signed record, until the game is unloaded.
struct LoadedGame {
  ModuleCheck modules;
  LoadedModule loaded;
  GameEntryFn entry = nullptr;
};
// `checked`: the folder is the shared data folder, whose modules a keyed
// launcher loads only as the studio signed them; the install folder is
// only ever read, and taken as it is.
LoadedGame LoadGame(const DllSearch& search, const std::string& folder, bool checked) {
  LoadedGame game;
  const OptionalPath path = JoinPath(folder, "game.dll");
  if (!path) return game;
  if (checked) {
    const OptionalPath versionFile = JoinPath(folder, kVersionFile);
    const std::optional<VersionPair> version = versionFile ? ReadVersionFile(*versionFile) : std::nullopt;
    game.modules = CheckGameModules(folder, version ? std::optional<std::pair<long, long>>({version->x, version->y})
                                                    : std::nullopt);
    if (!game.modules.trusted) return game;
    // Only a fault point of the test build: the moment between the check
    // and the load, which the held modules keep closed.
    (void)ReachFaultPoint("load module", *path);
  } else {
    game.modules.trusted = true;
  }
  // The game's own DLLs are found beside game.dll in the data folder, not
  // beside the launcher in the install folder, so an update can replace them.
  game.loaded = LoadGameModule(search, *path, folder);
  game.entry = FindGameEntry(game.loaded.module.Get());
  return game;
}

// Unloads the game, then lets its modules go.
void Unload(LoadedGame& game) {
  game.entry = nullptr;
  game.loaded = LoadedModule();
  game.modules = ModuleCheck();
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
  const DllSearch dllSearch = RestrictDllSearch();
  std::string dataFolder = *installFolder;
  // Updates are installed where the game runs, except when application-data
  // mode fell back to the install folder: that one is only ever read then.
  bool installsUpdates = true;
  // The trusted folder above every change, and the data folder below it.
  std::string treeRoot = *installFolder;
  std::string treeHome;
  const bool appDataMode = SettingIsTrue(ReadSetting("use_app_data_folder")) && IsModernWindows();
  const AppDataSettings appDataSettings = appDataMode ? ReadAppDataSettings() : AppDataSettings();
  const std::optional<AppDataFolders> appDataFolders =
      appDataMode ? ComposeAppDataFolders(appDataSettings.root, appDataSettings.company, appDataSettings.product,
                                          appDataSettings.lang)
                  : std::nullopt;
  if (appDataMode) {
    if (appDataFolders && PrepareAppDataFolder(instance, *installFolder, appDataSettings, *appDataFolders)) {
      dataFolder = appDataFolders->dataFolder;
      treeRoot = *appDataSettings.root;
      treeHome = appDataFolders->belowRoot;
    } else {
      installsUpdates = false;
    }
  }

  // The helper's download and repair find the data folder here while the
  // game runs from the install folder.
  SetEnvironmentVariableA(RUNGAME_DATA_FOLDER_VARIABLE, installsUpdates ? dataFolder.c_str() : nullptr);
  for (;;) {
    // The marker's name is read in the working folder of this moment.
    if (installsUpdates) {
      PinnedTree tree(treeRoot, treeHome);
      PublishUpdateReport(tree.Valid() ? RunUpdatePass(tree, ReadSetting("update_semaphore"))
                                       : UpdateReport{UpdateReport::Blocked, dataFolder});
    } else {
      PublishUpdateReport(UpdateReport());
    }
    SetCurrentDirectoryA(dataFolder.c_str());
    const bool shared = dataFolder != *installFolder;
    LoadedGame game = LoadGame(dllSearch, dataFolder, shared);
    if (!game.entry && shared) {
      // The data folder's game.dll does not load (damaged, cut short, no
      // file), or a module is not as the studio signed it. What stands in a
      // module's place that no copy puts right goes to the Recycle Bin; then
      // the folder is refreshed from an installation of the same version.
      // Else the game runs from the install folder, which is only ever read,
      // and is told why; the next cycle, after the game staged a repair,
      // tries the data folder again.
      std::vector<std::string> strangers = ModulesOutOfPlace(dataFolder);
      strangers.insert(strangers.end(), game.modules.strangers.begin(), game.modules.strangers.end());
      Unload(game);  // before its files are replaced
      if (!strangers.empty()) {
        PinnedTree tree(treeRoot, treeHome);
        for (const std::string& name : strangers) (void)DisposeEntry(tree, name);
        game = LoadGame(dllSearch, dataFolder, true);
      }
      if (!game.entry) {
        Unload(game);
        if (PrepareAppDataFolder(instance, *installFolder, appDataSettings, *appDataFolders, true)) {
          game = LoadGame(dllSearch, dataFolder, true);
        }
      }
      if (!game.entry) {
        if (!game.modules.trusted) PublishUpdateReport(UpdateReport{UpdateReport::Damaged, game.modules.damaged});
        SetCurrentDirectoryA(installFolder->c_str());
        game = LoadGame(dllSearch, *installFolder, false);
      }
    }
    if (!game.entry) return 1;
    const int result = game.entry(game.loaded.module.Get(), previousInstance, commandLine, showCommand);
    Unload(game);
    if (result == 0) return 0;
  }
}
