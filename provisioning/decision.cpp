#include "provisioning/decision.h"

#include <shlwapi.h>

#include <optional>
#include <utility>

#include "fs/entry.h"
#include "fs/path.h"
#include "fs/walk.h"
#include "provisioning/version_file.h"

bool IsSavesFolderEmpty(const std::string& dataFolder) {
  // A saves path too long to name is no reason to copy anything.
  const OptionalPath saves = JoinPath(dataFolder, "saves");
  if (!saves) return false;
  if (!EntryExists(*saves)) return true;
  // A saves folder that cannot be listed to its end may hold saves.
  return ForEachEntry(*saves, [](const FolderEntry&) { return false; }) == Listing::Complete;
}

bool IsInstallNewer(const std::string& installFolder, const std::string& dataFolder) {
  const OptionalPath installFile = JoinPath(installFolder, kVersionFile);
  const OptionalPath dataFile = JoinPath(dataFolder, kVersionFile);
  if (!installFile || !dataFile) return false;
  if (!PathFileExistsA(installFile->c_str())) return false;
  const std::optional<VersionPair> install = ReadVersionFile(*installFile);
  if (!install) return false;
  if (!PathFileExistsA(dataFile->c_str())) return true;
  const std::optional<VersionPair> data = ReadVersionFile(*dataFile);
  if (!data) return false;
  return IsNewerVersion(*install, *data);
}

namespace {

// Both folders' versions, when both version files can be read.
std::optional<std::pair<VersionPair, VersionPair>> ReadBothVersions(const std::string& installFolder,
                                                                    const std::string& dataFolder) {
  const OptionalPath installFile = JoinPath(installFolder, kVersionFile);
  const OptionalPath dataFile = JoinPath(dataFolder, kVersionFile);
  if (!installFile || !dataFile) return std::nullopt;
  const std::optional<VersionPair> install = ReadVersionFile(*installFile);
  const std::optional<VersionPair> data = ReadVersionFile(*dataFile);
  if (!install || !data) return std::nullopt;
  return std::make_pair(*install, *data);
}

}  // namespace

bool IsDataFolderNewer(const std::string& installFolder, const std::string& dataFolder) {
  const auto versions = ReadBothVersions(installFolder, dataFolder);
  return versions && IsNewerVersion(versions->second, versions->first);
}

bool IsSameVersion(const std::string& installFolder, const std::string& dataFolder) {
  const auto versions = ReadBothVersions(installFolder, dataFolder);
  return versions && !IsNewerVersion(versions->first, versions->second) &&
         !IsNewerVersion(versions->second, versions->first);
}

bool DataFolderHoldsGame(const std::string& installFolder, const std::string& dataFolder) {
  const OptionalPath module = JoinPath(dataFolder, "game.dll");
  const OptionalPath dataFile = JoinPath(dataFolder, kVersionFile);
  const OptionalPath installFile = JoinPath(installFolder, kVersionFile);
  if (!module || !dataFile || !installFile || !PathFileExistsA(module->c_str())) return false;
  return PathFileExistsA(dataFile->c_str()) || !PathFileExistsA(installFile->c_str());
}

bool IsGameModuleMissing(const std::string& dataFolder) {
  const OptionalPath module = JoinPath(dataFolder, "game.dll");
  return module && !EntryExists(*module);
}
