#include "packer/verify.h"

#include <set>

#include "packer/files.h"
#include "packer/release.h"
#include "packer/sha256.h"

namespace packer {

VerifyReport VerifyUpdate(const std::string& updateFolder, const Manifest& manifest) {
  VerifyReport report;
  std::set<std::string> listed;
  for (const ManifestEntry& entry : manifest.entries) {
    ++report.checked;
    listed.insert(entry.path);
    const std::string path = HostJoin(updateFolder, entry.path);
    const EntryKind kind = KindOf(path);
    if (kind == EntryKind::Missing) {
      report.problems.push_back("missing     " + entry.path);
    } else if (entry.isFolder != (kind == EntryKind::Folder)) {
      report.problems.push_back("wrong kind  " + entry.path + (entry.isFolder ? " (a folder expected)" : " (a file expected)"));
    } else if (!entry.isFolder) {
      const auto digest = DigestFile(path);
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
  const ReleaseTree present = ListRelease(updateFolder);
  for (const std::string& problem : present.problems) report.problems.push_back("unexpected  " + problem);
  for (const ReleaseEntry& entry : present.entries) {
    if (!listed.count(entry.path)) report.problems.push_back("unexpected  " + entry.path + " (not in the manifest)");
  }
  return report;
}

}  // namespace packer
