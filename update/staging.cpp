#include "update/staging.h"

#include <windows.h>
#include <shlwapi.h>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/entry.h"
#include "fs/pinned_tree.h"
#include "fs/shell_ops.h"
#include "rules/rules.h"

const char kStagingFolderName[] = RUNGAME_STAGING_FOLDER;

OptionalPath StagingFolderOf(const std::string& dataFolder) { return JoinPath(dataFolder, kStagingFolderName); }

bool IsMarkerEntry(const std::string& relative, bool isFolder, const std::string& markerName) {
  if (isFolder || !rules::IsPlainMarkerName(markerName)) return false;
  return relative.find('\\') == std::string::npos && EqualsIgnoringAsciiCase(relative, markerName);
}

bool DisposeEntry(PinnedTree& tree, const std::string& path) {
  const EntryAttributes attributes = QueryEntry(path);
  if (!attributes.Exists()) return false;
  // A link: only the link goes, never what it points to.
  if (attributes.IsLink()) {
    return attributes.IsFolder() ? tree.RemoveEmptyFolder(path) : tree.RemoveFileEntry(path, nullptr);
  }
  // The shell moves the entry whole, by its path: it must not be held open
  // here, and the folder above must still be the one the tree holds, checked
  // as the last step before the shell's.
  if (!ReachFaultPoint("shell operation", path)) return false;
  tree.Release(path);
  const std::string above = path.substr(0, path.find_last_of('\\'));
  const HANDLE folder = tree.Folder(above);
  if (!folder || (tree.HoldsHandles() && !tree.StillLeadsTo(folder, above))) return false;
  return ShellDelete(path) == 0;
}

bool DiscardStagingFolder(PinnedTree& tree, const std::string& stagingFolder) {
  // An empty path would name the working folder itself.
  if (stagingFolder.empty()) return false;
  OptionalPath path = stagingFolder;
  if (PathIsRelativeA(stagingFolder.c_str())) path = JoinPath(GetWorkingFolder(), stagingFolder);
  if (!path || !EqualsIgnoringAsciiCase(PathFindFileNameA(path->c_str()), kStagingFolderName)) return false;
  return DisposeEntry(tree, *path);
}
