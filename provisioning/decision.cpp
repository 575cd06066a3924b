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
  const OptionalPath installFile = JoinPath("properties", "version.xml");
  if (!installFile) return false;
  const OptionalPath dataFile = JoinPath(dataFolder, *installFile);
  if (!dataFile) return false;
  if (!PathFileExistsA(installFile->c_str())) return false;
  if (!PathFileExistsA(dataFile->c_str())) return false;
  const std::optional<VersionPair> install = ReadVersionFile(*installFile);
  if (!install) return false;
  const std::optional<VersionPair> data = ReadVersionFile(*dataFile);
  if (!data) return false;
  return IsNewerVersion(*install, *data);
}
