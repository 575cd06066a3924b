#include "update/update.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/entry.h"
#include "fs/flush_behind.h"
#include "fs/pinned_tree.h"
#include "fs/remove.h"
#include "fs/walk.h"
#include "rules/config_files.h"
#include "rules/rules.h"
#include "journal/journal.h"
#include "rungame_plan.h"
#include "update/decode_ahead.h"
#include "update/signed_update.h"
#include "update/staging.h"
#include "update/unpack.h"

namespace {

// How many packed files may be queued for decoding ahead of the one being
// written out: the decoded bytes waiting are bounded apart from this.
constexpr std::size_t kFilesAhead = 64;
// How many unpacked bytes, and files, may wait for their flushes before
// they are put in place: what a full disk must hold beyond the update's own
// size, and the handles open meanwhile.
constexpr unsigned long long kBatchBytes = 64ull << 20;
constexpr std::size_t kBatchFiles = 256;

// One entry of the staging folder, as its one walk found it.
struct StagedItem {
  std::string relative;
  bool isFolder = false;
  bool isReadOnly = false;
};

// The staged tree as it can be installed, folders before what they hold.
// False when it cannot be installed as it stands: not walked whole, or
// holding a link, one of the launcher's own names at its top, or two names
// equal but for letter case (a case-sensitive folder can hold both; the data
// folder takes one of them).
bool ListStaging(PinnedTree& tree, const std::string& staging, std::vector<StagedItem>& items,
                 std::vector<std::string>& leftovers, std::string& problem) {
  bool installable = true;
  std::set<std::string> folded;
  const bool complete = WalkTree(tree, staging, WalkOrder::ParentsFirst, [&](const TreeEntry& entry) {
    const bool topLevel = entry.relative.find('\\') == std::string::npos;
    if (entry.isLink) {
      problem = "a link: " + entry.relative;
    } else if (topLevel && rules::IsReservedTopLevelName(entry.name)) {
      problem = "one of the launcher's own names: " + entry.relative;
    } else if (!folded.insert(rules::FoldAsciiCase(entry.relative)).second) {
      problem = "names equal but for letter case: " + entry.relative;
    }
    if (!problem.empty()) {
      installable = false;
    } else if (!entry.isFolder && IsUnpackLeftover(entry.name)) {
      leftovers.push_back(entry.path);
    } else {
      items.push_back({entry.relative, entry.isFolder, entry.isReadOnly});
    }
    return installable;
  });
  if (!complete && problem.empty()) problem = "the staging folder could not be read whole";
  return complete && installable;
}

// The staged files, held open since the walk (refusing writers and
// deleters), by their folded relative paths: what is checked, unpacked and
// moved is read and moved through these handles.
using HeldFiles = std::map<std::string, UniqueFileHandle>;

HANDLE HeldOf(const HeldFiles& held, const std::string& relative) {
  const auto found = held.find(rules::FoldAsciiCase(relative));
  return found == held.end() ? nullptr : found->second.Get();
}

UniqueFileHandle TakeHeld(HeldFiles& held, const std::string& relative) {
  UniqueFileHandle file;
  const auto found = held.find(rules::FoldAsciiCase(relative));
  if (found != held.end()) {
    file = std::move(found->second);
    held.erase(found);
  }
  return file;
}

// Holds every staged file; false when one cannot be held as a plain file
// (in use, a link, a second name).
bool HoldStaged(PinnedTree& tree, const std::string& staging, const std::vector<StagedItem>& items, HeldFiles& held) {
  if (!tree.HoldsHandles()) return true;  // Windows 95/98/Me: no one else to swap them
  for (const StagedItem& item : items) {
    if (item.isFolder) continue;
    const OptionalPath path = JoinPath(staging, item.relative);
    if (!path) return false;
    UniqueFileHandle file = tree.OpenPlain(*path, GENERIC_READ | DELETE, FILE_SHARE_READ);
    if (!file) return false;
    held[rules::FoldAsciiCase(item.relative)] = std::move(file);
  }
  return true;
}

bool IsStagedMarker(const StagedItem& item, const std::string& markerName) {
  return !markerName.empty() && IsMarkerEntry(item.relative, item.isFolder, markerName);
}

// Whether the marker is there: with no marker name, the staging folder itself.
bool MarkerListed(const std::vector<StagedItem>& items, const std::string& markerName) {
  return markerName.empty() ||
         std::any_of(items.begin(), items.end(), [&](const StagedItem& item) { return IsStagedMarker(item, markerName); });
}

// Unpacks every packed file in place, the item then naming what it unpacked
// to. A damaged one stays, to be installed under its packed name. False when
// one could not be unpacked or removed for a reason of the machine's (no
// space, locked, unreadable).
bool UnpackStaged(PinnedTree& tree, const std::string& staging, const std::string& markerName,
                  std::vector<StagedItem>& items, HeldFiles& held) {
  // What the walk saw: a staged file an unpacking replaces, and whether it is
  // read-only, without asking the file system again.
  std::map<std::string, bool> stagedFiles;  // folded relative path -> read-only
  for (const StagedItem& item : items) {
    if (!item.isFolder) stagedFiles[rules::FoldAsciiCase(item.relative)] = item.isReadOnly;
  }
  // The packed files, in order, each with the name it unpacks to.
  struct Packed {
    StagedItem* item;
    std::string output;
  };
  std::vector<Packed> packedFiles;
  for (StagedItem& item : items) {
    // Not packed, or its output would carry a name reserved for temporary files.
    const std::size_t unpackedLength = rungame_unpacked_length(item.relative.c_str());
    if (item.isFolder || IsStagedMarker(item, markerName) || unpackedLength == 0) continue;
    packedFiles.push_back({&item, item.relative.substr(0, unpackedLength)});
  }
  // The packed files decode on a thread of its own, in order, while the ones
  // before them are written out. Each is read through its held handle, or on
  // Windows 95/98/Me through one opened here until it is unpacked.
  std::vector<UniqueFileHandle> opened(packedFiles.size());
  DecodeAhead decoded;
  std::size_t added = 0;
  const auto addNext = [&] {
    const StagedItem& item = *packedFiles[added].item;
    HANDLE packed = HeldOf(held, item.relative);
    if (!packed) {
      const OptionalPath name = JoinPath(staging, item.relative);
      if (!name) return false;
      opened[added] = tree.OpenPlain(*name, GENERIC_READ, FILE_SHARE_READ);
      if (!opened[added]) return false;
      packed = opened[added].Get();
    }
    decoded.Add(packed);
    ++added;
    return true;
  };
  // Whether packed file `later` is what one from `from` on unpacks to.
  const auto replacedFrom = [&](std::size_t from, std::size_t later) {
    for (std::size_t earlier = from; earlier < later; ++earlier) {
      if (EqualsIgnoringAsciiCase(packedFiles[earlier].output, packedFiles[later].item->relative)) return true;
    }
    return false;
  };
  // Unpacked files flush behind while the next ones are written; each is
  // put in place once its flush ended, a batch at a time, so that the
  // packed files of at most one batch wait beside what they unpacked to.
  struct Written {
    std::size_t index;
    std::unique_ptr<NewFile> file;
  };
  FlushBehind flushBehind;
  std::vector<Written> batch;
  unsigned long long batchBytes = 0;
  std::vector<std::string> unpacked;
  const auto commitBatch = [&] {
    for (Written& written : batch) {
      StagedItem& item = *packedFiles[written.index].item;
      const std::string& output = packedFiles[written.index].output;
      const OptionalPath packedName = JoinPath(staging, item.relative);
      const OptionalPath outputName = JoinPath(staging, output);
      UniqueFileHandle unpackedFile;
      if (!packedName || !outputName || !written.file->CommitAs(*outputName, &unpackedFile)) return false;
      // The packed file goes through its held handle, as that closes here;
      // a read-only one is cleared of its bit and removed by name instead.
      UniqueFileHandle packedFile = TakeHeld(held, item.relative);
      if (unpackedFile) held[rules::FoldAsciiCase(output)] = std::move(unpackedFile);
      if (item.isReadOnly) packedFile.Reset();
      if (!(item.isReadOnly ? RemoveFileSafely(tree, *packedName)
                            : tree.RemoveFileEntry(*packedName, packedFile.Get()))) {
        return false;
      }
      item.relative = output;
      unpacked.push_back(output);
    }
    batch.clear();
    batchBytes = 0;
    return true;
  };
  for (std::size_t next = 0; next < packedFiles.size(); ++next) {
    // A file an earlier one unpacks to is read once that one is in place.
    const bool full = batchBytes >= kBatchBytes || batch.size() >= kBatchFiles;
    if (!batch.empty() && (full || replacedFrom(batch.front().index, next)) && !commitBatch()) return false;
    const std::size_t firstWaiting = batch.empty() ? next : batch.front().index;
    const std::string& output = packedFiles[next].output;
    if (added == next && !addNext()) return false;
    // The files after it decode meanwhile, a few ahead, unless an earlier
    // one replaces one of them ("a.zip.zip" before "a.zip"): that is read
    // once the earlier one is in place, at its turn.
    while (added < packedFiles.size() && added < next + kFilesAhead &&
           !replacedFrom(firstWaiting, added) && addNext()) {
    }
    const OptionalPath outputName = JoinPath(staging, output);
    if (!outputName) return false;
    // A staged file of the same name is replaced; only a plain one can be.
    const auto replaced = stagedFiles.find(rules::FoldAsciiCase(output));
    held.erase(rules::FoldAsciiCase(output));
    if (replaced != stagedFiles.end() && replaced->second && !MakeWritable(tree, *outputName)) return false;
    auto file = std::make_unique<NewFile>(tree);
    const UnpackOutcome outcome = UnpackInto(*file, decoded, *outputName);
    opened[next].Reset();
    if (outcome == UnpackOutcome::Failed) return false;
    if (outcome == UnpackOutcome::Damaged) continue;
    file->FlushBehindWith(flushBehind);
    batchBytes += file->Written();
    batch.push_back({next, std::move(file)});
  }
  if (!commitBatch()) return false;
  // A file staged beside its packed form is the unpacked file now: listed once.
  std::vector<bool> seen(unpacked.size(), false);
  items.erase(std::remove_if(items.begin(), items.end(),
                             [&](const StagedItem& item) {
                               for (std::size_t i = 0; i < unpacked.size(); ++i) {
                                 if (!item.isFolder && EqualsIgnoringAsciiCase(item.relative, unpacked[i])) {
                                   if (seen[i]) return true;
                                   seen[i] = true;
                                 }
                               }
                               return false;
                             }),
              items.end());
  return true;
}

// What the data folder holds at `relative`, as the planner weighs it. A
// path the planner refuses by its names or length is not looked at: it may
// name a device.
int HeldAt(PinnedTree& tree, const std::string& relative) {
  if (!IsPlannablePath(tree, kStagingFolderName, relative)) return RUNGAME_HELD_NOTHING;
  const EntryAttributes target = tree.Query(relative);
  if (!target.Exists()) return RUNGAME_HELD_NOTHING;
  if (target.IsRealFolder()) return RUNGAME_HELD_FOLDER;
  return IsPlainReplaceableFile(tree, relative) ? RUNGAME_HELD_PLAIN_FILE : RUNGAME_HELD_OTHER;
}

// The plan that installs the staged items (format/rungame_plan.h), from what
// the data folder holds now; nothing when an item cannot take its place. A
// staged file held open is left to its move: the rename fails, and the plan
// is undone.
std::optional<Plan> PlanUpdate(PinnedTree& tree, const std::vector<StagedItem>& items, const std::string& markerName,
                               const HeldFiles& held) {
  std::vector<RunGameStagedItem> facts;
  facts.reserve(items.size());
  for (const StagedItem& item : items) {
    facts.push_back({item.relative.c_str(), item.isFolder, IsStagedMarker(item, markerName),
                     HeldAt(tree, item.relative)});
  }
  std::vector<RunGamePlanStep> steps(items.size());
  std::size_t count = 0;
  std::size_t refused = 0;
  if (rungame_plan_update(facts.data(), facts.size(), PlannedFolderLength(tree), steps.data(), &count, &refused) !=
      RUNGAME_PLAN_OK) {
    return std::nullopt;
  }
  Plan plan{kStagingFolderName, {}};
  for (std::size_t i = 0; i < count; ++i) {
    const StagedItem& item = items[steps[i].item];
    const PlanEntry::Kind kind = steps[i].kind == RUNGAME_ADD_FOLDER   ? PlanEntry::AddFolder
                                 : steps[i].kind == RUNGAME_ADD_FILE ? PlanEntry::AddFile
                                                                     : PlanEntry::ReplaceExisting;
    plan.entries.push_back({kind, item.relative, item.isFolder ? nullptr : HeldOf(held, item.relative)});
  }
  return plan;
}

// Whether the staged update may be installed: a launcher built with the
// studio's key takes only what the studio signed, newer than the data
// folder's version, exactly as staged. Asked before anything staged changes.
bool IsTrusted(const std::string& publicKeyHex, const PinnedTree& tree, const std::vector<StagedItem>& items,
               const std::string& markerName, const HeldFiles& held, std::vector<SignedRemoval>& removals) {
  if (publicKeyHex.empty()) return true;
  std::vector<StagedEntryFact> staged;
  std::string markerPath;
  HANDLE markerFile = nullptr;
  for (const StagedItem& item : items) {
    // Read by path only where no handle is held (Windows 95/98/Me).
    const OptionalPath name = JoinPath(kStagingFolderName, item.relative);
    const OptionalPath path = name ? tree.PathOf(*name) : std::nullopt;
    if (!path) return false;
    if (IsStagedMarker(item, markerName)) {
      markerPath = *path;
      markerFile = HeldOf(held, item.relative);
    } else {
      staged.push_back({item.relative, *path, item.isFolder, item.isFolder ? nullptr : HeldOf(held, item.relative)});
    }
  }
  std::optional<std::pair<long, long>> dataVersion;
  const OptionalPath versionFile = tree.PathOf(rules::kVersionFile);
  if (versionFile) {
    if (const auto elements = ReadTopLevelElements(*versionFile)) {
      if (const auto version = rules::FindVersion(*elements)) dataVersion = std::make_pair(version->x, version->y);
    }
  }
  return !markerPath.empty() &&
         CheckUpdateTrustWithKey(publicKeyHex, markerPath, staged, dataVersion, markerFile, &removals) ==
             UpdateTrust::Trusted;
}

// A signed update's removals that the data folder holds as the version it
// updates from had them, each file held open (refusing writers and deleters)
// from its check to its move, then each folder that holds nothing else, the
// deepest first; the rest, a player's own file under such a name, one
// changed since, or a folder holding anything else, stay and are named in
// `kept`.
struct Removals {
  std::vector<PlanEntry> entries;
  std::vector<UniqueFileHandle> held;
  std::vector<std::string> kept;
};

Removals PlanRemovals(PinnedTree& tree, const std::vector<SignedRemoval>& removals) {
  Removals result;
  std::set<std::string> removed;  // folded
  std::vector<std::string> folders;
  for (const SignedRemoval& removal : removals) {
    // A name the planner refuses may name a device: it is not looked at.
    if (!IsPlannablePath(tree, kStagingFolderName, removal.relative)) {
      result.kept.push_back(removal.relative);
      continue;
    }
    if (removal.isFolder) {
      folders.push_back(removal.relative);
      continue;
    }
    const std::string& current = removal.relative;
    const EntryAttributes attributes = tree.Query(current);
    if (!attributes.Exists()) continue;
    // Windows 95/98/Me hold no handles: the file is read, then moved by name.
    UniqueFileHandle file;
    if (!attributes.IsFolder() && !attributes.IsLink()) {
      file = tree.OpenPlain(current, GENERIC_READ | (tree.HoldsHandles() ? DELETE : 0), FILE_SHARE_READ);
    }
    if (!file || !FileHoldsBytes(file.Get(), removal.size, removal.sha256)) {
      result.kept.push_back(removal.relative);
      continue;
    }
    if (!tree.HoldsHandles()) file.Reset();
    result.entries.push_back({PlanEntry::RemoveFile, removal.relative, file.Get()});
    if (file) result.held.push_back(std::move(file));
    removed.insert(rules::FoldAsciiCase(removal.relative));
  }
  std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return rules::FoldAsciiCase(a) > rules::FoldAsciiCase(b);
  });
  for (const std::string& folder : folders) {
    const EntryAttributes attributes = tree.Query(folder);
    if (!attributes.Exists()) continue;
    bool emptied = attributes.IsRealFolder();
    emptied = emptied && tree.List(folder, [&](const PinnedTree::Listed& listed) {
      return removed.count(rules::FoldAsciiCase(folder + '\\' + listed.name)) > 0;
    }) == PinnedTree::ListEnd::Complete;
    if (!emptied) {
      result.kept.push_back(folder);
      continue;
    }
    result.entries.push_back({PlanEntry::RemoveFolder, folder});
    removed.insert(rules::FoldAsciiCase(folder));
  }
  return result;
}

