#include "provisioning/install_copy.h"

#include <windows.h>

#include "fs/ascii.h"
#include "fs/path_list.h"
#include "fs/shell_ops.h"
#include "fs/walk.h"
#include "provisioning/version_file.h"

namespace {

const char kPropertiesFolder[] = "properties";
const char kCommitSuffix[] = ".copying~launcher";
constexpr unsigned long long kAllocationUnit = 4096;

unsigned long long RoundedUp(unsigned long long bytes) {
  return (bytes + kAllocationUnit - 1) / kAllocationUnit * kAllocationUnit;
}

// Whether `relative` is the launcher's executable at the top of the
// installation, or lies below an entry of that name. Exact bytes: the
// launcher started under another spelling of its name is copied like any
// other file.
bool IsLauncherEntry(const OptionalPath& launcherName, const std::string& relative) {
  return launcherName && relative.compare(0, launcherName->size(), *launcherName) == 0 &&
         (relative.size() == launcherName->size() || relative[launcherName->size()] == '\\');
}

// Visits every entry of the installation that the copy takes, parents
// before their contents, with `target` where the copy puts it. False when
// `visit` returned false or a path on either side does not fit.
bool ForEachInstallEntry(const std::string& installFolder, const std::string& dataFolder,
                         const std::function<bool(const TreeEntry&)>& visit) {
  const OptionalPath launcherName = GetLauncherFileName();
  return WalkTree(
      installFolder, WalkOrder::ParentsFirst,
      [&](const TreeEntry& entry) { return IsLauncherEntry(launcherName, entry.relative) || visit(entry); },
      dataFolder);
}

// Whether every entry of the installation but the version file arrived in
// `dataFolder`, each file with its full size.
bool IsCopyComplete(const std::string& installFolder, const std::string& dataFolder) {
  const OptionalPath commitFile = JoinPath(dataFolder, kVersionFile);
  return ForEachInstallEntry(installFolder, dataFolder, [&](const TreeEntry& entry) {
    if (entry.IsRealFolder()) return IsFolder(entry.target);
    if (commitFile && EqualsIgnoringAsciiCase(entry.target, *commitFile)) return true;
    if (entry.isLink) return EntryExists(entry.target);
    const std::optional<unsigned long long> copied = FileSize(entry.target);
    return copied && copied == FileSize(entry.path);
  });
}

// True when some entry of `dataFolder` that the copy would write to or
// through is a link.
bool CopyWouldFollowLink(const std::string& installFolder, const std::string& dataFolder) {
  bool followsLink = false;
  WalkTree(
      installFolder, WalkOrder::ParentsFirst,
      [&](const TreeEntry& entry) {
        followsLink = IsLink(entry.target);
        return !followsLink;
      },
      dataFolder);
  return followsLink;
}

// The install folder's top-level entries but the launcher, with the version
// file held back: a properties folder that holds it is listed entry by entry
// in `properties` instead, all but the version file (`heldBack` says so).
bool ListCopySources(const std::string& source, PathList& topLevel, PathList& properties, bool& heldBack) {
  const OptionalPath launcherName = GetLauncherFileName();
  const OptionalPath versionFile = JoinPath(source, kVersionFile);
  const bool holdsVersion = versionFile && EntryExists(*versionFile) && !IsFolder(*versionFile);
  bool joined = true;
  const bool walked = ForEachEntry(source, [&](const FolderEntry& entry) {
    if (IsLauncherEntry(launcherName, entry.name)) return true;
    const OptionalPath path = JoinPath(source, entry.name);
    if (!path) return joined = false;
    if (holdsVersion && entry.IsRealFolder() && EqualsIgnoringAsciiCase(entry.name, kPropertiesFolder)) {
      heldBack = true;
      return joined = ForEachEntry(*path, [&](const FolderEntry& inner) {
        const OptionalPath innerPath = JoinPath(*path, inner.name);
        if (!innerPath) return joined = false;
        if (!EqualsIgnoringAsciiCase(inner.name, "version.xml")) properties.push_back(*innerPath);
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
  if (!EntryExists(*from) || IsFolder(*from)) return true;
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

CopyCheck CheckInstallCopy(const std::string& installFolder, const std::string& dataFolder) {
  if (!IsFolder(dataFolder) && dataFolder.size() >= kMaxFolderPathLength) return CopyCheck::PathTooLong;
  bool fits = true;
  bool replaceable = true;
  unsigned long long needed = 0;
  const bool walked = ForEachInstallEntry(installFolder, dataFolder, [&](const TreeEntry& entry) {
    const EntryAttributes target = QueryEntry(entry.target);
    if (entry.IsRealFolder()) {
      if (!target.Exists()) {
        fits = entry.target.size() < kMaxFolderPathLength;
        needed += kAllocationUnit;
      }
      return fits;
    }
    const unsigned long long size = RoundedUp(FileSize(entry.path).value_or(0));
    if (!target.Exists()) {
      needed += size;
    } else if (!target.IsFolder()) {
      // Replaced in place: only growth takes space.
      const unsigned long long old = RoundedUp(FileSize(entry.target).value_or(0));
      if (size > old) needed += size - old;
      replaceable = replaceable && CanBeReplaced(entry.target);
    }
    return true;
  });
  // A name that does not fit on either side ends the walk early.
  if (!walked || !fits) return CopyCheck::PathTooLong;
  const std::optional<unsigned long long> available = FreeBytesAt(dataFolder);
  if (!replaceable || !available || *available < needed) return CopyCheck::Blocked;
  return CopyCheck::Ready;
}

int CopyInstallToDataFolder(const std::string& installFolder, const std::string& dataFolder) {
  PathList sources;
  PathList properties;
  bool heldBack = false;
  // A partial list must not pass for a complete copy.
  if (!ListCopySources(installFolder, sources, properties, heldBack)) return 1;
  if (CopyWouldFollowLink(installFolder, dataFolder)) return 1;
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
  if (result == 0 && !IsCopyComplete(installFolder, dataFolder)) result = 1;
  if (result == 0 && !CommitVersionFile(installFolder, dataFolder)) result = 1;
  return result;
}
