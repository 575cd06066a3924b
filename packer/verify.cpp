#include "packer/verify.h"

#include <algorithm>
#include <map>

#include "packer/files.h"
#include "packer/keys.h"
#include "packer/release.h"
#include "packer/sha256.h"
#include "rungame_format.h"

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

// Where the check's problems go, with the sizes read to tell them.
struct Said {
  std::vector<std::string>& problems;
  std::map<std::string, std::uint64_t> sizes;
};

}  // namespace

VerifyReport VerifyUpdate(const std::string& updateFolder, const Manifest& manifest, const Tree* read) {
  VerifyReport report;
  report.checked = manifest.entries.size();
  // The manifest as the format's reader holds it: the one check is its own.
  std::string error;
  RunGameManifest listed{};
  const std::string text = FormatManifest(manifest);
  if (rungame_read_manifest(text.data(), text.size(), &listed, nullptr) != RUNGAME_MANIFEST_OK) {
    rungame_free_manifest(&listed);
    report.problems.push_back("unreadable  the manifest");
    return report;
  }
  const Tree tree = read ? *read : ListWithoutContents(updateFolder, report.problems);
  std::vector<RunGameStagedEntry> staged;
  staged.reserve(tree.size());
  Said said{report.problems, {}};
  for (const auto& entry : tree) {
    RunGameStagedEntry fact{};
    fact.path = entry.first.c_str();
    fact.isFolder = entry.second.isFolder;
    const RunGameManifestEntry* listedEntry = rungame_find_entry(&listed, fact.path);
    if (!fact.isFolder && listedEntry != nullptr && !listedEntry->isFolder) {
      // Read only what the check needs: a file it lists under that name.
      std::optional<FileDigest> digest;
      if (read) {
        digest = FileDigest{entry.second.content.size(), Sha256Hex(entry.second.content)};
      } else {
        digest = DigestFile(HostJoin(updateFolder, entry.first));
      }
      const auto bytes = digest ? HexToBytes<32>(digest->sha256) : std::nullopt;
      fact.readable = bytes.has_value();
      fact.size = digest ? digest->size : listedEntry->size;
      if (bytes) std::copy(bytes->begin(), bytes->end(), fact.sha256);
      said.sizes[entry.first] = fact.size;
    }
    staged.push_back(fact);
  }
  const auto say = [](void* context, int problem, const char* stagedPath, const RunGameManifestEntry* entry) {
    Said& said = *static_cast<Said*>(context);
    std::vector<std::string>& problems = said.problems;
    const std::string path = stagedPath ? stagedPath : entry->path;
    switch (problem) {
      case RUNGAME_ENTRY_MISSING: problems.push_back("missing     " + path); break;
      case RUNGAME_ENTRY_WRONG_NAME:
        problems.push_back("wrong name  " + path + " (" + entry->path + " expected)");
        break;
      case RUNGAME_ENTRY_WRONG_KIND:
        problems.push_back("wrong kind  " + path + (entry->isFolder ? " (a folder expected)" : " (a file expected)"));
        break;
      case RUNGAME_ENTRY_UNREADABLE: problems.push_back("unreadable  " + path); break;
      case RUNGAME_ENTRY_SIZE_DIFFERS:
        problems.push_back("damaged     " + path + " (" + std::to_string(said.sizes[path]) + " bytes, " +
                           std::to_string(entry->size) + " expected)");
        break;
      case RUNGAME_ENTRY_DIGEST_DIFFERS: problems.push_back("damaged     " + path + " (SHA-256 differs)"); break;
      default: problems.push_back("unexpected  " + path + " (not in the manifest)"); break;
    }
  };
  const std::size_t found = rungame_check_entries(&listed, staged.data(), staged.size(), nullptr, say, &said);
  (void)found;  // each problem is in the report already
  rungame_free_manifest(&listed);
  return report;
}

}  // namespace packer