// "kept a, b and 3 more": within what the helper reads of the status.
std::string KeptText(const std::vector<std::string>& kept) {
  constexpr std::size_t kMaxText = 600;
  std::string text = "kept ";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const std::string more = " and " + std::to_string(kept.size() - i) + " more";
    if (text.size() + kept[i].size() + 2 + more.size() > kMaxText) return text + more.substr(1);
    text += (i > 0 ? ", " : "") + kept[i];
  }
  return text;
}

UpdateReport Refused(const std::string& why) { return {UpdateReport::Refused, why}; }

// Installs the listed staged update: checked, unpacked, planned, then
// carried out entry by entry. Undone when it cannot arrive whole.
UpdateReport ApplyStagedUpdate(const std::string& publicKeyHex, PinnedTree& tree, const std::string& staging,
                               std::vector<StagedItem> items,
                               const std::vector<std::string>& leftovers, const std::string& markerName) {
  // A temporary file of an interrupted unpacking is never installed, nor
  // part of the update checked.
  for (const std::string& leftover : leftovers) {
    if (!RemoveFileSafely(tree, leftover)) return Refused("a temporary file could not be removed");
  }
  HeldFiles held;
  if (!HoldStaged(tree, staging, items, held)) return Refused("a staged file is in use or no plain file");
  std::vector<SignedRemoval> signedRemovals;
  if (!IsTrusted(publicKeyHex, tree, items, markerName, held, signedRemovals)) {
    return Refused("not signed with the studio's key, not made from this version, or not as signed");
  }
  if (!UnpackStaged(tree, staging, markerName, items, held)) return Refused("a packed file could not be unpacked");
  std::optional<Plan> plan = PlanUpdate(tree, items, markerName, held);
  if (!plan) return Refused("an entry cannot take its place in the data folder");
  // The removals go after every file the update brings, before its marker.
  const Removals removals = PlanRemovals(tree, signedRemovals);
  plan->entries.insert(plan->entries.end() - (plan->entries.empty() ? 0 : 1), removals.entries.begin(),
                       removals.entries.end());
  switch (CarryOutPlan(tree, *plan)) {
    case PendingState::Finished:
      return {UpdateReport::Installed, removals.kept.empty() ? std::string() : KeptText(removals.kept)};
    case PendingState::Blocked:
      return {UpdateReport::Blocked, kJournalName};
    default:
      return Refused("it could not arrive whole and was undone");
  }
}

}  // namespace

