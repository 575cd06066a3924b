#pragma once
// A folder on the build machine read into memory, its paths as the player's
// Windows matches them: names that differ only in ASCII letter case name one
// entry. The dry run, verify and the tests hold releases and data folders so.

#include <map>
#include <string>

namespace packer {

struct Node {
  bool isFolder = false;
  std::string content;
};

// Orders paths as Windows matches them: ASCII letters without regard to case.
struct FoldedLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// Release-relative paths ('\'-separated) to nodes; every folder on the way
// to an entry is an entry too. Parents sort before what they hold.
using Tree = std::map<std::string, Node, FoldedLess>;

// The tree of a folder on disk. Without contents only names and kinds are
// read (enough to tell a replacement from an addition).
[[nodiscard]] bool ReadHostTree(const std::string& root, bool withContents, Tree& tree, std::string& error);

}  // namespace packer
