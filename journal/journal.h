#pragma once
// The plan of an update, or of a copy of the installation, and its journal.
//
// A plan names every entry a staged tree brings into the data folder, in the
// order they move: folders before what they hold, the commit entry (the
// update's marker, the copy's version file) last. It is written to the
// journal, flushed, before anything moves; the setting aside of replaced
// files and the moves then follow it entry by entry, and an undo runs it
// backwards. A stopped launcher's next start finds the journal and finishes
// or undoes the plan, but only when what the data folder holds is a state
// the plan passes through: anything else, it leaves as it is.

#include <cstddef>
#include <string>
#include <vector>

class PinnedTree;

struct PlanEntry {
  // MoveFolder: a staged folder whose place in the data folder is free
  // moves whole, with all it holds, in one rename.
  // RemoveFile: a file of the data folder the update removes, moved to its
  // free place in the staging folder, and with it to the Recycle Bin.
  // RemoveFolder: an empty folder the update removes.
  enum Kind : char {
    AddFolder = 'd',
    AddFile = 'a',
    ReplaceExisting = 'r',
    MoveFolder = 'm',
    RemoveFile = 'x',
    RemoveFolder = 'y'
  };
  Kind kind;
  std::string relative;  // below the staging folder and the data folder alike
  // The staged file (for RemoveFile, the data folder's), held open (with
  // DELETE, refusing writers and deleters) since it was checked: moved in
  // and back through this handle, so that what was checked is what
  // arrives. Null: moved by name. Never journaled.
  void* held = nullptr;
};

struct Plan {
  std::string stagingName;         // the staged tree's folder in the data folder
  std::vector<PlanEntry> entries;  // in the order they move
};

// The data folder's top-level names that hold the launcher's own state, and
// the copy's staging folder (rules/ holds them with the rest of its names).
extern const char kSetAsideFolderName[];
extern const char kJournalName[];
extern const char kJournalTemporaryName[];
extern const char kCopyStagingName[];

// The length of the data folder, the tree's home, as the update planner
// (format/rungame_plan.h) measures it: its whole path without a trailing
// separator, which JoinPath does not double.
[[nodiscard]] std::size_t PlannedFolderLength(const PinnedTree& tree);

// Whether `relative` may stand in a plan: names Windows holds as they are,
// joined by single backslashes, none of the launcher's own at the top,
// within the path limit under each of the places it names in the data
// folder, the tree's home (the planner's rule).
[[nodiscard]] bool IsPlannablePath(const PinnedTree& tree, const std::string& stagingName,
                                   const std::string& relative);

enum class PendingState {
  None,      // no plan was pending
  Finished,  // a pending plan was carried out to its end
  Undone,    // a pending plan was undone: its staged tree is whole again
  Blocked,   // state that is not the launcher's own, unreadable, or an undo
             // that could not end: nothing was touched, or the journal stays
};

struct PendingOutcome {
  PendingState state = PendingState::None;
  std::string stagingName;  // of the plan, when there was one
  std::string blockedBy;    // Blocked: the entry, relative to the data folder, that is not as the plan left it
};

// Settles what a stopped launcher left in the data folder, the tree's home.
[[nodiscard]] PendingOutcome SettlePendingPlan(PinnedTree& tree);

// Carries out `plan` in the data folder, the tree's home, made just now by a planner that
// checked every entry's places (no entry started, no link on the way):
// writes the journal, sets aside and moves entry by entry, and on a failure undoes what moved. Finished when
// the whole plan arrived; Undone when the data folder is as it was (also
// when nothing could start); Blocked when even the undo stopped short and
// the journal stays for the next start.
[[nodiscard]] PendingState CarryOutPlan(PinnedTree& tree, const Plan& plan);
