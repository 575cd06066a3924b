#pragma once
// The copy of the installation into the data folder: one walk of the
// installation makes the plan that every check, the copy itself and its
// journal follow.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fs/while_busy.h"

class PinnedTree;

struct CopyItem {
  std::string relative;
  bool isFolder = false;
  unsigned long long size = 0;
};

// What the copy takes from the installation, folders before what they hold,
// the version file last: everything but the launcher's own executable and
// the top-level staging folder "game".
struct CopyPlan {
  std::vector<CopyItem> items;
};

// Walks the installation once. Nothing when it cannot be walked whole or
// holds a link (the copy would carry in whatever the link points to).
[[nodiscard]] std::optional<CopyPlan> PlanInstallCopy(const std::string& installFolder);

enum class CopyCheck {
  Ready,
  Unusable,  // a path that does not fit, a link or a file with a second name
             // in the way, a file where a folder is, a launcher's own name
  Blocked,   // not enough free space, or a file to be replaced in use
};

// Whether the planned copy can arrive whole in the data folder, the tree's
// home, checked before anything is written.
[[nodiscard]] CopyCheck CheckInstallCopy(PinnedTree& tree, const CopyPlan& plan);

// Removes what a copy stopped before its journal, or a settled one, left in
// its private staging folder: needed only while its plan is pending.
void RemoveCopyLeftovers(PinnedTree& tree);

// Copies the planned installation into new files of a private staging
// folder of the data folder, the tree's home, then moves them into place entry by entry through
// the update journal, the version file last, so the data folder is at every
// moment the old version or, after a stop, becomes one again or the new one.
enum class CopyOutcome {
  Copied,    // the whole installation arrived
  Deferred,  // a file of the installation could not be read now (another
             // program holds it): nothing moved, the data folder is as it was
  Failed,    // the data folder is as it was, or keeps a journal for the next start
};
// `whileBusy` is called between files and within a large one.
[[nodiscard]] CopyOutcome CopyInstallToDataFolder(PinnedTree& tree, const CopyPlan& plan,
                                                  const std::string& installFolder, const WhileBusy& whileBusy = {});

// The files a whole copy of `plan` put in `dataFolder` (a name of the tree
// that opens them up), by their folded names: each made open to everyone
// and writable.
[[nodiscard]] std::set<std::string> CopiedFiles(const CopyPlan& plan, const std::string& dataFolder);
