#pragma once
// The launcher's rules a planned update is held against. Each check adds its
// findings to the plan.

#include <string>
#include <vector>

#include "packer/plan.h"
#include "packer/release.h"

namespace packer {

// Names Windows or the launcher would not take as they are: forbidden names,
// the launcher's temporary suffix, a top-level "game", names equal but for
// letter case; upper-case ".ZIP" is only noted.
void CheckReleaseNames(const std::vector<ReleaseEntry>& entries, std::vector<Finding>& findings);

// game.dll, the version increase and the game.xml settings the update must
// keep (the marker name is read from the installed game.xml).
void CheckReleaseSettings(const std::string& previousRoot, const std::string& newRoot, Plan& plan);

// Chooses how each file is staged so that no packed file unpacks onto another
// staged entry, whatever order the launcher unpacks them in.
void ChoosePacking(Plan& plan);

// Working-folder mode installs into the players' install folder, whose depth
// the packer cannot know: it assumes one of this many characters, e.g.
// C:\Program Files (x86)\Steam\steamapps\common\ and a game folder of 53.
constexpr std::size_t kAssumedInstallFolderLength = 100;

// A folder players' machines install a release's files into, as far as its
// length goes.
struct PlayerFolder {
  std::string where;   // for messages
  std::size_t length;  // of its path, in bytes
};

// From the release's game.xml settings: the data folder on every Windows
// layout the launcher supports (Vista and later, and the longer one of 2000
// and XP), or, in working-folder mode, the assumed install folder.
std::vector<PlayerFolder> PlayerFolders(const std::string& useAppDataFolder, const std::string& company,
                                        const std::string& product, const std::string& lang);

// The deepest of PlayerFolders for the game.xml of the release in `root`.
PlayerFolder DeepestPlayerFolder(const std::string& root);

// Refuses (with `allowLongPaths` only warns of) every file whose path, with
// the launcher's temporary names, would not fit below one of them.
void CheckPathLengths(const std::string& newRoot, bool allowLongPaths, Plan& plan);

}  // namespace packer
