#include "update/staging.h"

#include <windows.h>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/entry.h"
#include "fs/pinned_tree.h"
#include "fs/shell_ops.h"
#include "rules/rules.h"

const char kStagingFolderName[] = RUNGAME_STAGING_FOLDER;

bool IsMarkerEntry(const std::string& relative, bool isFolder, const std::string& markerName) {
  if (isFolder || !rules::IsPlainMarkerName(markerName)) return false;
  return relative.find('\\') == std::string::npos && EqualsIgnoringAsciiCase(relative, markerName);
}

bool DisposeEntry(PinnedTree& tree, const std::string& name) {
  const OptionalPath path = tree.PathOf(name);
  // The home itself is never disposed of.
  if (!path || name.find_first_not_of("\\/") == std::string::npos) return false;
  const EntryAttributes attributes = tree.Query(name);
  if (!attributes.Exists()) return false;
  // A link: only the link goes, never what it points to.
  if (attributes.IsLink()) {
    return attributes.IsFolder() ? tree.RemoveEmptyFolder(name) : tree.RemoveFileEntry(name, nullptr);
  }
  // The shell moves the entry whole, by its path: it must not be held open
  // here, and the folder above must still be the one the tree holds, checked
  // as the last step before the shell's.
  if (!ReachFaultPoint("shell operation", *path)) return false;
  tree.Release(name);
  const std::size_t slash = name.find_last_of('\\');
  const std::string above = slash == std::string::npos ? std::string() : name.substr(0, slash);
  const HANDLE folder = tree.Folder(above);
  if (!folder || (tree.HoldsHandles() && !tree.StillLeadsTo(folder, above))) return false;
  return ShellDelete(*path) == 0;
}

bool DiscardStagingFolder(PinnedTree& tree) { return DisposeEntry(tree, kStagingFolderName); }
