#include <shlwapi.h>

#include "fs/path.h"
#include "fs/walk.h"
#include "provisioning/provisioning.h"

bool IsSavesFolderEmpty(const std::string& dataFolder) {
  // A saves path too long to name is no reason to copy anything.
  const OptionalPath saves = JoinPath(dataFolder, "saves");
  if (!saves) return false;
  bool found = false;
  ForEachEntry(*saves, [&found](const FolderEntry&) {
    found = true;
    return false;
  });
  return !found;
}

bool IsInstallNewer(const std::string& dataFolder) {
  // Relative on purpose: the working folder is still the install folder.
  const OptionalPath dataFile = JoinPath(dataFolder, kVersionFile);
  if (!dataFile) return false;
  if (!PathFileExistsA(kVersionFile)) return false;
  const std::optional<VersionPair> install = ReadVersionFile(kVersionFile);
  if (!install) return false;
  if (!PathFileExistsA(dataFile->c_str())) return true;
  const std::optional<VersionPair> data = ReadVersionFile(*dataFile);
  if (!data) return false;
  return IsNewerVersion(*install, *data);
}

bool DataFolderHoldsGame(const std::string& dataFolder) {
  const OptionalPath module = JoinPath(dataFolder, "game.dll");
  const OptionalPath dataFile = JoinPath(dataFolder, kVersionFile);
  if (!module || !dataFile || !PathFileExistsA(module->c_str())) return false;
  return PathFileExistsA(dataFile->c_str()) || !PathFileExistsA(kVersionFile);
}
