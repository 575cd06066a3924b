#include "packer/release.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "packer/files.h"
#include "fs/ascii.h"
#include "settings/xml_elements.h"

namespace packer {

namespace {

void ListInto(const std::string& root, const std::string& relative, ReleaseTree& tree) {
  std::vector<HostEntry> entries;
  if (!ListHostFolder(HostJoin(root, relative), entries)) {
    tree.problems.push_back((relative.empty() ? std::string(".") : relative) + ": cannot be read");
    return;
  }
  for (const HostEntry& entry : entries) {
    const std::string path = relative.empty() ? entry.name : relative + "\\" + entry.name;
    if (entry.name.find('\\') != std::string::npos) {
      tree.problems.push_back(path + ": a name holding '\\', which Windows takes for a folder separator");
    } else if (entry.isLink) {
      tree.problems.push_back(path + ": a link (the launcher moves links as they are; ship the real file)");
    } else {
      tree.entries.push_back({path, entry.isFolder});
      if (entry.isFolder) ListInto(root, path, tree);
    }
  }
}

// strtol in base 10 with 32-bit saturation, as the launcher converts x and y.
long ParseVersionNumber(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<long>(value);
}

}  // namespace

ReleaseTree ListRelease(const std::string& root) {
  ReleaseTree tree;
  ListInto(root, std::string(), tree);
  // A parent's path is a prefix of its children's: it sorts before them.
  std::sort(tree.entries.begin(), tree.entries.end(),
            [](const ReleaseEntry& a, const ReleaseEntry& b) { return a.path < b.path; });
  return tree;
}

std::string ToString(const Version& version) { return std::to_string(version.x) + "." + std::to_string(version.y); }

bool IsLater(const Version& candidate, const Version& than) {
  if (candidate.x != than.x) return candidate.x > than.x;
  return candidate.y > than.y;
}

std::optional<Version> ReadReleaseVersion(const std::string& root) {
  const auto elements = ReadTopLevelElements(HostJoin(root, "properties\\version.xml"));
  if (!elements) return std::nullopt;
  for (const XmlElement& element : *elements) {
    if (!EqualsIgnoringAsciiCase(element.name, "version")) continue;
    const auto x = FindAttribute(element, "x");
    const auto y = FindAttribute(element, "y");
    if (x && y) return Version{ParseVersionNumber(*x), ParseVersionNumber(*y)};
  }
  return std::nullopt;
}

std::string ReadReleaseSetting(const std::string& root, const std::string& key) {
  const auto elements = ReadTopLevelElements(HostJoin(root, "game.xml"));
  if (!elements) return std::string();
  for (const XmlElement& element : *elements) {
    if (!EqualsIgnoringAsciiCase(element.name, "settings")) continue;
    if (auto value = FindAttribute(element, key)) return *value;
  }
  return std::string();
}

}  // namespace packer
