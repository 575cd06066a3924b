#pragma once
// Installing an update the game staged in the data folder's staging folder.

#include <string>

class PinnedTree;

// What became of the staged update in one update pass, for the game: it
// reads this from the environment variable RUNGAME_UPDATE_STATUS, as
// "none", "installed", "refused: <why>", "blocked: <entry>" or, when the data
// folder's modules are not as the studio signed them and the game runs from
// the install folder, "damaged: <file>" (include/rungame_update.h reads it
// for a game).
struct UpdateReport {
  enum Outcome { None, Installed, Refused, Blocked, Damaged };
  Outcome outcome = None;
  std::string detail;  // why it was refused; the entry that blocks it; the damaged file

  std::string Text() const;
};

// The update pass of one run-loop cycle in the data folder, the tree's home:
// finishes or undoes an update a
// stopped launcher left halfway; otherwise installs the staged update when
// its marker `markerName` is there. Then the staging folder goes to the
// Recycle Bin, unless an undo could not finish (it is then needed at the
// next start).
[[nodiscard]] UpdateReport RunUpdatePass(PinnedTree& tree, const std::string& markerName);

// The same with the given key (64 hex digits; "" for none) in place of the
// one the launcher was built with; for tests.
[[nodiscard]] UpdateReport RunUpdatePassWithKey(const std::string& publicKeyHex, PinnedTree& tree,
                                                const std::string& markerName);

// Tells the game started next what became of the staged update.
void PublishUpdateReport(const UpdateReport& report);
