#include "provisioning/decision.h"

#include <optional>
#include <utility>

#include "fs/entry.h"
#include "fs/path.h"
#include "fs/pinned_tree.h"
#include "fs/walk.h"
#include "provisioning/version_file.h"

namespace {

const char kGameModule[] = "game.dll";

// The data folder's version, read by its path: it is only read, and any
// account could have written it.
std::optional<VersionPair> DataVersion(const PinnedTree& tree) {
  const OptionalPath file = tree.PathOf(kVersionFile);
  return file ? ReadVersionFile(*file) : std::nullopt;
}

std::optional<VersionPair> InstallVersion(const std::string& installFolder) {
  const OptionalPath file = JoinPath(installFolder, kVersionFile);
  return file ? ReadVersionFile(*file) : std::nullopt;
}

bool InstallHasVersionFile(const std::string& installFolder) {
  const OptionalPath file = JoinPath(installFolder, kVersionFile);
  return file && EntryExists(*file);
}

// Both folders' versions, when both version files can be read.
std::optional<std::pair<VersionPair, VersionPair>> ReadBothVersions(const std::string& installFolder,
                                                                    const PinnedTree& tree) {
  const std::optional<VersionPair> install = InstallVersion(installFolder);
  const std::optional<VersionPair> data = DataVersion(tree);
  if (!install || !data) return std::nullopt;
  return std::make_pair(*install, *data);
}

}  // namespace

bool IsSavesFolderEmpty(PinnedTree& tree) {
  // A saves path too long to name is no reason to copy anything.
  if (!tree.PathOf("saves")) return false;
  if (!tree.Query("saves").Exists()) return true;
  // A saves folder that cannot be listed to its end may hold saves.
  return ForEachEntry(tree, "saves", [](const FolderEntry&) { return false; }) == Listing::Complete;
}

bool IsInstallNewer(const std::string& installFolder, const PinnedTree& tree) {
  if (!InstallHasVersionFile(installFolder)) return false;
  const std::optional<VersionPair> install = InstallVersion(installFolder);
  if (!install) return false;
  if (!tree.Query(kVersionFile).Exists()) return tree.PathOf(kVersionFile).has_value();
  const std::optional<VersionPair> data = DataVersion(tree);
  return data && IsNewerVersion(*install, *data);
}

bool IsDataFolderNewer(const std::string& installFolder, const PinnedTree& tree) {
  const auto versions = ReadBothVersions(installFolder, tree);
  return versions && IsNewerVersion(versions->second, versions->first);
}

bool IsSameVersion(const std::string& installFolder, const PinnedTree& tree) {
  const auto versions = ReadBothVersions(installFolder, tree);
  return versions && !IsNewerVersion(versions->first, versions->second) &&
         !IsNewerVersion(versions->second, versions->first);
}

bool DataFolderHoldsGame(const std::string& installFolder, const PinnedTree& tree) {
  if (!tree.Query(kGameModule).Exists()) return false;
  return tree.Query(kVersionFile).Exists() || !InstallHasVersionFile(installFolder);
}

bool IsGameModuleMissing(const PinnedTree& tree) {
  return tree.PathOf(kGameModule) && !tree.Query(kGameModule).Exists();
}
