#include <windows.h>

#include "fs/path.h"
#include "fs/walk.h"
#include "provisioning/provisioning.h"

namespace {

constexpr unsigned long long kAllocationUnit = 4096;

unsigned long long RoundedUp(unsigned long long bytes) {
  return (bytes + kAllocationUnit - 1) / kAllocationUnit * kAllocationUnit;
}

std::optional<unsigned long long> FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

bool ForEachInstallEntry(const std::string& source, const std::string& destination,
                         const std::function<bool(const InstallEntry&)>& visit) {
  const OptionalPath launcherName = GetLauncherFileName();
  bool complete = true;
  std::function<bool(const std::string&, const std::string&, bool)> walk =
      [&](const std::string& from, const std::string& to, bool topLevel) {
        const bool walked = ForEachEntry(from, [&](const FolderEntry& entry) {
          // Exact bytes: the launcher started under another spelling of its
          // name is copied like any other file.
          if (topLevel && launcherName && entry.name == *launcherName) return true;
          const OptionalPath sourcePath = JoinPath(from, entry.name);
          const OptionalPath targetPath = JoinPath(to, entry.name);
          if (!sourcePath || !targetPath) {
            complete = false;
            return false;
          }
          const InstallEntry item{*sourcePath, *targetPath, entry.isFolder && !entry.isLink, entry.isLink};
          if (!visit(item)) {
            complete = false;
            return false;
          }
          // A link is copied, never searched: it could lead anywhere, or round.
          if (item.isFolder && !walk(item.source, item.target, false)) complete = false;
          return complete;
        });
        return walked && complete;
      };
  return walk(source, destination, true);
}

CopyCheck CheckInstallCopy(const std::string& dataFolder) {
  const OptionalPath source = GetWorkingFolder();
  if (!source) return CopyCheck::PathTooLong;
  if (!IsFolder(dataFolder) && dataFolder.size() >= kMaxFolderPathLength) return CopyCheck::PathTooLong;
  bool fits = true;
  bool replaceable = true;
  unsigned long long needed = 0;
  const bool walked = ForEachInstallEntry(*source, dataFolder, [&](const InstallEntry& entry) {
    const DWORD attributes = GetFileAttributesA(entry.target.c_str());
    if (entry.isFolder) {
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        fits = entry.target.size() < kMaxFolderPathLength;
        needed += kAllocationUnit;
      }
      return fits;
    }
    const unsigned long long size = RoundedUp(FileSize(entry.source).value_or(0));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      needed += size;
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
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

bool IsCopyComplete(const std::string& source, const std::string& dataFolder) {
  const OptionalPath commitFile = JoinPath(dataFolder, kVersionFile);
  return ForEachInstallEntry(source, dataFolder, [&](const InstallEntry& entry) {
    if (entry.isFolder) return IsFolder(entry.target);
    if (commitFile && lstrcmpiA(entry.target.c_str(), commitFile->c_str()) == 0) return true;
    if (entry.isLink) return GetFileAttributesA(entry.target.c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::optional<unsigned long long> copied = FileSize(entry.target);
    return copied && copied == FileSize(entry.source);
  });
}
