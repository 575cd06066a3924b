#include "provisioning/install_copy.h"

#include <windows.h>

#include <algorithm>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/entry.h"
#include "fs/flush_behind.h"
#include "fs/pinned_tree.h"
#include "fs/remove.h"
#include "fs/walk.h"
#include "provisioning/version_file.h"
#include "journal/journal.h"
#include "rules/rules.h"
#include "update/staging.h"

namespace {

constexpr unsigned long long kAllocationUnit = 4096;

unsigned long long RoundedUp(unsigned long long bytes) {
  return (bytes + kAllocationUnit - 1) / kAllocationUnit * kAllocationUnit;
}

// Whether `relative` is, or lies below, a top-level entry named `name`. Exact
// bytes for the launcher: started under another spelling of its name, it is
// copied like any other file.
bool IsBelowTopLevel(const std::string& relative, const std::string& name, bool anyCase) {
  const std::string top = relative.substr(0, relative.find('\\'));
  return anyCase ? EqualsIgnoringAsciiCase(top, name) : top == name;
}

}  // namespace

std::optional<CopyPlan> PlanInstallCopy(const std::string& installFolder) {
  const OptionalPath launcherName = GetLauncherFileName();
  CopyPlan plan;
  std::optional<CopyItem> versionFile;
  bool linked = false;
  PinnedTree install(installFolder);
  const bool complete = install.Valid() && WalkTree(install, std::string(), WalkOrder::ParentsFirst, [&](const TreeEntry& entry) {
    if ((launcherName && IsBelowTopLevel(entry.relative, *launcherName, false)) ||
        IsBelowTopLevel(entry.relative, kStagingFolderName, true)) {
      return true;
    }
    if (entry.isLink) return !(linked = true);
    CopyItem item{entry.relative, entry.isFolder, entry.isFolder ? 0 : entry.size};
    if (!entry.isFolder && EqualsIgnoringAsciiCase(entry.relative, kVersionFile)) {
      versionFile = item;
    } else {
      plan.items.push_back(item);
    }
    return true;
  });
  if (!complete || linked) return std::nullopt;
  if (versionFile) plan.items.push_back(*versionFile);
  return plan;
}

CopyCheck CheckInstallCopy(PinnedTree& tree, const CopyPlan& plan) {
  const OptionalPath dataFolder = tree.PathOf(std::string());
  if (!dataFolder || (!tree.Query(std::string()).IsFolder() && dataFolder->size() >= kMaxFolderPathLength)) {
    return CopyCheck::Unusable;
  }
  bool replaceable = true;
  unsigned long long needed = kAllocationUnit;
  for (const CopyItem& item : plan.items) {
    if (!IsPlannablePath(tree, kCopyStagingName, item.relative)) return CopyCheck::Unusable;
    const std::string& target = item.relative;
    const EntryAttributes attributes = tree.Query(target);
    if (item.isFolder) {
      // Both the staged and the final folder must be makeable.
      const OptionalPath staged = tree.PathOf(JoinPath(kCopyStagingName, target).value_or(std::string()));
      const OptionalPath targetPath = tree.PathOf(target);
      if (!staged || !targetPath || staged->size() >= kMaxFolderPathLength ||
          targetPath->size() >= kMaxFolderPathLength) {
        return CopyCheck::Unusable;
      }
      if (attributes.Exists() && !attributes.IsRealFolder()) return CopyCheck::Unusable;
      needed += kAllocationUnit;
      continue;
    }
    // The whole installation is copied before anything moves into place.
    // Whether each of its files can be read shows as it is copied.
    needed += RoundedUp(item.size);
    if (!attributes.Exists()) continue;
    if (attributes.IsFolder() || !tree.OpenPlain(target, FILE_READ_ATTRIBUTES)) return CopyCheck::Unusable;
    replaceable = replaceable && IsPlainReplaceableFile(tree, target);
  }
  const std::optional<unsigned long long> available = FreeBytesAt(*dataFolder);
  if (!replaceable || !available || *available < needed) return CopyCheck::Blocked;
  return CopyCheck::Ready;
}

void RemoveCopyLeftovers(PinnedTree& tree) {
  // What cannot be removed now is tried again at the next start.
  (void)RemoveTreeSafely(tree, kCopyStagingName);
}

CopyOutcome CopyInstallToDataFolder(PinnedTree& tree, const CopyPlan& plan, const std::string& installFolder,
                                    const WhileBusy& whileBusy) {
  const std::string staging = kCopyStagingName;
  // What an earlier, stopped copy left before it moved anything.
  if (!RemoveTreeSafely(tree, staging) || !tree.MakeFolder(staging)) return CopyOutcome::Failed;
  Plan moves{kCopyStagingName, {}};
  // A folder whose place in the data folder is free moves whole, with all it
  // holds: one change instead of one a file. Never a folder above the
  // version file, which moves in last as the copy's commit.
  std::vector<std::string> movedWhole;
  const auto insideMoved = [&movedWhole](const std::string& relative) {
    return std::any_of(movedWhole.begin(), movedWhole.end(),
                       [&relative](const std::string& folder) { return IsBelowIgnoringAsciiCase(relative, folder); });
  };
  bool copied = true;
  bool unreadable = false;
  // Each copy flushes while the next is made, all of them before the plan's
  // journal: nothing moves in before it is on the disk.
  FlushBehind flushBehind;
  for (const CopyItem& item : plan.items) {
    whileBusy();
    const OptionalPath from = JoinPath(installFolder, item.relative);
    const OptionalPath staged = JoinPath(staging, item.relative);
    const std::string& target = item.relative;
    if (!from || !staged) {
      copied = false;
      break;
    }
    // What moves with its folder has no place of its own to look at.
    const bool movesWithFolder = insideMoved(item.relative);
    const EntryAttributes attributes = movesWithFolder ? EntryAttributes{} : tree.Query(target);
    if (item.isFolder) {
      copied = tree.MakeFolder(*staged);
      if (!attributes.Exists() && !movesWithFolder) {
        const bool aboveCommit = IsBelowIgnoringAsciiCase(kVersionFile, item.relative);
        moves.entries.push_back({aboveCommit ? PlanEntry::AddFolder : PlanEntry::MoveFolder, item.relative});
        if (!aboveCommit) movedWhole.push_back(item.relative);
      }
    } else {
      copied = tree.CopyToNewFile(*from, *staged, &unreadable, whileBusy, &flushBehind);
      if (!movesWithFolder) {
        moves.entries.push_back(
            {attributes.Exists() ? PlanEntry::ReplaceExisting : PlanEntry::AddFile, item.relative});
      }
    }
    if (!copied) break;
  }
  copied = flushBehind.Finish() && copied && ReachFaultPoint("flushed", tree.PathOf(staging).value_or(staging));
  const PendingState state = copied ? CarryOutPlan(tree, moves) : PendingState::Undone;
  // A journal that stays needs the staged files for the next start; what
  // cannot be removed now goes at the next one.
  if (state != PendingState::Blocked) (void)RemoveTreeSafely(tree, staging);
  if (state == PendingState::Finished) return CopyOutcome::Copied;
  return unreadable ? CopyOutcome::Deferred : CopyOutcome::Failed;
}

std::set<std::string> CopiedFiles(const CopyPlan& plan, const std::string& dataFolder) {
  std::set<std::string> files;
  for (const CopyItem& item : plan.items) {
    const OptionalPath path = JoinPath(dataFolder, item.relative);
    if (!item.isFolder && path) files.insert(rules::FoldAsciiCase(*path));
  }
  return files;
}
