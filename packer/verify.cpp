#include "packer/verify.h"

#include <set>

#include "packer/files.h"
#include "packer/names.h"
#include "packer/release.h"
#include "packer/sha256.h"
#include "rules/rules.h"

namespace packer {

namespace {

// The folder as its listing and the files' digests show it.
Tree ListWithoutContents(const std::string& updateFolder, std::vector<std::string>& problems) {
  Tree tree;
  const ReleaseTree present = ListRelease(updateFolder);
  for (const std::string& problem : present.problems) problems.push_back("unexpected  " + problem);
  for (const ReleaseEntry& entry : present.entries) tree[entry.path] = Node{entry.isFolder, std::string()};
  return tree;
}

}  // namespace

VerifyReport VerifyUpdate(const std::string& updateFolder, const Manifest& manifest, const Tree* read) {
  VerifyReport report;
  const Tree tree = read ? *read : ListWithoutContents(updateFolder, report.problems);
  std::set<std::string> listed;
  for (const ManifestEntry& entry : manifest.entries) {
    ++report.checked;
    listed.insert(FoldCase(entry.path));
    const auto found = tree.find(entry.path);
    if (found == tree.end()) {
      report.problems.push_back("missing     " + entry.path);
    } else if (found->first != entry.path) {
      report.problems.push_back("wrong name  " + found->first + " (" + entry.path + " expected)");
    } else if (entry.isFolder != found->second.isFolder) {
      report.problems.push_back("wrong kind  " + entry.path + (entry.isFolder ? " (a folder expected)" : " (a file expected)"));
    } else if (!entry.isFolder) {
      std::optional<FileDigest> digest;
      if (read) {
        digest = FileDigest{found->second.content.size(), Sha256Hex(found->second.content)};
      } else {
        digest = DigestFile(HostJoin(updateFolder, entry.path));
      }
      if (!digest) {
        report.problems.push_back("unreadable  " + entry.path);
      } else if (digest->size != entry.size) {
        report.problems.push_back("damaged     " + entry.path + " (" + std::to_string(digest->size) + " bytes, " +
                                  std::to_string(entry.size) + " expected)");
      } else if (digest->sha256 != entry.sha256) {
        report.problems.push_back("damaged     " + entry.path + " (SHA-256 differs)");
      }
    }
  }
  for (const auto& entry : tree) {
    // The launcher's temporary files are never part of an update: it
    // removes them before it checks or installs one.
    if (!entry.second.isFolder && rules::IsLauncherTemporaryName(BaseName(entry.first))) continue;
    if (!listed.count(FoldCase(entry.first))) {
      report.problems.push_back("unexpected  " + entry.first + " (not in the manifest)");
    }
  }
  return report;
}

}  // namespace packer
