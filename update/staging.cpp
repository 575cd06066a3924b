#include "update/staging.h"

#include <windows.h>
#include <shlwapi.h>

#include "fs/ascii.h"
#include "fs/shell_ops.h"
#include "fs/walk.h"

namespace {

const char kStagingFolderName[] = "game";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Whether `folder` lists an entry named `name` (any letter case), and whether
// that entry is a real folder.
bool ListsEntry(const std::string& folder, const std::string& name, bool* isRealFolder) {
  bool found = false;
  ForEachEntry(folder, [&](const FolderEntry& entry) {
    if (!EqualsIgnoringAsciiCase(entry.name, name)) return true;
    found = true;
    *isRealFolder = entry.IsRealFolder();
    return false;
  });
  return found;
}

}  // namespace

OptionalPath StagingFolderOf(const std::string& dataFolder) { return JoinPath(dataFolder, kStagingFolderName); }

bool StagedMarkerExists(const std::string& stagingFolder, const std::string& markerName) {
  if (!JoinPath(stagingFolder, markerName)) return false;
  // Each component must be an entry the folder above it lists: a device name
  // (CON, NUL, ...) or a wildcard would pass a plain existence test anywhere.
  std::string folder = stagingFolder;
  bool isRealFolder = QueryEntry(stagingFolder).IsRealFolder();
  size_t start = 0;
  while (start < markerName.size()) {
    size_t end = start;
    while (end < markerName.size() && !IsSeparator(markerName[end])) ++end;
    if (end > start) {
      const std::string name = markerName.substr(start, end - start);
      if (!isRealFolder || !ListsEntry(folder, name, &isRealFolder)) return false;
      folder = *JoinPath(folder, name);
    }
    start = end + 1;
  }
  // No component at all: the marker is the staging folder itself.
  return folder != stagingFolder || isRealFolder;
}

std::string MarkerEntryName(const std::string& markerName) {
  const size_t start = markerName.find_first_not_of("\\/");
  if (start == std::string::npos) return std::string();
  const size_t end = markerName.find_first_of("\\/", start);
  return markerName.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool DiscardStagingFolder(const std::string& stagingFolder) {
  // An empty path would name the working folder itself.
  if (stagingFolder.empty()) return false;
  OptionalPath path = stagingFolder;
  if (PathIsRelativeA(stagingFolder.c_str())) path = JoinPath(GetWorkingFolder(), stagingFolder);
  if (!path || !EqualsIgnoringAsciiCase(PathFindFileNameA(path->c_str()), kStagingFolderName)) return false;
  const EntryAttributes attributes = QueryEntry(*path);
  if (!attributes.Exists()) return false;
  // A linked staging folder: only the link goes, never what it points to.
  if (attributes.IsLink()) return RemoveDirectoryA(path->c_str()) != FALSE;
  return ShellDelete(*path) == 0;
}
