#include <windows.h>
#include <shlwapi.h>

#include "fs/path.h"
#include "fs/shell_ops.h"
#include "fs/walk.h"
#include "update/update.h"

namespace {

bool IsStagingFolderName(const std::string& path) {
  return lstrcmpiA(PathFindFileNameA(path.c_str()), "game") == 0;
}

}  // namespace

bool DiscardStagingFolder(const std::string& stagingFolder) {
  // An empty path would name the working folder itself.
  if (stagingFolder.empty()) return false;
  OptionalPath path = stagingFolder;
  if (PathIsRelativeA(stagingFolder.c_str())) path = JoinPath(GetWorkingFolder(), stagingFolder);
  if (!path || !IsStagingFolderName(*path)) return false;
  const DWORD attributes = GetFileAttributesA(path->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // A linked staging folder: only the link goes, never what it points to.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveDirectoryA(path->c_str()) != FALSE;
  return ShellDelete(*path) == 0;
}
