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

// The longest path the launcher makes of each staged entry (the unpacking's
// temporary file) against the path limit, under typical data folders. A file
// whose packed form would not fit is shipped plain where it can be.
void CheckPathLengths(const std::string& newRoot, Plan& plan);

// The data folders to measure paths against: the first is the one of current
// Windows (too long there: refused), the rest older ones (only warned).
std::vector<std::string> TypicalDataFolders(const std::string& company, const std::string& product,
                                            const std::string& lang);

}  // namespace packer
