#include "fs/walk.h"

#include <windows.h>

#include "fs/pinned_tree.h"

Listing ForEachEntry(PinnedTree& tree, const std::string& folder,
                     const std::function<bool(const FolderEntry&)>& visit) {
  bool unspellable = false;
  const PinnedTree::ListEnd end = tree.List(folder, [&](const PinnedTree::Listed& listed) {
    if (!listed.representable) {
      unspellable = true;
      return true;
    }
    FolderEntry entry;
    entry.name = listed.name;
    entry.attributes = listed.attributes;
    entry.size = listed.size;
    entry.isFolder = (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isLink = (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.isReadOnly = (listed.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    return visit(entry);
  });
  switch (end) {
    case PinnedTree::ListEnd::Complete:
      return unspellable ? Listing::Failed : Listing::Complete;
    case PinnedTree::ListEnd::Stopped:
      return Listing::Stopped;
    case PinnedTree::ListEnd::Failed:
      break;
  }
  return Listing::Failed;
}

Listing ForEachEntry(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit) {
  PinnedTree tree(folder);
  return tree.Valid() ? ForEachEntry(tree, std::string(), visit) : Listing::Failed;
}

namespace {

struct TreeWalk {
  PinnedTree& tree;
  WalkOrder order;
  const std::function<bool(const TreeEntry&)>& visit;
  bool complete = true;
  bool stopped = false;

  void Below(const std::string& folder, const std::string& relative, const OptionalPath& target) {
    const Listing listing = ForEachEntry(tree, folder, [&](const FolderEntry& found) {
      TreeEntry entry;
      static_cast<FolderEntry&>(entry) = found;
      const OptionalPath path = JoinPath(folder, found.name);
      const OptionalPath relativePath = JoinPath(relative, found.name);
      const OptionalPath targetPath = target ? JoinPath(*target, found.name) : OptionalPath(std::string());
      if (!path || !relativePath || !targetPath) {
        complete = false;
        return true;
      }
      entry.path = *path;
      entry.relative = *relativePath;
      entry.target = *targetPath;
      if (order == WalkOrder::ParentsFirst && !visit(entry)) stopped = true;
      if (!stopped && entry.IsRealFolder()) Below(entry.path, entry.relative, target ? targetPath : target);
      if (!stopped && order == WalkOrder::ContentsFirst && !visit(entry)) stopped = true;
      return !stopped;
    });
    if (listing == Listing::Failed) complete = false;
  }
};

}  // namespace

bool WalkTree(PinnedTree& tree, const std::string& root, WalkOrder order,
              const std::function<bool(const TreeEntry&)>& visit, const OptionalPath& mirror) {
  TreeWalk walk{tree, order, visit};
  walk.Below(root, std::string(), mirror);
  return walk.complete && !walk.stopped;
}
