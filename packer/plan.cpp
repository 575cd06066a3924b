#include "packer/plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "packer/checks.h"
#include "packer/files.h"
#include "packer/names.h"
#include "packer/sha256.h"

namespace packer {

bool Plan::Refused() const {
  return std::any_of(findings.begin(), findings.end(), [](const Finding& finding) { return finding.refusal; });
}

namespace {

bool SameContent(const std::string& previousFile, const std::string& newFile) {
  const auto previous = DigestFile(previousFile);
  const auto next = DigestFile(newFile);
  return previous && next && previous->size == next->size && previous->sha256 == next->sha256;
}

void Refuse(Plan& plan, const std::string& text) { plan.findings.push_back({true, text}); }

// Entries of the previous release that the new one lacks. Those renamed only
// in letter case, or turned from a file into a folder or back, cannot be
// delivered at all: Windows keeps the old name, the launcher never replaces a
// folder by a file. A signed update removes the others.
void FindDeleted(const std::string& previousRoot, const ReleaseTree& previous,
                 const std::map<std::string, bool>& next, const PlanOptions& options, Plan& plan) {
  std::map<std::string, std::string> nextFolded;
  for (const auto& entry : next) nextFolded[FoldCase(entry.first)] = entry.first;
  for (const ReleaseEntry& entry : previous.entries) {
    const auto same = next.find(entry.path);
    if (same != next.end()) {
      if (same->second != entry.isFolder) {
        Refuse(plan, entry.path + ": a " + (entry.isFolder ? "folder" : "file") + " in the previous release, a " +
                         (same->second ? "folder" : "file") + " in the new one; the launcher cannot replace one by the other");
      }
      continue;
    }
    const auto folded = nextFolded.find(FoldCase(entry.path));
    if (folded != nextFolded.end()) {
      Refuse(plan, entry.path + ": renamed to " + folded->second +
                       " only in letter case; Windows keeps the old name, so the update cannot deliver the new one");
      continue;
    }
    plan.deleted.push_back(entry.path + (entry.isFolder ? "\\" : ""));
  }
  if (plan.deleted.empty()) return;
  if (options.signedUpdate) {
    for (const std::string& path : plan.deleted) {
      if (path.back() == '\\') continue;
      const auto digest = DigestFile(HostJoin(previousRoot, path));
      if (!digest) {
        Refuse(plan, "previous release: cannot read " + path);
        continue;
      }
      plan.removals.push_back({false, digest->size, digest->sha256, path});
    }
    std::vector<std::string> folders;
    for (const std::string& path : plan.deleted) {
      if (path.back() == '\\') folders.push_back(path.substr(0, path.size() - 1));
    }
    // A folder after every folder it holds: each is empty by its turn.
    std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) { return a > b; });
    for (const std::string& folder : folders) plan.removals.push_back({true, 0, std::string(), folder});
    return;
  }
  std::string list;
  for (const std::string& path : plan.deleted) list += "\n    " + path;
  const std::string text = std::to_string(plan.deleted.size()) +
                           " entries of the previous release are gone from the new one; only a signed update (--sign) "
                           "removes them, so they stay on players' machines:" + list;
  plan.findings.push_back({!options.allowDeleted, options.allowDeleted ? text : text + "\n  (--allow-deleted ships the update anyway)"});
}

// Every folder the staging folder holds: new folders, and the folders on the
// way to every staged file or new folder.
std::vector<std::string> StagedFolders(const Plan& plan, const std::vector<std::string>& newFolders) {
  std::set<std::string> folders;
  const auto addWithParents = [&](const std::string& path, bool self) {
    if (self) folders.insert(path);
    for (std::string parent = ParentPath(path); !parent.empty(); parent = ParentPath(parent)) folders.insert(parent);
  };
  for (const std::string& folder : newFolders) addWithParents(folder, true);
  for (const PlannedFile& file : plan.files) addWithParents(file.path, false);
  return std::vector<std::string>(folders.begin(), folders.end());
}

}  // namespace

Plan PlanUpdate(const std::string& previousRoot, const std::string& newRoot, const PlanOptions& options) {
  Plan plan;
  const ReleaseTree previous = ListRelease(previousRoot);
  const ReleaseTree next = ListRelease(newRoot);
  for (const std::string& problem : previous.problems) Refuse(plan, "previous release: " + problem);
  for (const std::string& problem : next.problems) Refuse(plan, "new release: " + problem);

  std::map<std::string, bool> previousEntries;
  for (const ReleaseEntry& entry : previous.entries) previousEntries[entry.path] = entry.isFolder;
  std::map<std::string, bool> nextEntries;
  for (const ReleaseEntry& entry : next.entries) nextEntries[entry.path] = entry.isFolder;

  std::vector<std::string> newFolders;
  for (const ReleaseEntry& entry : next.entries) {
    const auto before = previousEntries.find(entry.path);
    const bool isNew = before == previousEntries.end();
    if (entry.isFolder) {
      if (isNew) newFolders.push_back(entry.path);
    } else if (isNew || before->second ||
               !SameContent(HostJoin(previousRoot, entry.path), HostJoin(newRoot, entry.path))) {
      plan.files.push_back({entry.path, Packing::WhenSmaller, isNew});
    } else {
      ++plan.unchanged;
    }
  }
  plan.folders = StagedFolders(plan, newFolders);

  FindDeleted(previousRoot, previous, nextEntries, options, plan);
  CheckReleaseNames(next.entries, plan.findings);
  CheckReleaseSettings(previousRoot, newRoot, plan);
  ChoosePacking(plan);
  CheckPathLengths(newRoot, options.allowLongPaths, plan);
  return plan;
}

}  // namespace packer
