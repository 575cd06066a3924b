#pragma once
// The one folder listing every pass uses, and the one tree walk every
// recursive pass uses, both through a PinnedTree's handles.

#include <functional>
#include <string>

#include "fs/path.h"

class PinnedTree;

struct FolderEntry {
  std::string name;
  bool isFolder = false;
  bool isLink = false;  // a junction or symbolic link (reparse point)
  bool isReadOnly = false;
  unsigned long attributes = 0;
  unsigned long long size = 0;  // a file's, as the listing saw it

  // Entered by a recursive pass: a link is never followed, so a planted one
  // cannot lead a pass out of its tree or round in a loop.
  bool IsRealFolder() const { return isFolder && !isLink; }
};

enum class Listing {
  Complete,  // every entry was visited
  Stopped,   // `visit` asked to stop
  Failed,    // the folder could not be listed to its end, or held a name
             // no path of the launcher's can spell
};

// Calls `visit` for every entry of the real folder `folder` (a name of the
// tree's, empty for its home) except "." and "..", in the order the platform
// returns them, until `visit` returns false.
[[nodiscard]] Listing ForEachEntry(PinnedTree& tree, const std::string& folder,
                                   const std::function<bool(const FolderEntry&)>& visit);
// The same for a folder taken as it is named.
[[nodiscard]] Listing ForEachEntry(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit);

// An entry met by WalkTree.
struct TreeEntry : FolderEntry {
  std::string path;      // the tree's name of it
  std::string relative;  // relative to the root
  std::string target;    // the same relative path below the mirror root, if one was given
};

enum class WalkOrder {
  ParentsFirst,   // a folder is visited before what it holds
  ContentsFirst,  // a folder is visited after what it holds
};

// Visits every entry below the tree's folder `root`, entering each real folder when the walk
// meets it, until `visit` returns false. An entry whose path (or target
// below `mirror`) does not fit is never visited: nothing may act on it. True
// when the walk was complete: every folder listed to its end, every entry
// visited.
[[nodiscard]] bool WalkTree(PinnedTree& tree, const std::string& root, WalkOrder order,
                            const std::function<bool(const TreeEntry&)>& visit,
                            const OptionalPath& mirror = std::nullopt);
