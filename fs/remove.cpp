#include "fs/remove.h"

#include "fs/entry.h"
#include "fs/pinned_tree.h"
#include "fs/walk.h"

bool RemoveFileSafely(PinnedTree& tree, const std::string& name) {
  const EntryAttributes attributes = tree.Query(name);
  if (attributes.Has(FILE_ATTRIBUTE_READONLY) && !attributes.IsLink() &&
      !tree.SetAttributes(name, attributes.bits & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    return false;
  }
  return tree.RemoveFileEntry(name);
}

namespace {

bool RemoveOne(PinnedTree& tree, const std::string& name, bool isFolder, bool isLink) {
  if (isFolder) return tree.RemoveEmptyFolder(name);
  return isLink ? tree.RemoveFileEntry(name) : RemoveFileSafely(tree, name);
}

}  // namespace

bool RemoveTreeSafely(PinnedTree& tree, const std::string& name) {
  const EntryAttributes attributes = tree.Query(name);
  if (!attributes.Exists()) return true;
  bool removedAll = true;
  bool walked = true;
  if (attributes.IsRealFolder()) {
    // What the walk met is removed as it met it: a folder entered through
    // its pinned handle, never a path looked up again.
    walked = WalkTree(tree, name, WalkOrder::ContentsFirst, [&](const TreeEntry& entry) {
      if (!RemoveOne(tree, entry.path, entry.isFolder, entry.isLink)) removedAll = false;
      return true;
    });
  }
  const bool removedRoot = RemoveOne(tree, name, attributes.IsFolder(), attributes.IsLink());
  return walked && removedAll && removedRoot;
}
