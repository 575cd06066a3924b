#include "fs/remove.h"

#include "fs/entry.h"
#include "fs/pinned_tree.h"
#include "fs/walk.h"

bool RemoveFileSafely(PinnedTree& tree, const std::string& path) {
  const EntryAttributes attributes = QueryEntry(path);
  if (attributes.Has(FILE_ATTRIBUTE_READONLY) && !attributes.IsLink() &&
      !tree.SetAttributes(path, attributes.bits & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    return false;
  }
  return tree.RemoveFileEntry(path);
}

namespace {

bool RemoveOne(PinnedTree& tree, const std::string& path, bool isFolder, bool isLink) {
  if (isFolder) return tree.RemoveEmptyFolder(path);
  return isLink ? tree.RemoveFileEntry(path) : RemoveFileSafely(tree, path);
}

}  // namespace

bool RemoveTreeSafely(PinnedTree& tree, const std::string& path) {
  const EntryAttributes attributes = QueryEntry(path);
  if (!attributes.Exists()) return true;
  bool removedAll = true;
  bool walked = true;
  if (attributes.IsRealFolder()) {
    // What the walk met is removed as it met it: a folder entered through
    // its pinned handle, never a path looked up again.
    walked = WalkTree(tree, path, WalkOrder::ContentsFirst, [&](const TreeEntry& entry) {
      if (!RemoveOne(tree, entry.path, entry.isFolder, entry.isLink)) removedAll = false;
      return true;
    });
  }
  const bool removedRoot = RemoveOne(tree, path, attributes.IsFolder(), attributes.IsLink());
  return walked && removedAll && removedRoot;
}
