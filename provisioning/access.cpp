#include "provisioning/access.h"

#include <windows.h>

#include "fs/entry.h"
#include "fs/pinned_tree.h"
#include "fs/walk.h"
#include "rules/rules.h"

namespace {

// The company folder is writable by everyone once opened up, so anyone may
// plant a junction, a symbolic link or a hard link in it: only plain entries
// are changed, each through a handle opened on it and checked.
bool OpenUpOne(PinnedTree& tree, const std::string& name) {
  const EntryAttributes attributes = tree.Query(name);
  bool opened = true;
  if (attributes.Has(FILE_ATTRIBUTE_READONLY) && !attributes.IsFolder() && !attributes.IsLink()) {
    opened = tree.SetAttributes(name, attributes.bits & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  return tree.OpenAccess(name) && opened;
}

}  // namespace

bool OpenUpAccess(PinnedTree& tree, const std::string& folder, const std::set<std::string>& madeOpen,
                  const WhileBusy& whileBusy) {
  if (!tree.Query(folder).IsRealFolder()) return false;
  bool openedAll = true;
  const bool walked = WalkTree(tree, folder, WalkOrder::ContentsFirst, [&](const TreeEntry& entry) {
    const bool skipped = entry.isLink || (!entry.isFolder && madeOpen.count(rules::FoldAsciiCase(entry.path)) != 0);
    if (!skipped && !OpenUpOne(tree, entry.path)) openedAll = false;
    whileBusy();
    return true;
  });
  return OpenUpOne(tree, folder) && openedAll && walked;
}
