#include "update/update.h"

#include <windows.h>
#include <shlwapi.h>

#include "fs/ascii.h"
#include "fs/shell_ops.h"
#include "fs/walk.h"
#include "update/move.h"
#include "update/staging.h"
#include "update/undo.h"
#include "update/unpack.h"

namespace {

// Unpacks every packed file in place. A damaged one stays as it is, to be
// installed under its packed name; false when one could not be unpacked or
// removed for a reason of the machine's (no space, locked, unreadable).
bool UnpackAll(const std::string& staging) {
  PathList packed;
  CollectPackedFiles(staging, packed);
  for (const std::string& path : packed) {
    const std::string output = path.substr(0, path.size() - 4);
    // Its output would carry the name reserved for temporary files.
    if (IsUnpackLeftover(PathFindFileNameA(output.c_str()))) continue;
    const UnpackOutcome outcome = UnpackFile(path, output);
    if (outcome == UnpackOutcome::Failed) return false;
    if (outcome == UnpackOutcome::Damaged) continue;
    ClearReadOnlyAttribute(path);
    if (!DeleteFileA(path.c_str())) return false;
  }
  return true;
}

// Whether `path` is a link or holds one at any depth (links not followed).
// A tree that cannot be walked whole counts as holding one.
bool HoldsLink(const std::string& path) {
  const EntryAttributes attributes = QueryEntry(path);
  if (!attributes.IsRealFolder()) return attributes.IsLink();
  bool found = false;
  const bool complete = WalkTree(path, WalkOrder::ParentsFirst, [&](const TreeEntry& entry) {
    found = entry.isLink;
    return !found;
  });
  return found || !complete;
}

// The shell move, then the launcher's own for whatever it left behind: under
// Wine it skips folders that exist in the destination yet reports success,
// and refuses lists of several files. What is left decides the result.
// Trees holding a link never go to the shell: Wine moves a folder entry by
// entry and would follow the link, carrying in (and removing) whatever it
// points to; the launcher's own move renames a link as it is.
int MoveIntoDataFolder(const PathList& sources, const std::string& dataFolder) {
  if (sources.empty()) return 0;
  PathList withoutLinks;
  for (const std::string& source : sources) {
    if (!HoldsLink(source)) withoutLinks.push_back(source);
  }
  const int shellResult = withoutLinks.empty() ? 0 : ShellTransfer(ShellOperation::Move, withoutLinks, dataFolder);
  bool movedAll = true;
  for (const std::string& source : sources) {
    const OptionalPath target = JoinPath(dataFolder, PathFindFileNameA(source.c_str()));
    if (!target || !MoveEntry(source, *target)) movedAll = false;
  }
  if (movedAll) return 0;
  return shellResult != 0 ? shellResult : 1;
}

// The staging folder's top-level entries, the one holding the marker apart.
// False when one could not be listed.
bool ListStagingEntries(const std::string& staging, const std::string& markerEntry, PathList& entries,
                        PathList& marker) {
  bool listedAll = true;
  ForEachEntry(staging, [&](const FolderEntry& entry) {
    const OptionalPath path = JoinPath(staging, entry.name);
    if (!path || IsUpdateJournalName(entry.name)) {
      listedAll = false;
    } else if (!markerEntry.empty() && EqualsIgnoringAsciiCase(entry.name, markerEntry)) {
      marker.push_back(*path);
    } else {
      entries.push_back(*path);
    }
    return true;
  });
  return listedAll && !(entries.empty() && marker.empty());
}

// Whether everything staged can take its place, checked before anything
// moves; with `move`, then moves it into the data folder, the marker's entry
// last and only after everything else arrived.
bool MoveStaging(const std::string& staging, const std::string& dataFolder, const std::string& markerEntry,
                 bool move) {
  PathList entries;
  PathList marker;
  if (!ListStagingEntries(staging, markerEntry, entries, marker) || !CanMoveAll(entries, dataFolder) ||
      !CanMoveAll(marker, dataFolder)) {
    return false;
  }
  return !move || (MoveIntoDataFolder(entries, dataFolder) == 0 && MoveIntoDataFolder(marker, dataFolder) == 0);
}

// With the journal written: sets aside what the update replaces and moves it
// in. Whatever fails on the way is undone, so the data folder ends whole,
// old or new.
bool CompleteJournaledUpdate(const std::string& dataFolder, const UpdateJournal& journal) {
  const OptionalPath staging = StagingFolderOf(dataFolder);
  if (staging && QueryEntry(*staging).IsRealFolder() && SetAsideReplacedFiles(dataFolder, journal) &&
      MoveStaging(*staging, dataFolder, journal.markerEntry, true)) {
    ForgetUpdateJournal(dataFolder);
    return true;
  }
  UndoUpdate(dataFolder, journal);
  return false;
}

// A launcher stopped during an update: while the marker's entry is still
// staged the update did not arrive, and is finished now or undone; once it
// moved, everything else had arrived before it.
void ResumeInterruptedUpdate(const std::string& dataFolder) {
  const std::optional<UpdateJournal> journal = ReadUpdateJournal(dataFolder);
  const OptionalPath staging = StagingFolderOf(dataFolder);
  if (!journal || !staging) return;
  bool markerStaged = false;
  ForEachEntry(*staging, [&](const FolderEntry& entry) {
    markerStaged = journal->markerEntry.empty() || EqualsIgnoringAsciiCase(entry.name, journal->markerEntry);
    return !markerStaged;
  });
  if (markerStaged) {
    CompleteJournaledUpdate(dataFolder, *journal);
  } else {
    ForgetUpdateJournal(dataFolder);
  }
}

// Unpacks the staged packed files and moves the staging folder's contents
// into the data folder, or nothing when they cannot arrive whole (an
// unpacking that failed for want of space, a file that cannot take its
// place, a linked staging folder). 0 when everything arrived.
int ApplyStagedUpdate(const std::string& dataFolder, const std::string& markerName) {
  const OptionalPath staging = StagingFolderOf(dataFolder);
  // A linked staging folder holds files from elsewhere: never installed.
  if (!staging || !QueryEntry(*staging).IsRealFolder()) return 1;
  // A temporary file of an interrupted unpacking is never installed.
  if (!RemoveUnpackLeftovers(*staging)) return 1;
  if (!UnpackAll(*staging)) return 1;

  // An update that cannot arrive whole is not applied at all, and the data
  // folder keeps its version.
  const std::string markerEntry = MarkerEntryName(markerName);
  if (!MoveStaging(*staging, dataFolder, markerEntry, false)) return 1;
  const std::optional<UpdateJournal> journal = DescribeUpdate(dataFolder, markerEntry);
  if (!journal || !WriteUpdateJournal(dataFolder, *journal)) return 1;
  return CompleteJournaledUpdate(dataFolder, *journal) ? 0 : 1;
}

}  // namespace

void RunUpdatePass(const std::string& dataFolder, const std::string& markerName) {
  const OptionalPath staging = StagingFolderOf(dataFolder);
  if (!staging) return;
  if (HasUpdateJournal(dataFolder)) {
    ResumeInterruptedUpdate(dataFolder);
  } else if (StagedMarkerExists(*staging, markerName)) {
    ApplyStagedUpdate(dataFolder, markerName);
  }
  // While a journal remains (an undo that could not finish), the staging
  // folder holds what the next start needs to finish or undo the update.
  if (!HasUpdateJournal(dataFolder)) DiscardStagingFolder(*staging);
}
