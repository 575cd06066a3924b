#include <windows.h>

#include "fs/path.h"
#include "fs/path_list.h"
#include "fs/shell_ops.h"
#include "fs/walk.h"
#include "provisioning/provisioning.h"

const char kVersionFile[] = "properties\\version.xml";

namespace {

const char kPropertiesFolder[] = "properties";
const char kCommitSuffix[] = ".copying~launcher";

bool SameName(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

// The install folder's top-level entries but the launcher, with the version
// file held back: a properties folder that holds it is listed entry by entry
// in `properties` instead, all but the version file (`heldBack` says so).
bool ListCopySources(const std::string& source, PathList& topLevel, PathList& properties, bool& heldBack) {
  const OptionalPath launcherName = GetLauncherFileName();
  const OptionalPath versionFile = JoinPath(source, kVersionFile);
  const bool holdsVersion = versionFile && !IsFolder(*versionFile) && GetFileAttributesA(versionFile->c_str()) !=
                                                                          INVALID_FILE_ATTRIBUTES;
  bool joined = true;
  const bool walked = ForEachEntry(source, [&](const FolderEntry& entry) {
    // Exact bytes: the launcher started under another spelling of its name
    // is copied like any other file.
    if (launcherName && entry.name == *launcherName) return true;
    const OptionalPath path = JoinPath(source, entry.name);
    if (!path) return joined = false;
    if (holdsVersion && entry.isFolder && !entry.isLink && SameName(entry.name, kPropertiesFolder)) {
      heldBack = true;
      return joined = ForEachEntry(*path, [&](const FolderEntry& inner) {
        const OptionalPath innerPath = JoinPath(*path, inner.name);
        if (!innerPath) return joined = false;
        if (!SameName(inner.name, "version.xml")) properties.push_back(*innerPath);
        return true;
      }) && joined;
    }
    topLevel.push_back(*path);
    return true;
  });
  return walked && joined;
}

// The version file is the copy's commit point: it arrives last, whole (through
// a temporary file renamed over the old one), and only after everything else
// arrived complete, so an interrupted or failed copy still reads as older and
// is made again at the next start.
bool CommitVersionFile(const std::string& source, const std::string& dataFolder) {
  const OptionalPath from = JoinPath(source, kVersionFile);
  const OptionalPath to = JoinPath(dataFolder, kVersionFile);
  if (!from || !to) return false;
  if (GetFileAttributesA(from->c_str()) == INVALID_FILE_ATTRIBUTES || IsFolder(*from)) return true;
  const std::string temporary = *to + kCommitSuffix;
  if (temporary.size() >= MAX_PATH) return false;
  ClearReadOnlyAttribute(temporary);
  if (!CopyFileA(from->c_str(), temporary.c_str(), FALSE)) return false;
  ClearReadOnlyAttribute(temporary);
  ClearReadOnlyAttribute(*to);
  if (MoveFileExA(temporary.c_str(), to->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileA(temporary.c_str());
  return false;
}

}  // namespace

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
  PathList sources;
  PathList properties;
  bool heldBack = false;
  // A partial list must not pass for a complete copy.
  if (!ListCopySources(*source, sources, properties, heldBack)) return 1;
  if (CopyWouldFollowLink(*source, dataFolder)) return 1;
  int result = ShellTransfer(ShellOperation::Copy, sources, dataFolder);
  const OptionalPath dataProperties = JoinPath(dataFolder, kPropertiesFolder);
  if (!dataProperties) return 1;
  if (result == 0 && heldBack) {
    if (properties.empty()) {
      if (!IsFolder(*dataProperties)) CreateDirectoryA(dataProperties->c_str(), nullptr);
    } else {
      result = ShellTransfer(ShellOperation::Copy, properties, *dataProperties);
    }
  }
  // The shell copy's result says nothing of completeness (a full disk still
  // returns 0): what arrived decides.
  if (result == 0 && !IsCopyComplete(*source, dataFolder)) result = 1;
  if (result == 0 && !CommitVersionFile(*source, dataFolder)) result = 1;
  return result;
}
