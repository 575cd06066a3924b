#include <windows.h>

#include "fs/path.h"
#include "fs/path_list.h"
#include "fs/shell_ops.h"
#include "fs/walk.h"
#include "provisioning/provisioning.h"

bool CopyWouldFollowLink(const std::string& source, const std::string& destination) {
  bool followsLink = false;
  ForEachEntry(source, [&](const FolderEntry& entry) {
    const OptionalPath target = JoinPath(destination, entry.name);
    const OptionalPath from = JoinPath(source, entry.name);
    if (!target || !from) return true;  // the copy itself fails on such a name
    const DWORD attributes = GetFileAttributesA(target->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      followsLink = true;
      return false;
    }
    if (entry.isFolder && !entry.isLink && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      followsLink = CopyWouldFollowLink(*from, *target);
    }
    return !followsLink;
  });
  return followsLink;
}

int CopyInstallToDataFolder(const std::string& dataFolder) {
  const OptionalPath source = GetWorkingFolder();
  if (!source) return 1;
  const OptionalPath launcherName = GetLauncherFileName();
  PathList sources;
  bool joined = true;
  const bool walked = ForEachEntry(*source, [&](const FolderEntry& entry) {
    // Exact bytes: the launcher started under another spelling of its name
    // is copied like any other file.
    if (launcherName && entry.name == *launcherName) return true;
    const OptionalPath path = JoinPath(*source, entry.name);
    if (!path) {
      joined = false;
      return false;
    }
    sources.push_back(*path);
    return true;
  });
  // A partial copy must not pass for a complete one.
  if (!walked || !joined) return 1;
  if (CopyWouldFollowLink(*source, dataFolder)) return 1;
  return ShellTransfer(ShellOperation::Copy, sources, dataFolder);
}
