#include "packer/host_tree.h"

#include <algorithm>
#include <cstdio>

#include "packer/files.h"
#include "packer/release.h"
#include "rules/rungame_rules.h"

namespace packer {

bool FoldedLess::operator()(const std::string& a, const std::string& b) const {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(rungame_ascii_lower(a[i]));
    const auto y = static_cast<unsigned char>(rungame_ascii_lower(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool ReadHostTree(const std::string& root, bool withContents, Tree& tree, std::string& error) {
  const ReleaseTree listed = ListRelease(root);
  if (!listed.problems.empty()) {
    error = listed.problems.front();
    return false;
  }
  for (const ReleaseEntry& entry : listed.entries) {
    Node node;
    node.isFolder = entry.isFolder;
    if (!entry.isFolder && withContents) {
      HostFile file = OpenHostFile(HostJoin(root, entry.path), "rb");
      if (!file) {
        error = entry.path + ": cannot be read";
        return false;
      }
      char buffer[65536];
      std::size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, file.Get())) > 0) node.content.append(buffer, got);
      if (std::ferror(file.Get())) {
        error = entry.path + ": cannot be read";
        return false;
      }
    }
    tree[entry.path] = node;
  }
  return true;
}

}  // namespace packer
