#pragma once
// What the launcher does with a staging folder, modelled on trees in memory:
// the same name rules and the same unpacking code, with Windows' names that
// differ only in letter case naming one entry. The packer's dry run and its
// tests use it; the launcher under Wine is the reference it is tested against.

#include <map>
#include <string>
#include <vector>

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
// to an entry is an entry too.
using Tree = std::map<std::string, Node, FoldedLess>;

enum class UnpackOrder { Forward, Backward };

struct LauncherOutcome {
  Tree data;                       // the data folder afterwards
  std::vector<std::string> steps;  // what happened, in order, for people
  bool installed = false;          // the marker was there: the update was applied
  bool complete = false;           // every entry unpacked and moved
};

// Applies `staging` to `data` as the launcher's update pass does, with
// `marker` the update_semaphore. The launcher's unpacking order is the
// order its folder walk returns, which Windows does not fix: `order` picks
// one of two, so a test can check that the outcome does not depend on it.
LauncherOutcome ApplyLikeLauncher(const Tree& staging, const Tree& data, const std::string& marker,
                                  UnpackOrder order = UnpackOrder::Forward);

// The tree of a folder on disk. Without contents only names and kinds are
// read (enough to tell a replacement from an addition).
[[nodiscard]] bool ReadHostTree(const std::string& root, bool withContents, Tree& tree, std::string& error);

}  // namespace packer
