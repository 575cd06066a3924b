#include <windows.h>
#include <shlwapi.h>

#include <cstring>

#include "fs/path.h"
#include "fs/walk.h"
#include "update/update.h"

namespace {

// Exactly the lower-case ".zip" extension, after a name of at least one byte:
// a file named just ".zip" would unpack onto its own folder's path.
bool IsPackedName(const std::string& name) {
  const char* extension = PathFindExtensionA(name.c_str());
  return extension != name.c_str() && std::strcmp(extension, ".zip") == 0;
}

}  // namespace

void CollectPackedFiles(const std::string& folder, PathList& packed) {
  ForEachEntry(folder, [&](const FolderEntry& entry) {
    // A link is neither searched nor unpacked: its contents lie outside the
    // staging tree, and a loop of links would never end.
    if (entry.isLink) return true;
    const OptionalPath path = JoinPath(folder, entry.name);
    if (!path) return true;
    if (entry.isFolder) {
      CollectPackedFiles(*path, packed);
    } else if (IsPackedName(entry.name)) {
      packed.push_back(*path);
    }
    return true;
  });
}
