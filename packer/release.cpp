#include "packer/release.h"

#include <algorithm>

#include "packer/files.h"
#include "rules/config_files.h"

namespace packer {

namespace {

std::optional<std::vector<XmlElement>> ReadReleaseXml(const std::string& path) {
  // Read as the launcher reads it: the size limit on the file's bytes.
  std::optional<std::string> content = ReadHostFile(path, kMaxXmlFileBytes);
  if (!content) return std::nullopt;
  return ParseTopLevelElements(std::move(*content));
}

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
    } else if (entry.kind == EntryKind::Link) {
      tree.problems.push_back(path + ": a link (the launcher moves links as they are; ship the real file)");
    } else if (entry.kind == EntryKind::Other || entry.kind == EntryKind::Missing) {
      tree.problems.push_back(path + ": neither a plain file nor a folder (a FIFO, socket or device)");
    } else {
      tree.entries.push_back({path, entry.IsFolder()});
      if (entry.IsFolder()) ListInto(root, path, tree);
    }
  }
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

bool IsLater(const Version& candidate, const Version& than) { return rules::IsLaterVersion(candidate, than); }

std::optional<Version> ReadReleaseVersion(const std::string& root) {
  const auto elements = ReadReleaseXml(HostJoin(root, RUNGAME_VERSION_FILE));
  if (!elements) return std::nullopt;
  return rules::FindVersion(*elements);
}

std::string ReadReleaseSetting(const std::string& root, const std::string& key) {
  const auto elements = ReadReleaseXml(HostJoin(root, rules::kSettingsFile));
  return elements ? FindSetting(*elements, key) : std::string();
}

}  // namespace packer
