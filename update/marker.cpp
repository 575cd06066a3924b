#include <windows.h>

#include "fs/path.h"
#include "fs/walk.h"
#include "update/update.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Whether `folder` lists an entry named `name` (any letter case), and whether
// that entry is a real folder.
bool ListsEntry(const std::string& folder, const std::string& name, bool* isRealFolder) {
  bool found = false;
  ForEachEntry(folder, [&](const FolderEntry& entry) {
    if (lstrcmpiA(entry.name.c_str(), name.c_str()) != 0) return true;
    found = true;
    *isRealFolder = entry.isFolder && !entry.isLink;
    return false;
  });
  return found;
}

}  // namespace

bool StagedMarkerExists(const std::string& stagingFolder, const std::string& markerName) {
  if (!JoinPath(stagingFolder, markerName)) return false;
  // Each component must be an entry the folder above it lists: a device name
  // (CON, NUL, ...) or a wildcard would pass a plain existence test anywhere.
  std::string folder = stagingFolder;
  bool isRealFolder = IsFolder(stagingFolder) && !IsLink(stagingFolder);
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