std::string UpdateReport::Text() const {
  switch (outcome) {
    case Installed: return detail.empty() ? "installed" : "installed: " + detail;
    case Refused: return "refused: " + detail;
    case Blocked: return "blocked: " + detail;
    case Damaged: return "damaged: " + detail;
    case None: break;
  }
  return "none";
}

UpdateReport RunUpdatePass(PinnedTree& tree, const std::string& markerName) {
  return RunUpdatePassWithKey(UpdatePublicKey(), tree, markerName);
}

UpdateReport RunUpdatePassWithKey(const std::string& publicKeyHex, PinnedTree& tree, const std::string& markerName) {
  const std::string staging = kStagingFolderName;
  // Whatever a stopped launcher left is settled first; state that is not
  // the launcher's own keeps everything as it is.
  const PendingOutcome pending = SettlePendingPlan(tree);
  if (pending.state == PendingState::Blocked) return {UpdateReport::Blocked, pending.blockedBy};
  UpdateReport report;
  if (pending.state == PendingState::Finished && pending.stagingName == kStagingFolderName) {
    report.outcome = UpdateReport::Installed;  // by this start, for a launcher that stopped
  }
  const EntryAttributes attributes = tree.Query(staging);
  if (!attributes.Exists()) return report;
  // A staging folder that a settled update came from has had its turn.
  const bool settledHere = pending.state != PendingState::None && pending.stagingName == kStagingFolderName;
  if (!attributes.IsRealFolder()) {
    report = Refused("the staging folder is no folder");
  } else if (!settledHere) {
    std::vector<StagedItem> items;
    std::vector<std::string> leftovers;
    std::string problem;
    if (!ListStaging(tree, staging, items, leftovers, problem)) {
      report = Refused(problem);
    } else if (MarkerListed(items, markerName)) {
      report = ApplyStagedUpdate(publicKeyHex, tree, staging, std::move(items), leftovers, markerName);
      // The journal stays, and the staging folder holds what it needs.
      if (report.outcome == UpdateReport::Blocked) return report;
    }
  }
  (void)DiscardStagingFolder(tree);  // what stays goes at a later start
  return report;
}

void PublishUpdateReport(const UpdateReport& report) {
  SetEnvironmentVariableA(RUNGAME_UPDATE_STATUS_VARIABLE, report.Text().c_str());
}
