#pragma once
// Installing an update the game staged in the data folder's staging folder.

#include <string>

// The update pass of one run-loop cycle: finishes or undoes an update a
// stopped launcher left halfway; otherwise installs the staged update when
// its marker `markerName` is there. Then the staging folder goes to the
// Recycle Bin, unless an undo could not finish (it is then needed at the
// next start).
void RunUpdatePass(const std::string& dataFolder, const std::string& markerName);
